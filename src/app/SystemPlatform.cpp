#include "SystemPlatform.h"

#include "LogindSleepInhibitor.h"
#include "MessageBox.h"
#include "SessionInfo.h"
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
    platform.Downloaders =
        std::make_shared<THttpDownloaderFactory>(THttpOptions{THttpTimeouts{}, platform.Clock});
    return platform;
}
