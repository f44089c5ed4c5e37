#pragma once

#include <QElapsedTimer>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineUrlRequestInterceptor>

#include <functional>

class TSlidePage;

// Decides what a slide page may load: its own origin on the program's scheme and the origins it is given
// (the content server's), with inline data, empty frames and object URLs of those origins; everything else
// is blocked (other hosts and ports, file:, WebSockets, beacons, form posts elsewhere, service and shared
// workers, plugin content). Each blocked origin is logged once per slide. Main thread only (the
// engine asks there).
class TSlideRequestGuard : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT
public:
    static constexpr QLatin1StringView LogSource{"TSlidePage"};
    // More distinct blocked origins than this in one slide are not logged one by one.
    static constexpr int MaxLoggedOrigins = 20;

    explicit TSlideRequestGuard(QString ownOrigin, QObject* parent = nullptr);

    // The slide that follows: its name in log lines and the network origins it may load from.
    void SetSlide(const QString& name, const QStringList& origins);
    bool Allows(const QUrl& url) const;
    // What a log line names: scheme://host[:port], or the scheme alone.
    static QString OriginText(const QUrl& url);
    // Logs a blocked request, once per origin and slide.
    void Blocked(const QUrl& url);

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

private:
    const QString FOwnOrigin;
    QString FName;
    QSet<QString> FOrigins;
    QSet<QString> FLogged;
    bool FLoggedMore = false;
};

// A web page for a screen nobody operates: whatever its script does, the page stays what the program loaded.
// No JavaScript dialog opens (alert returns at once, confirm answers false, prompt is cancelled), console
// messages and script errors go nowhere, no window opens, no file chooser, no permission (camera, microphone,
// location, notifications, ...) is granted, and the main frame goes only where the program sends it: link
// clicks, form posts, script location changes, meta refreshes, redirects and history moves of the slide are
// refused; its frames and everything it loads pass TSlideRequestGuard. Its documents have no IndexedDB, cache
// storage or WebRTC, and local and session storage that live only as long as the document. A page that floods
// the program with events (title and icon changes, console messages, ...) is reported through OnFlood, once.
// The background is black and the page stays in the active lifecycle state. Main thread only.
class TSlidePage : public QWebEnginePage
{
    Q_OBJECT
public:
    // Events a page may raise in one second before it counts as a flood.
    static constexpr int FloodEventsPerSecond = 200;

    // ownOrigin: the origin of the page's documents on the program's scheme.
    TSlidePage(QWebEngineProfile* profile, const QString& ownOrigin, QObject* parent = nullptr);
    ~TSlidePage() override;

    // Stops a load still running, then loads the url: the one main-frame navigation the page accepts.
    void LoadSlide(const QUrl& url);
    TSlideRequestGuard& Guard() { return FGuard; }
    // Asks the current document to report once it has painted a frame: requestAnimationFrame round trips,
    // run in the program's own script world, which the document's scripts cannot see or disturb. A document
    // with videos first brings each to its first frame, paused at time 0 (a source that cannot play is
    // reported through OnVideoFailed, and the document is not reported painted). OnPainted gets the token
    // back with the time in ms the slide asks to stay for (the longest of its videos marked
    // data-vitrelle-until-end; -1 for none). Only a document at that url answers (not the one before, whose
    // load failed).
    void ProbePainted(const QString& token, const QUrl& url);
    std::function<void(const QString& token, qint64 untilEndMs)> OnPainted;
    // The videos (their urls) the probe of that token still waits for; raised as each comes.
    std::function<void(const QString& token, const QStringList& videos)> OnVideosPending;
    // The videos (their urls) of the main frame's document at url that have no frame yet; raised as they
    // come, from the start of the document on, before its load has finished (which they hold back).
    std::function<void(const QUrl& url, const QStringList& videos)> OnVideosLoading;
    // A video of the probed document cannot play: its url and the engine's account of the error.
    std::function<void(const QString& token, const QString& video, const QString& error)> OnVideoFailed;
    // The document's videos held at their first frame, and those its own script asked to play, start now
    // (muting is the page's: QWebEnginePage::setAudioMuted). Until then none plays; a document that goes
    // releases its videos' decoders.
    void StartVideos();
    // Raised once when the page sends more than FloodEventsPerSecond events in a second.
    std::function<void()> OnFlood;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override;
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int lineNumber,
                                  const QString& sourceID) override;

private:
    void CountEvent();

    TSlideRequestGuard FGuard;
    // The url of the last LoadSlide, until its navigation has been accepted.
    QUrl FExpected;
    QElapsedTimer FWindow;
    int FEvents = 0;
    bool FFlooded = false;
};
