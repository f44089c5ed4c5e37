#include "SystemPlatform.h"

#include "Log.h"
#include "LogindSleepInhibitor.h"
#include "MessageBox.h"
#include "QtSerialLine.h"
#include "SessionInfo.h"
#include "SystemDisplaySystem.h"
#include "SystemScreenSaver.h"
#include "WebSlideView.h"
#include "XmlDocument.h"

#include <unistd.h>

namespace {

// The slide views on the web engine. Made on first use, so that the line about the sandbox is logged once
// the log exists.
class TSystemSlideViews : public ISlideViewFactory
{
public:
    std::unique_ptr<ISlideView> CreateView(QWidget* parent) const override
    {
        if (!FViews) {
            if (::geteuid() == 0)
                WriteLog(
                    LogSource, 2,
                    QStringLiteral("Running as root: the web engine runs its pages without its sandbox"));
            FViews = std::make_unique<TWebSlideViewFactory>();
        }
        return FViews->CreateView(parent);
    }

private:
    static constexpr QLatin1StringView LogSource{"VitrelleCenter"};
    mutable std::unique_ptr<TWebSlideViewFactory> FViews;
};

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

TAgentPlatform SystemPlatform(std::function<void()> mainThreadWaiting)
{
    TAgentPlatform platform;
    platform.Session = std::make_shared<TSystemSessionProbe>();
    platform.Errors = std::make_shared<TMessageBoxErrorPresenter>();
    platform.Clock = std::make_shared<TSystemClock>();
    platform.SleepInhibitor = std::make_shared<TLogindSleepInhibitor>();
    platform.Network = std::make_shared<TSystemNetworkStatus>();
    // The session's: X11, or the toolkit's screens; chosen on first use, once the log exists.
    platform.Display = CreateSystemDisplaySystem();
    platform.SerialPorts = std::make_shared<TQtSerialPortFactory>(mainThreadWaiting);
    platform.ScreenSaver = CreateSystemScreenSaver(); // the X server's, or none
    platform.SlideViews = std::make_shared<TSystemSlideViews>();
    THttpOptions http{THttpTimeouts{}, platform.Clock};
    platform.Downloaders = std::make_shared<THttpDownloaderFactory>(std::move(http));
    return platform;
}
