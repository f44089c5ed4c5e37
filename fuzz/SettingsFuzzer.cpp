// The application settings file: loaded, its effective paths computed, saved and loaded again, which must
// give the same settings (an operator's Save must not change what the file says).
#include "FuzzSupport.h"

#include "Errors.h"
#include "VitrelleCenterSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInitialize();
    const QString path =
        FuzzWriteFile(QStringLiteral("VitrelleCenter.xml"),
                      QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    TVitrelleCenterSettings settings(FuzzFolder());
    if (settings.LoadFromFile(path)) {
        const auto copy = settings.Clone();
        FUZZ_CHECK(copy->Equals(&settings), QStringLiteral("a clone differs from its original"));
        const QString saved = FuzzFolder() + QStringLiteral("/Saved.xml");
        settings.SaveToFile(saved);
        TVitrelleCenterSettings reloaded(FuzzFolder());
        FUZZ_CHECK(reloaded.LoadFromFile(saved), QStringLiteral("the saved settings do not load"));
        FUZZ_CHECK(reloaded.Equals(&settings), QStringLiteral("the saved settings load different"));
        // The effective locations only compute paths; nothing is created.
        (void)settings.GetScheduleFileName();
        (void)settings.GetVitrelleListFilePath();
        (void)settings.GetTypeFilePath();
        settings.ExpandPaths();
    }
    FuzzResetGlobalState();
    return 0;
}
