#include "SlidePage.h"

#include "MainThread.h"

#include <QColor>
#include <QCoreApplication>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineScript>
#include <QWebEngineSettings>

namespace {

// Console messages that carry this prefix come from ProbePainted's script.
const QString PaintedPrefix = QStringLiteral("vitrelle-painted:");

// The question the engine asks through javaScriptConfirm before it leaves a document that wants to stay,
// translated as the engine translates it.
QString LeaveQuestion()
{
    return QCoreApplication::translate(
        "QWebEnginePage",
        "Are you sure you want to leave this page? Changes that you made may not be saved.");
}

} // namespace

TSlidePage::TSlidePage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent)
{
    VC_ASSERT_MAIN_THREAD();
    // Black underneath, so that nothing flashes white before a document paints.
    setBackgroundColor(Qt::black);
    // A failed load leaves the view as it was instead of showing the engine's error page.
    settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    // window.open from a script gives null; one after a click reaches createWindow, which gives nothing.
    settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    // A page that is not in front is still painted, so that it is on screen the moment it is raised.
    setLifecycleState(LifecycleState::Active);

    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, Feature feature) {
                setFeaturePermission(origin, feature, PermissionDeniedByUser);
            });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
            [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
}

void TSlidePage::LoadSlide(const QUrl& url)
{
    VC_ASSERT_MAIN_THREAD();
    triggerAction(Stop);
    load(url);
}

void TSlidePage::ProbePainted(const QString& token)
{
    // A requestAnimationFrame callback runs before the document's next frame is produced; in the callback of
    // the second, the frame with the loaded document has gone to the compositor, and in that of the third it
    // has had a whole frame's time to reach the view. Measured against the view's pixels at the moment of the
    // report: one round trip shows the page before in about a fifth of the reports, two in a few of a hundred
    // when the page is new to its view, three in none.
    runJavaScript(QStringLiteral("requestAnimationFrame(function () {"
                                 "  requestAnimationFrame(function () {"
                                 "    requestAnimationFrame(function () { console.log('%1'); });"
                                 "  });"
                                 "});")
                      .arg(PaintedPrefix + token),
                  QWebEngineScript::ApplicationWorld);
}

bool TSlidePage::acceptNavigationRequest(const QUrl&, NavigationType type, bool isMainFrame)
{
    if (!isMainFrame)
        return true;
    // load() is the only source of typed navigations; a server's redirect continues one that was accepted.
    return type == NavigationTypeTyped || type == NavigationTypeRedirect;
}

QWebEnginePage* TSlidePage::createWindow(WebWindowType)
{
    return nullptr;
}

QStringList TSlidePage::chooseFiles(FileSelectionMode, const QStringList&, const QStringList&)
{
    return {};
}

void TSlidePage::javaScriptAlert(const QUrl&, const QString&) {}

bool TSlidePage::javaScriptConfirm(const QUrl&, const QString& msg)
{
    // A document with a beforeunload handler that has seen a key press makes the engine ask whether to leave
    // it, through confirm with the engine's own question. The program's next slide must win: "leave". Any
    // other confirm() of a slide answers false.
    return msg == LeaveQuestion();
}

bool TSlidePage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*)
{
    return false;
}

void TSlidePage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                          const QString&)
{
    if (OnPainted && message.startsWith(PaintedPrefix))
        OnPainted(message.mid(PaintedPrefix.size()));
}
