#include "WebSlideView.h"

#include "Log.h"
#include "MainThread.h"
#include "SlidePage.h"
#include "SlideScheme.h"
#include "WBContainer.h"

#include <QChildEvent>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QQuickWidget>
#include <QQuickWindow>
#include <QUuid>
#include <QWebEngineCookieStore>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

QString StatusText(QWebEnginePage::RenderProcessTerminationStatus status)
{
    switch (status) {
    case QWebEnginePage::NormalTerminationStatus:
        return QStringLiteral("ended");
    case QWebEnginePage::AbnormalTerminationStatus:
        return QStringLiteral("failed");
    case QWebEnginePage::CrashedTerminationStatus:
        return QStringLiteral("crashed");
    case QWebEnginePage::KilledTerminationStatus:
        return QStringLiteral("was killed");
    }
    return QStringLiteral("ended");
}

// The resident memory of a process, in bytes; -1 when it cannot be read (the process is gone).
qint64 ResidentBytes(qint64 pid)
{
    if (pid <= 0)
        return -1;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}

// The engine takes schemes and its own switches only before it starts, which is before any application
// object exists: every program with web views sets them while its statics are made, before any thread of its
// own reads the environment. WebRTC gets no UDP of its own, so no STUN or TURN request leaves from any frame,
// not even one the page's document script never reaches.
[[maybe_unused]] const bool EngineConfigured = [] {
    TSlideScheme::Register();
    const QByteArray noUdp = "--force-webrtc-ip-handling-policy=disable_non_proxied_udp";
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains(noUdp))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.isEmpty() ? noUdp : flags + ' ' + noUdp);
    return true;
}();

QString NextHost()
{
    static quint64 views = 0;
    return QStringLiteral("view%1").arg(++views);
}

} // namespace

TWebSlideView::TWebSlideView(QWebEngineProfile& profile, TSlideSchemeHandler& files, QWidget* parent)
    : FProfile(profile), FFiles(files), FSchemeHost(NextHost())
{
    VC_ASSERT_MAIN_THREAD();
    FView = new QWebEngineView(parent);
    QPalette palette = FView->palette();
    palette.setColor(QPalette::Window, Qt::black);
    FView->setPalette(palette);
    FView->setAutoFillBackground(true);
    FView->setCursor(Qt::BlankCursor);
    // The render widgets come and go with pages and renderers; each gets the blank cursor.
    FView->installEventFilter(this);
    SetPage(NewPage());

    FHost = std::make_unique<TWBContainer>(FView.data());
    FHost->SetUseCustomCtxMenu(true);
    FHost->SetShowScrollBars(false);
    FHost->OnKeyDown = [this](int key) {
        if (OnKeyDown)
            OnKeyDown(key);
    };
    FHost->OnContextMenu = [this](const QPoint& globalPos) {
        if (OnContextMenu)
            OnContextMenu(globalPos);
    };
    FProbeTimer.setInterval(ProbeEveryMs);
    connect(&FProbeTimer, &QTimer::timeout, this, &TWebSlideView::Probe);
    FProbeTimer.start();
}

TWebSlideView::~TWebSlideView()
{
    FProbeTimer.stop();
    FFiles.Forget(this);
    // The host lets go of the view, the view of the page, then the page goes.
    FHost.reset();
    if (FView) {
        FView->removeEventFilter(this);
        delete FView.data();
    }
    FPage.reset();
    // Pages go before the profile, which the factory may free right after its views.
    for (const QPointer<TSlidePage>& page : std::as_const(FRetired))
        delete page.data();
}

QWidget& TWebSlideView::Widget()
{
    return *FView;
}

std::unique_ptr<TSlidePage> TWebSlideView::NewPage() const
{
    return std::make_unique<TSlidePage>(&FProfile, TSlideScheme::OriginOf(FSchemeHost));
}

void TWebSlideView::SetPage(std::unique_ptr<TSlidePage> page)
{
    connect(page.get(), &QWebEnginePage::loadFinished, this, &TWebSlideView::LoadFinished);
    connect(page.get(), &QWebEnginePage::renderProcessTerminated, this, &TWebSlideView::RendererEnded);
    page->OnPainted = [this](const QString& token, qint64 untilEndMs) { Painted(token, untilEndMs); };
    page->OnVideosPending = [this](const QString& token, const QStringList& videos) {
        if (!FToken.isEmpty() && token == FToken)
            FVideosPending = videos;
    };
    // Until its probe runs, what the document itself says of its videos.
    page->OnVideosLoading = [this](const QUrl& url, const QStringList& videos) {
        if (FPending && FToken.isEmpty() && url == FTarget)
            FVideosPending = videos;
    };
    page->OnVideoFailed = [this](const QString& token, const QString& video, const QString& error) {
        VideoFailed(token, video, error);
    };
    page->OnFlood = [this] {
        Replace(QStringLiteral("its page sends the program more than %1 events a second (title, icon, "
                               "console messages)")
                    .arg(TSlidePage::FloodEventsPerSecond));
    };
    FView->setPage(page.get());
    if (FPage) {
        // The old page may be the one whose signal led here: it goes once the event loop is back.
        FPage->triggerAction(QWebEnginePage::Stop);
        disconnect(FPage.get(), nullptr, this, nullptr);
        FPage->OnPainted = nullptr;
        FPage->OnVideosPending = nullptr;
        FPage->OnVideosLoading = nullptr;
        FPage->OnVideoFailed = nullptr;
        FPage->OnFlood = nullptr;
        FRetired.removeAll(nullptr);
        FRetired.append(FPage.get());
        FPage.release()->deleteLater();
    }
    FPage = std::move(page);
    if (FHost)
        FHost->UpdateHostInfo();
}

void TWebSlideView::Navigate(const QUrl& url)
{
    VC_ASSERT_MAIN_THREAD();
    // A page whose last navigation never painted may be held by a renderer that never gets out of a script
    // loop, and a renderer that ended leaves nothing to load into: either way the slide starts on a new page,
    // which also leaves nothing of the earlier load that could still report.
    // A page that stopped answering after its slide painted would take the next slide into its busy
    // renderer and never show it.
    if (FPending && !FVideosPending.isEmpty()) {
        QStringList names;
        for (const QString& video : std::as_const(FVideosPending))
            names << VideoName(video);
        WriteLog(LogSource, 2,
                 QStringLiteral("%1: the video %2 had not shown its first frame when the next slide came; "
                                "the slide is skipped")
                     .arg(SlideName(), names.join(QStringLiteral(", "))));
    }
    FVideosPending.clear();
    FUntilEndMs = -1;
    const bool hung = !FRendererGone && !FPending && Hung();
    if (hung)
        WriteLog(LogSource, 2,
                 QStringLiteral("%1: its page has not answered for more than %2 ms (a script that does not "
                                "end); the next slide starts on a new page")
                     .arg(SlideName(), QString::number(HangAfterMs)));
    if (FRendererGone || FPending || hung) {
        FRendererGone = false;
        SetPage(NewPage());
    }
    FProbing = false;
    ++FProbeSerial;
    FSlideName = FAccess.Name;
    QUrl target = url;
    QStringList folders = FAccess.Folders;
    if (url.isLocalFile()) {
        target = TSlideScheme::UrlOf(url.toLocalFile(), FSchemeHost);
        folders << QFileInfo(url.toLocalFile()).absolutePath();
    }
    FFiles.SetFolders(this, folders);
    FPage->Guard().SetSlide(FAccess.Name, FAccess.Origins);
    FPage->setAudioMuted(!FAccess.Sound);
    FUrl = url;
    FTarget = target;
    ++FNavigation;
    FPending = true;
    FAwaitingLoad = true;
    FToken.clear();
    FPage->LoadSlide(target);
}

void TWebSlideView::SetAccess(const TSlideAccess& access)
{
    VC_ASSERT_MAIN_THREAD();
    FAccess = access;
}

QString TWebSlideView::SlideName() const
{
    return FSlideName.isEmpty() ? QStringLiteral("The slide %1").arg(FUrl.toDisplayString()) : FSlideName;
}

bool TWebSlideView::Hung() const
{
    return FProbing && FProbeSent.isValid() && FProbeSent.elapsed() > HangAfterMs;
}

void TWebSlideView::Probe()
{
    if (!FPage || FRendererGone)
        return;
    const qint64 resident = ResidentBytes(FPage->renderProcessPid());
    if (resident > MaxRendererBytes) {
        Replace(QStringLiteral("its renderer uses %1 MiB, more than %2 MiB")
                    .arg(QString::number(resident / (1024 * 1024)),
                         QString::number(MaxRendererBytes / (1024 * 1024))));
        return;
    }
    // A document that is still on its way may never answer: only a painted slide is asked.
    if (FPending || FProbing)
        return;
    FProbing = true;
    FProbeSent.start();
    FPage->runJavaScript(QStringLiteral("0"), QWebEngineScript::ApplicationWorld,
                         [view = QPointer<TWebSlideView>(this), serial = FProbeSerial](const QVariant&) {
                             if (view && serial == view->FProbeSerial)
                                 view->FProbing = false;
                         });
}

void TWebSlideView::Replace(const QString& reason)
{
    WriteLog(LogSource, 2,
             QStringLiteral("%1: %2; its page is replaced by a new one and the slide is skipped")
                 .arg(SlideName(), reason));
    SetPage(NewPage());
    FRendererGone = false;
    FPending = false;
    FAwaitingLoad = false;
    FToken.clear();
    FVideosPending.clear();
    FProbing = false;
    ++FProbeSerial;
    ++FNavigation;
}

void TWebSlideView::LoadFinished(bool ok)
{
    if (!FAwaitingLoad)
        return;
    // A failed load may be the slide's own refused navigation: the probe asks whichever document is there.
    if (ok)
        FAwaitingLoad = false;
    FToken = QUuid::createUuid().toString(QUuid::Id128);
    FPage->ProbePainted(FToken, FTarget);
}

void TWebSlideView::Start()
{
    VC_ASSERT_MAIN_THREAD();
    if (FPage && !FPending)
        FPage->StartVideos();
}

QString TWebSlideView::VideoName(const QString& url)
{
    const QUrl parsed(url);
    if (parsed.scheme() == TSlideScheme::Name)
        return parsed.path(QUrl::FullyDecoded);
    return parsed.toDisplayString();
}

void TWebSlideView::VideoFailed(const QString& token, const QString& video, const QString& error)
{
    if (FToken.isEmpty() || token != FToken)
        return;
    // The slide stays pending: it is never reported ready, and the next slide starts on a new page.
    FToken.clear();
    FVideosPending.clear();
    WriteLog(LogSource, 2,
             QStringLiteral("%1: the video %2 cannot be played: %3; the slide is skipped")
                 .arg(SlideName(), VideoName(video), error));
}

void TWebSlideView::Painted(const QString& token, qint64 untilEndMs)
{
    if (FToken.isEmpty() || token != FToken)
        return;
    FToken.clear();
    FPending = false;
    FVideosPending.clear();
    FUntilEndMs = untilEndMs;
    const auto report = [this, navigation = FNavigation] {
        if (navigation == FNavigation && OnReady)
            OnReady();
    };
    // The engine has the page's frame by now (it came before the page's answer); the view shows it once its
    // render widget has drawn again, which a busy machine can put off for a few frames.
    auto* renderWidget = qobject_cast<QQuickWidget*>(FView->focusProxy());
    if (renderWidget == nullptr) {
        QMetaObject::invokeMethod(this, report, Qt::QueuedConnection);
        return;
    }
    QQuickWindow* window = renderWidget->quickWindow();
    auto drawn = std::make_shared<QMetaObject::Connection>();
    *drawn = connect(
        window, &QQuickWindow::afterRendering, this,
        [drawn, report] {
            disconnect(*drawn);
            report();
        },
        Qt::QueuedConnection);
    window->update();
}

void TWebSlideView::RendererEnded(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode)
{
    WriteLog(LogSource, 1,
             QStringLiteral(
                 "The renderer of the slide %1 %2 (exit code %3); the view starts again with a new page")
                 .arg(FUrl.toDisplayString(), StatusText(status), QString::number(exitCode)));
    FRendererGone = true;
    FAwaitingLoad = false;
    FToken.clear();
    FVideosPending.clear();
}

bool TWebSlideView::eventFilter(QObject* watched, QEvent* event)
{
    // A child is polished just before it first shows.
    if (watched != FView.data() || event->type() != QEvent::ChildPolished)
        return false;
    QObject* child = static_cast<QChildEvent*>(event)->child();
    if (!child->isWidgetType())
        return false;
    static_cast<QWidget*>(child)->setCursor(Qt::BlankCursor);
    // The view opens a few dialogs of its own, which no page setting reaches (the chooser of a colour input,
    // the question of a site that asks for an authorisation): they never come on screen and are answered no.
    if (auto* dialog = qobject_cast<QDialog*>(child)) {
        dialog->setAttribute(Qt::WA_DontShowOnScreen);
        QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
    }
    return false;
}

TWebSlideViewFactory::TWebSlideViewFactory()
{
    VC_ASSERT_MAIN_THREAD();
    // A profile without a storage name is off the record: cache, cookies and storage live in memory only.
    FFiles = std::make_unique<TSlideSchemeHandler>();
    FProfile = std::make_unique<QWebEngineProfile>();
    Q_ASSERT(FProfile->isOffTheRecord());
    FProfile->installUrlSchemeHandler(QByteArray(TSlideScheme::Name.data(), TSlideScheme::Name.size()),
                                      FFiles.get());
    FProfile->setHttpCacheMaximumSize(MaxHttpCacheBytes);
    // The engine asks the cookie filter also for every frame's storage (local and session storage, IndexedDB,
    // cache storage): a slide keeps nothing in the program's own memory, not even from a frame it makes by
    // script, where no document script of the program runs first. Asked on the engine's IO thread.
    FProfile->cookieStore()->setCookieFilter(
        [](const QWebEngineCookieStore::FilterRequest&) { return false; });
    QObject::connect(FProfile.get(), &QWebEngineProfile::downloadRequested, FProfile.get(),
                     [](QWebEngineDownloadRequest* download) { download->cancel(); });
    // Nobody is in front of the wall to click: a slide's video plays by itself. Everything else a page could
    // use to reach out of its slide is off (see the class comment); the pages of the program's scheme are not
    // local, so the two local-content settings only matter to a file: page, which the views never load.
    QWebEngineSettings* settings = FProfile->settings();
    settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanPaste, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    settings->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
    settings->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    settings->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    settings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    settings->setAttribute(QWebEngineSettings::AllowWindowActivationFromJavaScript, false);
    settings->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    settings->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    settings->setAttribute(QWebEngineSettings::AllowGeolocationOnInsecureOrigins, false);
    settings->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
    settings->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    settings->setAttribute(QWebEngineSettings::TouchIconsEnabled, false);
}

TWebSlideViewFactory::~TWebSlideViewFactory() = default;

std::unique_ptr<ISlideView> TWebSlideViewFactory::CreateView(QWidget* parent) const
{
    return std::make_unique<TWebSlideView>(*FProfile, *FFiles, parent);
}
