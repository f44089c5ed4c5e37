// A display's settings file: loaded, saved and loaded again, which must give the same settings and the same
// identity of the display it was written for.
#include "FuzzIdentity.h"
#include "FuzzSupport.h"

#include "Errors.h"
#include "VitrelleDeviceSettings.h"

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
        FUZZ_CHECK(reloaded == settings, QStringLiteral("the saved device settings load different"));
        FUZZ_CHECK(FuzzSameIdentity(reloaded.DeviceInfo(), settings.DeviceInfo()),
                   QStringLiteral("the saved display identity loads different"));
    }
    FuzzResetGlobalState();
    return 0;
}
