// The web slide view and its host on the real Qt WebEngine: pages written into a temporary folder, shown in a
// window of their own, watched through what a viewer would see (the view's pixels, the page's own account of
// what reached it, windows that open).
#include "EventWait.h"
#include "LogCapture.h"
#include "SlidePage.h"
#include "TestFiles.h"
#include "WBContainer.h"
#include "WebSlideView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
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
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--use-fake-device-for-media-stream");
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
    EXPECT_EQ(view->Page().url(), second);
    EXPECT_EQ(CentreColour(view->Widget()), QColor(Qt::blue));

    SCOPED_TRACE("the next one as soon as the first has loaded, while its paint is still on the way");
    bool navigated = false;
    QObject::connect(&view->Page(), &QWebEnginePage::loadFinished, &view->Page(), [&](bool ok) {
        if (ok && !navigated && view->Page().url() == first) {
            navigated = true;
            view->Navigate(second);
        }
    });
    view->Navigate(first);
    ASSERT_TRUE(WaitReady(*view, 2));
    Serve(300);
    EXPECT_TRUE(navigated);
    EXPECT_EQ(Ready(*view), 2);
    EXPECT_EQ(view->Page().url(), second);
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
    EXPECT_EQ(view->Page().url(), Url("next.html"));
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
        {"form post", "<form method='post' action='moved.html'><input name='x' value='1'></form>",
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
        item.Plain->load(url);
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
    const TRow rows[] = {
        {"window.open", "document.title = String(window.open('about:blank'));", "null", false},
        {"notifications", "Notification.requestPermission().then(function (p) { document.title = p; });",
         "denied", true},
        {"location",
         "navigator.geolocation.getCurrentPosition(function () { document.title = 'granted'; },"
         " function (e) { document.title = 'refused ' + e.code; });",
         "refused 1", true},
        {"camera",
         "navigator.mediaDevices.getUserMedia({video: true})"
         "  .then(function () { document.title = 'granted'; }, function (e) { document.title = e.name; });",
         "NotAllowedError", true},
        {"microphone",
         "navigator.mediaDevices.getUserMedia({audio: true})"
         "  .then(function () { document.title = 'granted'; }, function (e) { document.title = e.name; });",
         "NotAllowedError", true},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Case);
        const auto view = NewView();
        int asked = 0;
        QObject::connect(&view->Page(), &QWebEnginePage::featurePermissionRequested, [&] { ++asked; });
        view->Navigate(Write("asks.html", Page({}, QStringLiteral("<script>%1</script>").arg(row.Script))));
        EXPECT_TRUE(WaitTitle(view->View(), QString::fromUtf8(row.Outcome)))
            << view->View().title().toStdString();
        if (row.Asked) {
            EXPECT_GT(asked, 0);
        }
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

} // namespace
