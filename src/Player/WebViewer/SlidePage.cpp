#include "SlidePage.h"

#include "Log.h"
#include "MainThread.h"
#include "SlideScheme.h"

#include <QColor>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>

namespace {

// Console messages that carry these prefixes come from ProbePainted's script, followed by the probe's token,
// a colon and a JSON value: the length the slide asks to stay for (painted), the videos still awaited
// (videos), the video that cannot play and the engine's account of it (video-failed).
const QString PaintedPrefix = QStringLiteral("vitrelle-painted:");
const QString VideosPrefix = QStringLiteral("vitrelle-videos:");
const QString VideoFailedPrefix = QStringLiteral("vitrelle-video-failed:");
// From HoldVideos: the document's url and its videos without a first frame yet, as a JSON array.
const QString LoadingPrefix = QStringLiteral("vitrelle-loading:");

// Run in the program's own world as each main-frame document begins. A slide's videos wait, paused, until the
// program starts them at the swap: a video that begins to play before (autoplay, or the slide's script) is
// paused again at its first frame, and remembered as one to play. A document that goes lets go of its
// videos' decoders and buffers at once, not whenever its renderer collects it. Until its load has finished
// (which videos hold back until they have data), the document tells which videos have no frame yet.
const QString HoldVideos = QStringLiteral(
    "(function () {"
    "  var started = false, asked = new WeakSet();"
    "  function loading() {"
    "    var list = [];"
    "    document.querySelectorAll('video').forEach(function (v) {"
    "      var s = v.querySelector('source');"
    "      if ((v.hasAttribute('src') || s) && v.readyState < 2) list.push(v.currentSrc || v.src || s.src);"
    "    });"
    "    console.log('vitrelle-loading:' + JSON.stringify([location.href, list]));"
    "  }"
    "  document.addEventListener('DOMContentLoaded', loading);"
    "  document.addEventListener('loadeddata', loading, true);"
    "  document.addEventListener('loadstart', loading, true);"
    "  document.addEventListener('play', function (e) {"
    "    var v = e.target;"
    "    if (started || !(v instanceof HTMLVideoElement)) return;"
    "    asked.add(v); v.pause(); v.currentTime = 0;"
    "  }, true);"
    "  window.vitrelleVideos = {"
    "    start: function () {"
    "      started = true;"
    "      document.querySelectorAll('video').forEach(function (v) {"
    "        if (v.autoplay || asked.has(v)) { var p = v.play(); if (p) p.catch(function () {}); }"
    "      });"
    "    }"
    "  };"
    "  window.addEventListener('pagehide', function () {"
    "    started = true;"
    "    document.querySelectorAll('video').forEach(function (v) {"
    "      v.pause(); v.removeAttribute('src');"
    "      v.querySelectorAll('source').forEach(function (s) { s.remove(); });"
    "      v.load();"
    "    });"
    "  });"
    "})();");

// Asks every video of the document to show its first frame, held at time 0, and reports through the console
// (see the prefixes above) once all have presented it, or at the first that cannot play. A video without any
// source is not waited for. `say(kind, value)` and `painted(length)` are given by the caller.
const QString AwaitVideos = QStringLiteral(
    "  var videos = Array.prototype.filter.call(document.querySelectorAll('video'), function (v) {"
    "    return v.hasAttribute('src') || v.querySelector('source') !== null;"
    "  });"
    "  var pending = videos.slice(), failed = false;"
    "  function name(v) {"
    "    var s = v.querySelector('source');"
    "    return v.currentSrc || v.src || (s ? s.src : '');"
    "  }"
    "  function untilEnd() {"
    "    var ms = -1;"
    "    videos.forEach(function (v) {"
    "      if (v.hasAttribute('data-vitrelle-until-end') && isFinite(v.duration) && v.duration > 0)"
    "        ms = Math.max(ms, Math.round(v.duration * 1000));"
    "    });"
    "    return ms;"
    "  }"
    "  function errorText(v) {"
    "    var e = v.error;"
    "    if (!e) return 'none of its sources can be played';"
    "    var kinds = ['', 'aborted', 'network error', 'cannot be decoded', 'format not supported'];"
    "    return (kinds[e.code] || 'error ' + e.code) + (e.message ? ' (' + e.message + ')' : '');"
    "  }"
    "  if (!videos.length) { painted(-1); return; }"
    "  say('videos', pending.map(name));"
    "  videos.forEach(function (v) {"
    "    var done = false, seeked = false, presented = false;"
    "    function bad() {"
    "      if (done || failed) return;"
    "      done = failed = true;"
    "      say('video-failed', [name(v), errorText(v)]);"
    "    }"
    "    function check() {"
    "      if (done || !seeked || !presented || v.currentTime !== 0 || v.readyState < 2) return;"
    "      done = true;"
    "      pending.splice(pending.indexOf(v), 1);"
    "      say('videos', pending.map(name));"
    "      if (!pending.length && !failed) painted(untilEnd());"
    "    }"
    "    function hold() {"
    "      v.pause();"
    "      v.addEventListener('seeked', function () {"
    "        seeked = true;"
    "        requestAnimationFrame(function () {"
    "          requestAnimationFrame(function () { presented = true; check(); });"
    "        });"
    "      }, { once: true });"
    "      if (v.requestVideoFrameCallback)"
    "        v.requestVideoFrameCallback(function () { presented = true; check(); });"
    "      v.currentTime = 0;"
    "    }"
    "    v.addEventListener('error', bad);"
    "    v.querySelectorAll('source').forEach(function (s) {"
    "      s.addEventListener('error', function () { if (v.networkState === 3) bad(); });"
    "    });"
    "    if (v.error || v.networkState === 3) { bad(); return; }"
    "    if (v.readyState >= 1) { hold(); return; }"
    "    v.addEventListener('loadedmetadata', hold, { once: true });"
    "    if (v.readyState === 0 && v.networkState === 1) { v.preload = 'auto'; v.load(); }"
    "  });");

// The question the engine asks through javaScriptConfirm before it leaves a document that wants to stay,
// translated as the engine translates it.
QString LeaveQuestion()
{
    return QCoreApplication::translate(
        "QWebEnginePage",
        "Are you sure you want to leave this page? Changes that you made may not be saved.");
}

// Run in the document's own world as each document begins, in every frame it reaches, before the document's
// scripts. The profile refuses every frame all lasting storage (TWebSlideViewFactory): a slide finds no
// IndexedDB and no cache storage, and gets local and session storage that live in its own renderer, bounded,
// for as long as its document does, so templates that keep a little state still run. WebRTC is gone too: its
// connections to STUN/TURN servers and peers never pass the request guard.
const QString ConfineDocument = QStringLiteral(
    "(function () {"
    "  function memoryStorage() {"
    "    var items = new Map(), used = 0, limit = 5 * 1024 * 1024;"
    "    var api = {"
    "      getItem: function (k) { k = String(k); return items.has(k) ? items.get(k) : null; },"
    "      setItem: function (k, v) { k = String(k); v = String(v);"
    "        var grow = k.length + v.length - (items.has(k) ? k.length + items.get(k).length : 0);"
    "        if (used + grow > limit) throw new DOMException('The quota has been exceeded.',"
    "                                                        'QuotaExceededError');"
    "        used += grow; items.set(k, v); },"
    "      removeItem: function (k) { k = String(k);"
    "        if (items.has(k)) { used -= k.length + items.get(k).length; items.delete(k); } },"
    "      clear: function () { items.clear(); used = 0; },"
    "      key: function (i) { var keys = Array.from(items.keys()); return i >= 0 && i < keys.length ?"
    "        keys[i] : null; }"
    "    };"
    "    Object.defineProperty(api, 'length', { get: function () { return items.size; } });"
    "    return new Proxy(api, {"
    "      get: function (t, p) { return typeof p === 'symbol' || p in t ? t[p] :"
    "        (items.has(p) ? items.get(p) : undefined); },"
    "      set: function (t, p, v) { if (typeof p === 'symbol' || p in t) return false;"
    "        t.setItem(p, v); return true; },"
    "      has: function (t, p) { return p in t || items.has(p); },"
    "      deleteProperty: function (t, p) { t.removeItem(p); return true; }"
    "    });"
    "  }"
    "  var replaced = { localStorage: memoryStorage(), sessionStorage: memoryStorage() };"
    "  ['indexedDB', 'caches', 'RTCPeerConnection', 'webkitRTCPeerConnection', 'localStorage',"
    "   'sessionStorage'].forEach(function (name) {"
    "    try { Object.defineProperty(window, name, { value: replaced[name], configurable: false }); }"
    "    catch (e) {}"
    "  });"
    "})();");

// A script run as each document begins, before the document's own scripts.
QWebEngineScript DocumentScript(const QString& name, quint32 world, bool subFrames, const QString& source)
{
    QWebEngineScript script;
    script.setName(name);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(world);
    script.setRunsOnSubFrames(subFrames);
    script.setSourceCode(source);
    return script;
}

} // namespace

// ---- TSlideRequestGuard ----

TSlideRequestGuard::TSlideRequestGuard(QString ownOrigin, QObject* parent)
    : QWebEngineUrlRequestInterceptor(parent), FOwnOrigin(std::move(ownOrigin))
{
}

void TSlideRequestGuard::SetSlide(const QString& name, const QStringList& origins)
{
    FName = name;
    FOrigins.clear();
    for (const QString& origin : origins) {
        const QString text = OriginText(QUrl(origin));
        if (!text.isEmpty())
            FOrigins.insert(text);
    }
    FLogged.clear();
    FLoggedMore = false;
}

QString TSlideRequestGuard::OriginText(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme.isEmpty())
        return {};
    if (url.host().isEmpty())
        return scheme + ':';
    QString text = scheme + QStringLiteral("://") + url.host(QUrl::FullyEncoded).toLower();
    const int defaultPort = scheme == QStringLiteral("https") || scheme == QStringLiteral("wss") ? 443
                            : scheme == QStringLiteral("http") || scheme == QStringLiteral("ws") ? 80
                                                                                                 : -1;
    if (url.port() != -1 && url.port() != defaultPort)
        text += ':' + QString::number(url.port());
    return text;
}

bool TSlideRequestGuard::Allows(const QUrl& url) const
{
    const QString scheme = url.scheme().toLower();
    // What never leaves the engine: inline data, an empty frame, and an object URL of an allowed origin.
    if (scheme == QStringLiteral("data") || url == QUrl(QStringLiteral("about:blank")) ||
        url == QUrl(QStringLiteral("about:srcdoc")))
        return true;
    if (scheme == QStringLiteral("blob"))
        return Allows(QUrl(url.path()));
    const QString origin = OriginText(url);
    if (origin == FOwnOrigin)
        return true;
    // Only plain web origins are given (the content server's); a given ws: or file: would not pass.
    return (scheme == QStringLiteral("http") || scheme == QStringLiteral("https")) &&
           FOrigins.contains(origin);
}

void TSlideRequestGuard::Blocked(const QUrl& url)
{
    const QString origin = OriginText(url);
    if (FLogged.contains(origin) || FLoggedMore)
        return;
    const QString name = FName.isEmpty() ? QStringLiteral("A slide") : FName;
    if (FLogged.size() >= MaxLoggedOrigins) {
        FLoggedMore = true;
        WriteLog(LogSource, 2,
                 QStringLiteral("%1: blocked requests to more origins, not logged one by one").arg(name));
        return;
    }
    FLogged.insert(origin);
    WriteLog(LogSource, 2, QStringLiteral("%1: blocked a request to %2").arg(name, origin));
}

void TSlideRequestGuard::interceptRequest(QWebEngineUrlRequestInfo& info)
{
    // A service worker would outlive the slide; a ping (beacon, <a ping>) and a report only send.
    const auto type = info.resourceType();
    const bool neverNeeded = type == QWebEngineUrlRequestInfo::ResourceTypeServiceWorker ||
                             type == QWebEngineUrlRequestInfo::ResourceTypeSharedWorker ||
                             // a worker would have the storage the documents are denied
                             type == QWebEngineUrlRequestInfo::ResourceTypeWorker ||
                             type == QWebEngineUrlRequestInfo::ResourceTypePluginResource ||
                             type == QWebEngineUrlRequestInfo::ResourceTypeObject;
    if (!neverNeeded && Allows(info.requestUrl()))
        return;
    info.block(true);
    Blocked(info.requestUrl());
}

// ---- TSlidePage ----

TSlidePage::TSlidePage(QWebEngineProfile* profile, const QString& ownOrigin, QObject* parent)
    : QWebEnginePage(profile, parent), FGuard(ownOrigin)
{
    VC_ASSERT_MAIN_THREAD();
    setUrlRequestInterceptor(&FGuard);
    // Black underneath, so that nothing flashes white before a document paints.
    setBackgroundColor(Qt::black);
    // A failed load leaves the view as it was instead of showing the engine's error page.
    settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    // window.open from a script gives null; one after a click reaches createWindow, which gives nothing.
    settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    // A page that is not in front is still painted, so that it is on screen the moment it is raised.
    setLifecycleState(LifecycleState::Active);

    scripts().insert(DocumentScript(QStringLiteral("vitrelle-confine-document"), QWebEngineScript::MainWorld,
                                    true, ConfineDocument));
    scripts().insert(DocumentScript(QStringLiteral("vitrelle-hold-videos"),
                                    QWebEngineScript::ApplicationWorld, false, HoldVideos));

    // What a document can make the engine tell the program as often as it likes. The connections only count:
    // nothing the page sends is kept.
    connect(this, &QWebEnginePage::titleChanged, this, &TSlidePage::CountEvent);
    connect(this, &QWebEnginePage::iconChanged, this, &TSlidePage::CountEvent);
    connect(this, &QWebEnginePage::iconUrlChanged, this, &TSlidePage::CountEvent);
    connect(this, &QWebEnginePage::urlChanged, this, &TSlidePage::CountEvent);
    connect(this, &QWebEnginePage::selectionChanged, this, &TSlidePage::CountEvent);
    connect(this, &QWebEnginePage::recentlyAudibleChanged, this, &TSlidePage::CountEvent);
    connect(this, &QWebEnginePage::linkHovered, this, &TSlidePage::CountEvent);

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

TSlidePage::~TSlidePage()
{
    setUrlRequestInterceptor(nullptr);
}

void TSlidePage::LoadSlide(const QUrl& url)
{
    VC_ASSERT_MAIN_THREAD();
    triggerAction(Stop);
    FExpected = url;
    load(url);
}

void TSlidePage::CountEvent()
{
    if (FFlooded)
        return;
    if (!FWindow.isValid() || FWindow.elapsed() >= 1000) {
        FWindow.start();
        FEvents = 0;
    }
    if (++FEvents <= FloodEventsPerSecond)
        return;
    FFlooded = true;
    if (OnFlood)
        QMetaObject::invokeMethod(
            this, [this] { OnFlood(); }, Qt::QueuedConnection);
}

void TSlidePage::ProbePainted(const QString& token, const QUrl& url)
{
    // A requestAnimationFrame callback runs before the document's next frame is produced; in the callback of
    // the second, the frame with the loaded document has gone to the compositor, and in that of the third it
    // has had a whole frame's time to reach the view. Measured against the view's pixels at the moment of the
    // report: one round trip shows the page before in about a fifth of the reports, two in a few of a hundred
    // when the page is new to its view, three in none. Videos are waited for first (AwaitVideos): their
    // first frame has then gone to the compositor too.
    const QByteArray where =
        QJsonDocument(QJsonArray{url.host(QUrl::FullyDecoded), url.path(QUrl::FullyDecoded)})
            .toJson(QJsonDocument::Compact);
    runJavaScript(
        QStringLiteral("(function (where, token) {"
                       "  if (location.host !== where[0] || decodeURIComponent(location.pathname) !== "
                       "where[1]) return;"
                       "  function say(kind, value) {"
                       "    console.log('vitrelle-' + kind + ':' + token + ':' + JSON.stringify(value));"
                       "  }"
                       "  function painted(length) {"
                       "    requestAnimationFrame(function () {"
                       "      requestAnimationFrame(function () {"
                       "        requestAnimationFrame(function () { say('painted', length); });"
                       "      });"
                       "    });"
                       "  }"
                       "%1"
                       "})(%2, '%3');")
            .arg(AwaitVideos, QString::fromUtf8(where), token),
        QWebEngineScript::ApplicationWorld);
}

void TSlidePage::StartVideos()
{
    runJavaScript(QStringLiteral("if (window.vitrelleVideos) window.vitrelleVideos.start();"),
                  QWebEngineScript::ApplicationWorld);
}

bool TSlidePage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    if (!isMainFrame) {
        if (FGuard.Allows(url))
            return true;
        FGuard.Blocked(url);
        return false;
    }
    // The one navigation accepted is the load of LoadSlide, once: a meta refresh or a script's
    // location.replace reports as a redirect, and the program's slides never redirect.
    if (type != NavigationTypeTyped || FExpected.isEmpty() || url != FExpected)
        return false;
    FExpected.clear();
    return true;
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
    CountEvent();
    // <prefix><token>:<JSON value>
    const auto parse = [&message](const QString& prefix, QString& token, QJsonValue& value) {
        if (!message.startsWith(prefix))
            return false;
        const qsizetype colon = message.indexOf(u':', prefix.size());
        if (colon < 0)
            return false;
        token = message.mid(prefix.size(), colon - prefix.size());
        const QJsonDocument document = QJsonDocument::fromJson(("[" + message.mid(colon + 1) + "]").toUtf8());
        value = document.array().at(0);
        return true;
    };
    QString token;
    QJsonValue value;
    if (parse(PaintedPrefix, token, value)) {
        if (OnPainted)
            OnPainted(token, value.toInteger(-1));
    } else if (parse(VideosPrefix, token, value)) {
        if (OnVideosPending)
            OnVideosPending(token, value.toVariant().toStringList());
    } else if (message.startsWith(LoadingPrefix)) {
        const QJsonArray loading =
            QJsonDocument::fromJson(message.mid(LoadingPrefix.size()).toUtf8()).array();
        if (OnVideosLoading)
            OnVideosLoading(QUrl(loading.at(0).toString()), loading.at(1).toVariant().toStringList());
    } else if (parse(VideoFailedPrefix, token, value)) {
        if (OnVideoFailed)
            OnVideoFailed(token, value.toArray().at(0).toString(), value.toArray().at(1).toString());
    }
}
