// An EDID block as a display reports it: decoded into the display's identity, which is then stored in a
// display settings file and read back; the identity must come back as it was decoded.
#include "FuzzIdentity.h"
#include "FuzzSupport.h"

#include "Edid.h"
#include "VitrelleDeviceInfo.h"
#include "XmlDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInitialize();
    const QByteArray edid(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArray buffer = EDIDBuffer(edid);
    FUZZ_CHECK(buffer.size() == EDIDSize, QStringLiteral("the EDID buffer has the wrong size"));
    const QString vesaId = VesaIdFromEDID(edid);
    FUZZ_CHECK(EDIDToHex(edid).size() == EDIDSize * 16,
               QStringLiteral("the EDID hex text has the wrong size"));

    TVitrelleDeviceInfo info;
    info.ParseEDID(buffer);
    info.SetVesaID(vesaId);
    info.SetPnpID(QStringLiteral("HDMI-1"));
    TXmlDocument document;
    const TXmlNode root = document.CreateDocumentElement(QStringLiteral("VitrelleDevice"));
    info.SaveToXML(&document, root);
    TXmlDocument stored;
    FUZZ_CHECK(stored.LoadFromBytes(document.SaveToBytes()),
               QStringLiteral("the stored identity does not parse: %1").arg(stored.ParseError().Reason));
    TVitrelleDeviceInfo reloaded;
    reloaded.LoadFromXML(stored.DocumentElement());
    FUZZ_CHECK(FuzzSameIdentity(reloaded, info),
               QStringLiteral("the stored identity (model '%1', serial '%2') reads back as "
                              "model '%3', serial '%4' (manufacturer '%5', '%6')")
                   .arg(info.Model(), info.GetSerial(), reloaded.Model(), reloaded.GetSerial(),
                        info.GetManufacturer(), reloaded.GetManufacturer()));
    FuzzResetGlobalState();
    return 0;
}
