#include "SystemPlatform.h"

#include "LogindSleepInhibitor.h"
#include "MessageBox.h"
#include "QtSerialLine.h"
#include "SessionInfo.h"
#include "SystemDisplaySystem.h"
#include "SystemScreenSaver.h"
#include "XmlDocument.h"

#include <QTimer>
#include <QWidget>

namespace {

// TEMPORARY, replaced by the web view: a black view that shows no page, so that the program starts and its
// players run their clocks until the real slide views are in.
class TPlaceholderSlideView : public QWidget, public ISlideView
{
public:
    explicit TPlaceholderSlideView(QWidget* parent) : QWidget(parent)
    {
        setStyleSheet(QStringLiteral("background: black"));
        setAttribute(Qt::WA_StyledBackground);
    }
    QWidget& Widget() override { return *this; }
    void Navigate(const QUrl&) override
    {
        const int navigation = ++FNavigations;
        QTimer::singleShot(0, this, [this, navigation] {
            if (navigation == FNavigations && OnReady)
                OnReady();
        });
    }

private:
    int FNavigations = 0;
};
class TPlaceholderSlideViewFactory : public ISlideViewFactory
{
public:
    std::unique_ptr<ISlideView> CreateView(QWidget* parent) const override
    {
        return std::make_unique<TPlaceholderSlideView>(parent);
    }
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
    platform.SlideViews = std::make_shared<TPlaceholderSlideViewFactory>(); // TEMPORARY: the web view's
    platform.Downloaders =
        std::make_shared<THttpDownloaderFactory>(THttpOptions{THttpTimeouts{}, platform.Clock});
    return platform;
}
