#pragma once

#include "SlidePage.h"
#include "SlideView.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>

class QWebEngineProfile;
class TSlideSchemeHandler;
class TWBContainer;

// A slide view on Qt WebEngine: a web view hosted without scroll bars and with the program's context menu,
// a kiosk page (TSlidePage), a black background, no mouse cursor, and none of the view's own dialogs.
//
// Ready means on screen: after Navigate, the view waits for the main frame's loadFinished, asks the document
// at the slide's url for requestAnimationFrame round trips (TSlidePage::ProbePainted), and once the document
// answers with the token of that navigation, waits for its render widget to draw once more; then it reports
// OnReady. A load that fails leaves the document before, which does not answer; a slide whose own script
// tried to navigate away (refused, and reported as a failed load) still answers. Everything an earlier
// navigation may still report gives nothing. OnReady is raised
// from the event loop, never from inside the engine's callbacks.
//
// A page with videos is ready only once each has presented its first frame, paused at time 0; they play from
// there at Start (the swap), muted unless the access allows sound. A video that cannot play makes the slide
// one that failed to load (never ready; level 2 with the video's file and the engine's error), and so does
// one that has not shown its first frame when the next Navigate comes (level 2). A page that goes releases
// its videos' decoders.
//
// A local file is loaded through the program's scheme (TSlideScheme), on a host of the view's own, from the
// folders of its access (SetAccess) and the file's own folder; its page loads nothing else but from the
// access's origins (TSlidePage, TSlideRequestGuard).
//
// A renderer that ends (crash, kill, out of memory) is logged at level 1. The next Navigate after that, or
// after a navigation that never painted (a hung script, a load that failed or never ended), or once the page
// has not answered a probe for HangAfter (a script that never ends after the slide painted; level 2), loads
// into a new page, so one bad slide cannot hold the view. A page whose renderer grows above MaxRendererBytes,
// or that floods the program with events, is replaced at once by a new page (level 2): its slide is never
// reported ready, or leaves the screen black until the next one. Main thread only; the factory that made the
// view outlives it.
class TWebSlideView : public QObject, public ISlideView
{
    Q_OBJECT
public:
    static constexpr QLatin1StringView LogSource{"TWebSlideView"};

    // Bounds of a page, looked at every ProbeEvery.
    static constexpr qint64 MaxRendererBytes = qint64(512) * 1024 * 1024;
    static constexpr int HangAfterMs = 1000;
    static constexpr int ProbeEveryMs = 250;

    TWebSlideView(QWebEngineProfile& profile, TSlideSchemeHandler& files, QWidget* parent);
    ~TWebSlideView() override;

    QWidget& Widget() override;
    void Navigate(const QUrl& url) override;
    void SetAccess(const TSlideAccess& access) override;
    void Start() override;
    qint64 UntilEndMs() const override { return FUntilEndMs; }
    // The host of the view's documents on the program's scheme.
    const QString& SchemeHost() const { return FSchemeHost; }

    QWebEngineView& View() const { return *FView; }
    // A new page after a renderer ended or a navigation never painted (see Navigate).
    TSlidePage& Page() const { return *FPage; }
    TWBContainer& Host() const { return *FHost; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetPage(std::unique_ptr<TSlidePage> page);
    void LoadFinished(bool ok);
    void Painted(const QString& token, qint64 untilEndMs);
    void VideoFailed(const QString& token, const QString& video, const QString& error);
    // A video's url as a log line names it: the file for one of the program's scheme.
    static QString VideoName(const QString& url);
    void RendererEnded(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode);
    std::unique_ptr<TSlidePage> NewPage() const;
    void Probe();
    bool Hung() const;
    // Replaces the page at once: its slide is not reported ready.
    void Replace(const QString& reason);
    QString SlideName() const;

    QWebEngineProfile& FProfile;
    TSlideSchemeHandler& FFiles;
    const QString FSchemeHost;
    TSlideAccess FAccess;
    // The name of the slide of the last Navigate.
    QString FSlideName;
    QTimer FProbeTimer;
    // A probe of the page's liveness is on its way since FProbeSent; answers of earlier probes are ignored.
    bool FProbing = false;
    quint64 FProbeSerial = 0;
    QElapsedTimer FProbeSent;
    QPointer<QWebEngineView> FView;
    std::unique_ptr<TSlidePage> FPage;
    // Pages replaced by a new one, waiting for their deferred deletion.
    QList<QPointer<TSlidePage>> FRetired;
    std::unique_ptr<TWBContainer> FHost;
    QUrl FUrl;
    // Where the page was sent for FUrl (on the program's scheme for a local file).
    QUrl FTarget;
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
    // The videos the paint probe of the last Navigate still waits for.
    QStringList FVideosPending;
    // What the page of the last Navigate asked for once ready (UntilEndMs).
    qint64 FUntilEndMs = -1;
};

// Makes the web slide views; they share one profile that keeps nothing on disk (no cache, cookies, storage
// or history survives the program). Downloads are cancelled. Must outlive its views. Main thread only.
//
// Profile settings (every page of it): local pages can read neither file: URLs nor remote URLs (the slides
// come through the program's scheme, which is neither local nor secure); no clipboard, paste, plugins, PDF
// viewer, hyperlink auditing pings, DNS prefetch, screen capture, full screen, window activation from a
// script, navigation by dropping a file, insecure content in a secure page or location on insecure origins,
// no page icons fetched; no cookies and no storage for any frame; WebRTC sees public interfaces only and
// sends no UDP; an HTTP cache of MaxHttpCacheBytes in memory. Videos play without a user's gesture.
class TWebSlideViewFactory : public ISlideViewFactory
{
public:
    static constexpr int MaxHttpCacheBytes = 64 * 1024 * 1024;

    TWebSlideViewFactory();
    ~TWebSlideViewFactory() override;

    std::unique_ptr<ISlideView> CreateView(QWidget* parent) const override;
    QWebEngineProfile& Profile() const { return *FProfile; }

private:
    // Declared first: goes after the profile that uses it.
    std::unique_ptr<TSlideSchemeHandler> FFiles;
    std::unique_ptr<QWebEngineProfile> FProfile;
};
