#include "WebSlideView.h"

#include "Log.h"
#include "MainThread.h"
#include "SlidePage.h"
#include "WBContainer.h"

#include <QChildEvent>
#include <QDialog>
#include <QQuickWidget>
#include <QQuickWindow>
#include <QUuid>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
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

} // namespace

TWebSlideView::TWebSlideView(QWebEngineProfile& profile, QWidget* parent) : FProfile(profile)
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
    SetPage(std::make_unique<TSlidePage>(&FProfile));

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
}

TWebSlideView::~TWebSlideView()
{
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

void TWebSlideView::SetPage(std::unique_ptr<TSlidePage> page)
{
    connect(page.get(), &QWebEnginePage::loadFinished, this, &TWebSlideView::LoadFinished);
    connect(page.get(), &QWebEnginePage::renderProcessTerminated, this, &TWebSlideView::RendererEnded);
    page->OnPainted = [this](const QString& token) { Painted(token); };
    FView->setPage(page.get());
    if (FPage) {
        // The old page may be the one whose signal led here: it goes once the event loop is back.
        FPage->triggerAction(QWebEnginePage::Stop);
        disconnect(FPage.get(), nullptr, this, nullptr);
        FPage->OnPainted = nullptr;
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
    if (FRendererGone || FPending) {
        FRendererGone = false;
        SetPage(std::make_unique<TSlidePage>(&FProfile));
    }
    FUrl = url;
    ++FNavigation;
    FPending = true;
    FAwaitingLoad = true;
    FToken.clear();
    FPage->LoadSlide(url);
}

void TWebSlideView::LoadFinished(bool ok)
{
    if (!ok || !FAwaitingLoad)
        return;
    FAwaitingLoad = false;
    FToken = QUuid::createUuid().toString(QUuid::Id128);
    FPage->ProbePainted(FToken);
}

void TWebSlideView::Painted(const QString& token)
{
    if (FToken.isEmpty() || token != FToken)
        return;
    FToken.clear();
    FPending = false;
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
    FProfile = std::make_unique<QWebEngineProfile>();
    Q_ASSERT(FProfile->isOffTheRecord());
    QObject::connect(FProfile.get(), &QWebEngineProfile::downloadRequested, FProfile.get(),
                     [](QWebEngineDownloadRequest* download) { download->cancel(); });
    // Nobody is in front of the wall to click: a slide's video plays by itself. A slide is a local file
    // made from the content server's template, and may show pictures from that server.
    QWebEngineSettings* settings = FProfile->settings();
    settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
}

TWebSlideViewFactory::~TWebSlideViewFactory() = default;

std::unique_ptr<ISlideView> TWebSlideViewFactory::CreateView(QWidget* parent) const
{
    return std::make_unique<TWebSlideView>(*FProfile, parent);
}
