#pragma once

#include "SlidePage.h"
#include "SlideView.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>

class QWebEngineProfile;
class TWBContainer;

// A slide view on Qt WebEngine: a web view hosted without scroll bars and with the program's context menu,
// a kiosk page (TSlidePage), a black background, no mouse cursor, and none of the view's own dialogs.
//
// Ready means on screen: after Navigate, the view waits for the main frame's loadFinished(true), asks the new
// document for requestAnimationFrame round trips (TSlidePage::ProbePainted), and once the document answers
// with the token of that navigation, waits for its render widget to draw once more; then it reports OnReady.
// A load that fails, and everything an earlier navigation may still report, gives nothing. OnReady is raised
// from the event loop, never from inside the engine's callbacks.
//
// A renderer that ends (crash, kill, out of memory) is logged at level 1. The next Navigate after that, or
// after a navigation that never painted (a hung script, a load that failed or never ended), loads into a new
// page, so one bad slide cannot hold the view. Main thread only; the factory that made the view outlives it.
class TWebSlideView : public QObject, public ISlideView
{
    Q_OBJECT
public:
    static constexpr QLatin1StringView LogSource{"TWebSlideView"};

    TWebSlideView(QWebEngineProfile& profile, QWidget* parent);
    ~TWebSlideView() override;

    QWidget& Widget() override;
    void Navigate(const QUrl& url) override;

    QWebEngineView& View() const { return *FView; }
    // A new page after a renderer ended or a navigation never painted (see Navigate).
    TSlidePage& Page() const { return *FPage; }
    TWBContainer& Host() const { return *FHost; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetPage(std::unique_ptr<TSlidePage> page);
    void LoadFinished(bool ok);
    void Painted(const QString& token);
    void RendererEnded(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode);

    QWebEngineProfile& FProfile;
    QPointer<QWebEngineView> FView;
    std::unique_ptr<TSlidePage> FPage;
    // Pages replaced by a new one, waiting for their deferred deletion.
    QList<QPointer<TSlidePage>> FRetired;
    std::unique_ptr<TWBContainer> FHost;
    QUrl FUrl;
    // Serial number of the last Navigate.
    quint64 FNavigation = 0;
    // The last Navigate has not painted yet.
    bool FPending = false;
    // The next successful loadFinished is that of the last Navigate.
    bool FAwaitingLoad = false;
    // What the paint probe of the last Navigate answers; empty while none runs.
    QString FToken;
    // The page's renderer ended; the next Navigate starts on a new page.
    bool FRendererGone = false;
};

// Makes the web slide views; they share one profile that keeps nothing on disk (no cache, cookies, storage
// or history survives the program). Downloads are cancelled. Must outlive its views. Main thread only.
class TWebSlideViewFactory : public ISlideViewFactory
{
public:
    TWebSlideViewFactory();
    ~TWebSlideViewFactory() override;

    std::unique_ptr<ISlideView> CreateView(QWidget* parent) const override;
    QWebEngineProfile& Profile() const { return *FProfile; }

private:
    std::unique_ptr<QWebEngineProfile> FProfile;
};
