#include "VitrelleDeviceInfo.h"

#include "DisplaySystem.h"
#include "Edid.h"
#include "Log.h"
#include "LogErrors.h"
#include "MonitorIds.h"
#include "XmlHelpers.h"

namespace {
const QString DeviceInfoElement = QStringLiteral("DeviceInfo");
const QString ModelElement = QStringLiteral("Model");
const QString ManufacturerElement = QStringLiteral("Manufacturer");
const QString SerialElement = QStringLiteral("Serial");
const QString VesaIDElement = QStringLiteral("VesaID");
const QString PnpIDElement = QStringLiteral("PnpID");

const QByteArray ModelTag("\x00\x00\x00\xFC", 4);
const QByteArray SerialTag("\x00\x00\x00\xFF", 4);

QString ChildPath(const QString& name)
{
    return DeviceInfoElement + QLatin1Char('/') + name;
}

// The identity is stored in the display's settings file and compared with the display's at every start, so
// it keeps only what that file can hold: XML has no NUL and no control characters but tab, line feed and
// carriage return.
QString StorableText(QString text)
{
    text.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 && u != 0x9 && u != 0xA && u != 0xD;
    });
    return text;
}
} // namespace

TVitrelleDeviceInfo TVitrelleDeviceInfo::WithModelNamed() const
{
    TVitrelleDeviceInfo named = *this;
    named.FModel = GetModel();
    return named;
}

int TVitrelleDeviceInfo::MatchScore(const TVitrelleDeviceInfo& other) const
{
    int score = 0;
    if (!FModel.isEmpty() && SameTextAscii(FModel, other.GetModel()))
        ++score;
    if (!FManufacturer.isEmpty() && SameTextAscii(FManufacturer, other.FManufacturer))
        ++score;
    if (!FSerial.isEmpty() && FSerial == other.FSerial)
        ++score;
    if (!FVesaID.isEmpty() && FVesaID == other.FVesaID)
        ++score;
    if (!FPnpID.isEmpty() && FPnpID == other.FPnpID)
        ++score;
    return score;
}

QString TVitrelleDeviceInfo::GetModel() const
{
    return FModel.isEmpty() ? QString(GenericModel) : FModel;
}

bool TVitrelleDeviceInfo::LoadFromXML(TXmlNode parent)
{
    if (parent.IsNull())
        return false;
    FModel = GetNodeValue(parent, ChildPath(ModelElement), QString());
    FManufacturer = GetNodeValue(parent, ChildPath(ManufacturerElement), QString());
    FSerial = GetNodeValue(parent, ChildPath(SerialElement), QString());
    FVesaID = GetNodeValue(parent, ChildPath(VesaIDElement), QString());
    FPnpID = GetNodeValue(parent, ChildPath(PnpIDElement), QString());
    return true;
}

bool TVitrelleDeviceInfo::SaveToXML(TXmlDocument* document, TXmlNode parent) const
{
    if (document == nullptr || parent.IsNull())
        return false;
    const TXmlNode element = document->AppendElement(parent, DeviceInfoElement);
    AddNodeValue(document, element, ModelElement, FModel);
    AddNodeValue(document, element, ManufacturerElement, FManufacturer);
    AddNodeValue(document, element, SerialElement, FSerial);
    AddNodeValue(document, element, VesaIDElement, FVesaID);
    AddNodeValue(document, element, PnpIDElement, FPnpID);
    return true;
}

void TVitrelleDeviceInfo::ParseEDID(const QByteArray& edid)
{
    FManufacturer = EDIDManufacturer(edid);
    FModel = StorableText(EDIDDescriptorText(edid, ModelTag));
    FSerial = StorableText(EDIDDescriptorText(edid, SerialTag));
}

bool TVitrelleDeviceInfo::IsAdapterActive(const IDisplaySystem& system, const QString& adapterName)
{
    for (const TDisplayAdapter& adapter : system.Adapters()) {
        if (adapter.DeviceName != adapterName)
            continue;
        WriteLog(
            LogSource, 3,
            QStringLiteral("Device '%1' flags: %2").arg(adapterName, QString::number(adapter.StateFlags())));
        return adapter.AttachedToDesktop && !adapter.MirroringDriver;
    }
    return false;
}

bool TVitrelleDeviceInfo::ReadFromSystem(const IDisplaySystem& system, const QString& adapterName)
{
    FVesaID.clear();
    FPnpID.clear();
    if (adapterName.isEmpty())
        return false;

    const QStringList ids = ListMonitorIds(system, adapterName);
    WriteLog(LogSource, 3, QStringLiteral("Device %1, ID(s): %2").arg(adapterName, CommaText(ids)));

    QByteArray edid = EDIDBuffer({});
    bool identified = false;
    for (const QString& id : ids) {
        const std::optional<TMonitorIdParts> parts = SplitMonitorId(id);
        if (!parts)
            continue;
        // One monitor whose entries cannot be read must not cost the display its identity, nor the start-up.
        LogErrors(LogSource, [&] {
            const QString pnpId = FindInstanceByDriver(system, parts->VesaID, parts->DriverKey);
            if (!IsPresentMonitor(system, parts->VesaID, pnpId))
                return;
            FVesaID = parts->VesaID;
            FPnpID = pnpId;
            edid = ReadEDID(system, FVesaID, FPnpID);
            ParseEDID(edid);
            identified = true;
        });
    }

    const bool complete = !FVesaID.isEmpty() && !FPnpID.isEmpty();
    WriteLog(LogSource, complete ? 3 : 2,
             QStringLiteral("Device %1 (VesaID=%2, PnpID=%3), EDID=%4")
                 .arg(adapterName, FVesaID, FPnpID, EDIDToHex(edid)));
    return identified;
}
