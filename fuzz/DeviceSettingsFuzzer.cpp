// A display's settings file: loaded, saved and loaded again, which must give the same settings and the same
// identity of the display it was written for.
#include "FuzzSupport.h"

#include "Errors.h"
#include "VitrelleDeviceSettings.h"

namespace {

// The stored fields themselves: Equals reads the other side through GetModel, which stands in a generic text
// for an empty model, so an identity without a model never equals its own copy.
bool SameIdentity(const TVitrelleDeviceInfo& a, const TVitrelleDeviceInfo& b)
{
    return a.Model() == b.Model() && a.GetManufacturer() == b.GetManufacturer() &&
           a.GetSerial() == b.GetSerial() && a.GetVesaID() == b.GetVesaID() && a.GetPnpID() == b.GetPnpID();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInitialize();
    const QString path =
        FuzzWriteFile(QStringLiteral("Devices/Display.xml"),
                      QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    TVitrelleDeviceSettings settings;
    if (settings.LoadFromFile(path)) {
        (void)settings.GetFileName();
        const QString saved = FuzzFolder() + QStringLiteral("/Devices/Saved.xml");
        settings.SaveToFile(saved);
        TVitrelleDeviceSettings reloaded;
        FUZZ_CHECK(reloaded.LoadFromFile(saved), QStringLiteral("the saved device settings do not load"));
        reloaded.FileName = settings.FileName;
        FUZZ_CHECK(reloaded.Equals(&settings), QStringLiteral("the saved device settings load different"));
        FUZZ_CHECK(SameIdentity(reloaded.DeviceInfo(), settings.DeviceInfo()),
                   QStringLiteral("the saved display identity loads different"));
    }
    FuzzResetGlobalState();
    return 0;
}
