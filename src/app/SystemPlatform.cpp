#include "SystemPlatform.h"

#include "LogindSleepInhibitor.h"
#include "MessageBox.h"
#include "QtSerialLine.h"
#include "SessionInfo.h"
#include "SystemDisplaySystem.h"
#include "SystemScreenSaver.h"
#include "XmlDocument.h"

namespace {

class TSystemSessionProbe : public ISessionProbe
{
public:
    bool XmlLibraryAvailable() const override { return ::XmlLibraryAvailable(); }
    bool IsRemoteDesktop() const override
    {
        return IsRemoteSession(QProcessEnvironment::systemEnvironment());
    }
};

} // namespace

TAgentPlatform SystemPlatform()
{
    TAgentPlatform platform;
    platform.Session = std::make_shared<TSystemSessionProbe>();
    platform.Errors = std::make_shared<TMessageBoxErrorPresenter>();
    platform.Clock = std::make_shared<TSystemClock>();
    platform.SleepInhibitor = std::make_shared<TLogindSleepInhibitor>();
    platform.Network = std::make_shared<TSystemNetworkStatus>();
    // The session's: X11, or the toolkit's screens; chosen on first use, once the log exists.
    platform.Display = CreateSystemDisplaySystem();
    platform.SerialPorts = std::make_shared<TQtSerialPortFactory>();
    platform.ScreenSaver = CreateSystemScreenSaver(); // the X server's, or none
    platform.Downloaders =
        std::make_shared<THttpDownloaderFactory>(THttpOptions{THttpTimeouts{}, platform.Clock});
    return platform;
}
