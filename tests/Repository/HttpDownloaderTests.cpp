#include "ManualClock.h"
#include "RepositoryTestSupport.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleResource.h"

#include "AbortRequest.h"
#include "EventWait.h"
#include "WorkQueue.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>

#include <atomic>
#include <chrono>
#include <thread>

// ---- URL templates ----

struct TTemplateCase
{
    const char* Template;
    QStringList Values;
    const char* Expected; // null: a format error
};

void PrintTo(const TTemplateCase& c, std::ostream* out)
{
    *out << c.Template;
}

class UrlTemplate : public ::testing::TestWithParam<TTemplateCase>
{
};

TEST_P(UrlTemplate, FillsPlaceholdersInOrderWithoutEncoding)
{
    const TTemplateCase& c = GetParam();
    if (c.Expected == nullptr) {
        EXPECT_THROW(FormatUrlTemplate(QString::fromUtf8(c.Template), c.Values), EFormatError);
        return;
    }
    EXPECT_EQ(FormatUrlTemplate(QString::fromUtf8(c.Template), c.Values), QString::fromUtf8(c.Expected));
}

INSTANTIATE_TEST_SUITE_P(
    Templates, UrlTemplate,
    ::testing::Values(
        TTemplateCase{"http://h/login?u=%s&p=%s", {"me", "p&ss word"}, "http://h/login?u=me&p=p&ss word"},
        TTemplateCase{"http://h/v/%s.xml", {"17"}, "http://h/v/17.xml"},
        TTemplateCase{"http://h/list%%20all", {}, "http://h/list%20all"},
        TTemplateCase{"http://h/fixed.png", {"ignored"}, "http://h/fixed.png"},
        TTemplateCase{"%%s stays", {"x"}, "%s stays"}, TTemplateCase{"%S", {"upper"}, "upper"},
        TTemplateCase{"%s%s", {"only one"}, nullptr}, TTemplateCase{"http://h/%d", {"1"}, nullptr},
        TTemplateCase{"http://h/a%20b", {}, nullptr}, TTemplateCase{"ends with %", {}, nullptr}),
    [](const auto& info) { return CaseName(info.index, info.param.Template); });

// ---- the transport against the test server ----

class HttpTransport : public ::testing::Test
{
protected:
    void SetUp() override { Server.Configure(Settings); }

    std::unique_ptr<THttpDownloader> MakeDownloader(THttpOptions options = ShortHttpOptions(nullptr))
    {
        options.Clock = Clock;
        return std::make_unique<THttpDownloader>(Settings, options);
    }
    QString Url(const QString& path) const { return Server.BaseUrl() + path; }

    TTestContentServer Server;
    THttpSettings Settings;
    std::shared_ptr<TManualClock> Clock = std::make_shared<TManualClock>();
    TTempFolder Folder;
    TLogCapture Log;
};

TEST_F(HttpTransport, LogsInOnceForTenDownloadsAndKeepsTheCookie)
{
    Server.SetFile("/media/a.png", "picture");
    auto downloader = MakeDownloader();
    EXPECT_FALSE(downloader->LoggedIn());
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(downloader->Download(Url("/media/a.png"), Folder.File("a.png"))) << LogText(Log);
    EXPECT_EQ(Server.LoginRequests(), 1);
    EXPECT_EQ(Server.Requests("/media/a.png"), 10);
    EXPECT_TRUE(downloader->LoggedIn());
    EXPECT_EQ(downloader->LastLogin(), Clock->Now());
    EXPECT_EQ(ReadFileBytes(Folder.File("a.png")), "picture");
    EXPECT_TRUE(Log.Lines().isEmpty()) << LogText(Log);
}

TEST_F(HttpTransport, DownloadersShareNoLogin)
{
    Server.SetFile("/media/a.png", "picture");
    auto first = MakeDownloader();
    auto second = MakeDownloader();
    ASSERT_TRUE(first->Download(Url("/media/a.png"), Folder.File("1.png")));
    ASSERT_TRUE(second->Download(Url("/media/a.png"), Folder.File("2.png")));
    EXPECT_EQ(Server.LoginRequests(), 2);
}

TEST_F(HttpTransport, PutsThePasswordIntoTheLoginUrlUnencoded)
{
    Settings.Password = "p&ss word";
    // The "&" reaches the server as a separator; only the blank, which cannot stand in a request, is escaped.
    Server.SetLoginQuery("user=operator&password=p&ss+word");
    Server.SetFile("/media/a.png", "picture");
    auto downloader = MakeDownloader();
    EXPECT_TRUE(downloader->Download(Url("/media/a.png"), Folder.File("a.png"))) << LogText(Log);
    EXPECT_EQ(Server.Targets().value(0), "/login?user=operator&password=p&ss+word");
}

TEST_F(HttpTransport, RenewsTheLoginAfterItsLifetime)
{
    Settings.LoginLifetime = 3600;
    Server.SetFile("/media/a.png", "picture");
    auto downloader = MakeDownloader();
    ASSERT_TRUE(downloader->Download(Url("/media/a.png"), Folder.File("a.png")));
    Clock->AdvanceSeconds(3599);
    ASSERT_TRUE(downloader->Download(Url("/media/a.png"), Folder.File("a.png")));
    EXPECT_EQ(Server.LoginRequests(), 1);
    Clock->AdvanceSeconds(1);
    ASSERT_TRUE(downloader->Download(Url("/media/a.png"), Folder.File("a.png")));
    EXPECT_EQ(Server.LoginRequests(), 2);
    EXPECT_EQ(downloader->LastLogin(), Clock->Now());
}

TEST_F(HttpTransport, LogsInAgainWhenTheServerForgotTheSession)
{
    Server.SetFile("/media/a.png", "picture");
    auto downloader = MakeDownloader();
    ASSERT_TRUE(downloader->Download(Url("/media/a.png"), Folder.File("a.png")));
    Server.ForgetSessions(); // a restarted server
    try {
        downloader->Download(Url("/media/a.png"), Folder.File("a.png"));
        FAIL() << "a refused request is an error";
    } catch (const EHttpError& error) {
        EXPECT_EQ(error.StatusCode, 403);
    }
    EXPECT_TRUE(downloader->Download(Url("/media/a.png"), Folder.File("a.png")));
    EXPECT_EQ(Server.LoginRequests(), 2);
}

TEST_F(HttpTransport, WithoutLoginUrlNothingIsFetched)
{
    Settings.AuthentificationURL.clear();
    Server.SetFile("/media/a.png", "picture");
    auto downloader = MakeDownloader();
    EXPECT_FALSE(downloader->Download(Url("/media/a.png"), Folder.File("a.png")));
    EXPECT_EQ(Server.TotalRequests(), 0);
    EXPECT_TRUE(Log.Lines().isEmpty());
}

TEST_F(HttpTransport, LoginTemplateThatDoesNotFitIsAnError)
{
    Settings.AuthentificationURL = Url("/login?user=%s&password=%s&token=%s");
    auto downloader = MakeDownloader();
    EXPECT_THROW(downloader->Download(Url("/media/a.png"), Folder.File("a.png")), EFormatError);
    EXPECT_EQ(Server.TotalRequests(), 0);
}

struct TLoginCase
{
    const char* Name;
    int Status;
    QByteArray Body;
    const char* Location;
    const char* Reason; // what the log line says after the URL
};

void PrintTo(const TLoginCase& c, std::ostream* out)
{
    *out << c.Name;
}

class BadLogin : public HttpTransport, public ::testing::WithParamInterface<TLoginCase>
{
};

TEST_P(BadLogin, IsLoggedWithoutThePasswordAndTriedAgainNextTime)
{
    const TLoginCase& c = GetParam();
    Server.SetFile("/public/welcome.html", "Welcome page");
    Server.SetLoginAnswer(c.Status, c.Body, QString::fromUtf8(c.Location));
    Server.SetFile("/media/a.png", "picture");
    Folder.Write("a.png", "old");
    auto downloader = MakeDownloader();

    EXPECT_FALSE(downloader->Download(Url("/media/a.png"), Folder.File("a.png")));
    EXPECT_FALSE(downloader->LoggedIn());
    EXPECT_FALSE(downloader->LastLogin().isValid());
    EXPECT_EQ(Server.Requests("/media/a.png"), 0);
    EXPECT_EQ(ReadFileBytes(Folder.File("a.png")), "old");
    const QString expected = QStringLiteral("[1] THttpDownloader: Error while logging at URL %1 : %2")
                                 .arg(Url("/login?user=operator&password=***"), QString::fromUtf8(c.Reason));
    EXPECT_EQ(Log.Lines(), QStringList{expected});
    EXPECT_FALSE(Log.Contains(TTestContentServer::DefaultPassword));

    EXPECT_FALSE(downloader->Download(Url("/media/a.png"), Folder.File("a.png")));
    EXPECT_EQ(Server.LoginRequests(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, BadLogin,
    ::testing::Values(
        TLoginCase{"OneAndLineBreak", 200, "1\n", "", "Server response: 1\n"},
        TLoginCase{"Zero", 200, "0", "", "Server response: 0"},
        TLoginCase{"RedirectToAPage", 302, {}, "/public/welcome.html", "Server response: Welcome page"},
        TLoginCase{"ServerError", 500, "oops", "", "Returned HTTP code: 500"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(HttpTransport, LoginToAServerThatIsDownIsLoggedWithTheReason)
{
    QString url;
    {
        TTestContentServer gone;
        url = gone.BaseUrl();
    }
    Settings.AuthentificationURL = url + "/login?user=%s&password=%s";
    auto downloader = MakeDownloader();
    EXPECT_FALSE(downloader->Download(url + "/media/a.png", Folder.File("a.png")));
    ASSERT_EQ(ErrorLines(Log).size(), 1);
    EXPECT_TRUE(ErrorLines(Log).at(0).contains("password=*** : ")) << LogText(Log);
    EXPECT_TRUE(Folder.Entries().isEmpty());
}

// ---- file answers ----

struct TFileCase
{
    const char* Name;
    int Status;
    bool Raises; // otherwise the result is false
};

void PrintTo(const TFileCase& c, std::ostream* out)
{
    *out << c.Name;
}

class FileAnswer : public HttpTransport, public ::testing::WithParamInterface<TFileCase>
{
};

TEST_P(FileAnswer, LeavesTheExistingFileUntouched)
{
    const TFileCase& c = GetParam();
    Server.SetStatus("/media/a.png", c.Status, "body of the answer");
    const QString target = Folder.Write("a.png", "old content");
    auto downloader = MakeDownloader();
    if (c.Raises) {
        try {
            downloader->Download(Url("/media/a.png"), target);
            FAIL() << "status " << c.Status << " is an error";
        } catch (const EHttpError& error) {
            EXPECT_EQ(error.StatusCode, c.Status);
            EXPECT_TRUE(error.Message().contains(QString::number(c.Status))) << error.what();
        }
    } else {
        EXPECT_FALSE(downloader->Download(Url("/media/a.png"), target));
    }
    EXPECT_EQ(ReadFileBytes(target), "old content");
    EXPECT_EQ(Folder.Entries(), QStringList{"a.png"});
}

INSTANTIATE_TEST_SUITE_P(Statuses, FileAnswer,
                         ::testing::Values(TFileCase{"NoContent", 204, false},
                                           TFileCase{"Accepted", 202, false},
                                           TFileCase{"NotModified", 304, false},
                                           TFileCase{"NotFound", 404, true},
                                           TFileCase{"ServerError", 500, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(HttpTransport, FollowsRedirectsButNotForever)
{
    Server.SetRedirect("/media/old.png", "/media/new.png", 301);
    Server.SetFile("/media/new.png", "moved picture");
    auto downloader = MakeDownloader();
    ASSERT_TRUE(downloader->Download(Url("/media/old.png"), Folder.File("a.png")));
    EXPECT_EQ(ReadFileBytes(Folder.File("a.png")), "moved picture");

    Server.SetRedirect("/media/loop.png", "/media/loop.png");
    EXPECT_THROW(downloader->Download(Url("/media/loop.png"), Folder.File("b.png")), EHttpError);
    EXPECT_EQ(Server.Requests("/media/loop.png"), 11);
    EXPECT_FALSE(QFile::exists(Folder.File("b.png")));
}

TEST_F(HttpTransport, AnEmptyBodyGivesAnEmptyFile)
{
    Server.SetFile("/media/empty.txt", "");
    auto downloader = MakeDownloader();
    const QString target = Folder.Write("empty.txt", "old");
    ASSERT_TRUE(downloader->Download(Url("/media/empty.txt"), target));
    EXPECT_TRUE(QFile::exists(target));
    EXPECT_EQ(QFile(target).size(), 0);
}

struct TBrokenCase
{
    const char* Name;
    void (TTestContentServer::*Break)(const QString&, qint64);
};

void PrintTo(const TBrokenCase& c, std::ostream* out)
{
    *out << c.Name;
}

class BrokenTransfer : public HttpTransport, public ::testing::WithParamInterface<TBrokenCase>
{
};

TEST_P(BrokenTransfer, FailsInBoundedTimeAndLeavesNoPartialFile)
{
    (Server.*GetParam().Break)("/media/big.bin", 4 * 1024 * 1024);
    const QString target = Folder.Write("big.bin", "old content");
    auto downloader = MakeDownloader();
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(downloader->Download(Url("/media/big.bin"), target), EHttpError);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(ReadFileBytes(target), "old content");
    EXPECT_EQ(Folder.Entries(), QStringList{"big.bin"});
    Server.ReleaseHangs();
}

INSTANTIATE_TEST_SUITE_P(Servers, BrokenTransfer,
                         ::testing::Values(TBrokenCase{"DropsTheConnection",
                                                       &TTestContentServer::SetDropMidBody},
                                           TBrokenCase{"StopsSending", &TTestContentServer::SetStallMidBody}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(HttpTransport, AServerThatNeverAnswersFailsInBoundedTime)
{
    Server.SetHang("/media/a.png");
    auto downloader = MakeDownloader();
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(downloader->Download(Url("/media/a.png"), Folder.File("a.png")), EHttpError);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(Folder.Entries().isEmpty());
    Server.ReleaseHangs();
}

TEST_F(HttpTransport, ACancelledTransferEndsAtOnceAndWritesNothing)
{
    Server.SetHang("/media/a.png");
    auto downloader = MakeDownloader(THttpOptions{}); // the default limits would wait a minute
    QElapsedTimer clock;
    clock.start();
    downloader->SetCancelCheck([&] { return clock.elapsed() > 200; });
    EXPECT_THROW(downloader->Download(Url("/media/a.png"), Folder.File("a.png")), EDownloadCancelled);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(Folder.Entries().isEmpty());
    Server.ReleaseHangs();
}

// ---- deadlines: a server that trickles just fast enough never trips the low-speed limit ----

enum class TFileKind
{
    List,
    Vitrelle,
    Media
};

struct TDeadlineCase
{
    const char* Name;
    TFileKind Kind;
    qint64 Size;
    int Step; // bytes sent every 50 ms
    bool Completes;
};

void PrintTo(const TDeadlineCase& c, std::ostream* out)
{
    *out << c.Name;
}

class Deadline : public HttpTransport, public ::testing::WithParamInterface<TDeadlineCase>
{
};

TEST_P(Deadline, EndsATransferThatTakesTooLong)
{
    const TDeadlineCase& c = GetParam();
    THttpOptions options = ShortHttpOptions(nullptr);
    options.Timeouts.RequestDeadline = std::chrono::milliseconds(600);
    options.Timeouts.MediaGrace = std::chrono::milliseconds(300);
    options.Timeouts.MediaMinimumRate = 20000; // 20,000 bytes: 1.3 s in all
    const QString path = c.Kind == TFileKind::List       ? QStringLiteral("/list/VitrelleList.xml")
                         : c.Kind == TFileKind::Vitrelle ? QStringLiteral("/vitrelles/17.xml")
                                                         : QStringLiteral("/media/p.jpg");
    Server.SetTrickle(path, c.Size, c.Step, std::chrono::milliseconds(50));
    const QString target = Folder.Write("target", "old content");
    auto downloader = MakeDownloader(options);
    const TVitrelleResource media("p.jpg", "", "Photo");
    QElapsedTimer clock;
    clock.start();
    const auto fetch = [&] {
        switch (c.Kind) {
        case TFileKind::List:
            return downloader->DownloadVitrelleList(target);
        case TFileKind::Vitrelle:
            return downloader->DownloadVitrelle("17", target);
        case TFileKind::Media:
            break;
        }
        return downloader->DownloadResource(&media, target);
    };
    if (c.Completes) {
        EXPECT_TRUE(fetch());
        EXPECT_EQ(QFileInfo(target).size(), c.Size);
    } else {
        EXPECT_THROW(fetch(), EHttpError);
        EXPECT_LT(clock.elapsed(), 3000);
        EXPECT_EQ(ReadFileBytes(target), "old content");
    }
    EXPECT_EQ(Folder.Entries(), QStringList{"target"}) << "nothing partial stays";
}

INSTANTIATE_TEST_SUITE_P(Transfers, Deadline,
                         ::testing::Values(
                             // 200 bytes/s for 2,000 bytes: 10 s.
                             TDeadlineCase{"ListFileTrickles", TFileKind::List, 2000, 10, false},
                             TDeadlineCase{"VitrelleFileTrickles", TFileKind::Vitrelle, 2000, 10, false},
                             // 2,000 bytes/s for 20,000 bytes: 10 s.
                             TDeadlineCase{"MediaBelowTheMinimumRate", TFileKind::Media, 20000, 100, false},
                             // 40,000 bytes/s for 40,000 bytes: 1 s, longer than the 600 ms of a file, within
                             // the 2.3 s it may take.
                             TDeadlineCase{"MediaGetsTimeByItsSize", TFileKind::Media, 40000, 2000, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- the process asked to end (a termination signal) ----

TEST_F(HttpTransport, TheAbortRequestEndsEveryTransferAndStartsNone)
{
    const auto withdraw = qScopeGuard([] { AbortRequest::Withdraw(); });
    Server.SetHang("/vitrelles/17.xml");
    const QString target = Folder.Write("17.xml", "old content");
    auto downloader = MakeDownloader(THttpOptions{}); // limits of a minute and more
    QElapsedTimer clock;
    clock.start();
    std::thread signal([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        AbortRequest::Request();
    });
    EXPECT_THROW(downloader->DownloadVitrelle("17", target), EDownloadCancelled);
    signal.join();
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(ReadFileBytes(target), "old content");
    EXPECT_EQ(Folder.Entries(), QStringList{"17.xml"}) << "nothing partial stays";

    const int requests = Server.TotalRequests();
    auto another = MakeDownloader(THttpOptions{});
    EXPECT_THROW(another->DownloadVitrelle("gallery", Folder.File("gallery.xml")), EDownloadCancelled);
    EXPECT_EQ(Server.TotalRequests(), requests) << "no request once the process is to end";
    EXPECT_EQ(Folder.Entries(), QStringList{"17.xml"});
    Server.ReleaseHangs();
}

TEST_F(HttpTransport, AnErrorNamesTheUrlAsItIs)
{
    // "%2F" is a common escape in ids from the server; a message built in steps would splice into it.
    auto downloader = MakeDownloader();
    try {
        downloader->DownloadVitrelle("a%2Fb", Folder.File("x.xml"));
        FAIL() << "no error";
    } catch (const EHttpError& error) {
        EXPECT_EQ(error.Message(),
                  "Cannot download " + Url("/vitrelles/a%2Fb.xml") + ": returned HTTP code 404");
    }
}

TEST_F(HttpTransport, StreamsALargeBodyWithoutHoldingIt)
{
    constexpr qint64 size = 320LL * 1024 * 1024;
    Server.SetGenerated("/media/large.bin", size);
    THttpOptions options = ShortHttpOptions(nullptr);
    options.Sizes.MaxFileSize = size; // far more than a list or vitrelle file may have
    auto downloader = MakeDownloader(options);
    ResetPeakMemory();
    const qint64 before = PeakMemoryKiB();
    ASSERT_TRUE(downloader->Download(Url("/media/large.bin"), Folder.File("large.bin")));
    const qint64 growth = PeakMemoryKiB() - before;
    // Far below the body's size; the sanitizers' own bookkeeping takes some tens of MiB.
    EXPECT_LT(growth, size / 4 / 1024) << "peak memory grew by " << growth << " KiB";
    QFile file(Folder.File("large.bin"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.size(), size);
    for (const qint64 offset : {qint64(0), size / 3, size - 1}) {
        file.seek(offset);
        EXPECT_EQ(file.read(1).at(0), TTestContentServer::GeneratedByte(offset)) << offset;
    }
}

// ---- the four operations ----

TEST_F(HttpTransport, ResourceComesFromItsOwnUrlOrTheMediaUrl)
{
    Server.SetFile("/media/p.jpg", "from media url");
    Server.SetFile("/elsewhere/fixed.jpg", "from own url");
    Server.SetFile("/templates/style.css", "from own template");
    auto downloader = MakeDownloader();

    const TVitrelleResource plain("p.jpg", "", "Photo/img");
    ASSERT_TRUE(downloader->DownloadResource(&plain, Folder.File("1")));
    EXPECT_EQ(ReadFileBytes(Folder.File("1")), "from media url");

    const TVitrelleResource fixed("p.jpg", Url("/elsewhere/fixed.jpg"), "Photo/img");
    ASSERT_TRUE(downloader->DownloadResource(&fixed, Folder.File("2")));
    EXPECT_EQ(ReadFileBytes(Folder.File("2")), "from own url");

    const TVitrelleResource templated("style.css", Url("/templates/%s"), "Photo");
    ASSERT_TRUE(downloader->DownloadResource(&templated, Folder.File("3")));
    EXPECT_EQ(ReadFileBytes(Folder.File("3")), "from own template");

    const int requests = Server.TotalRequests();
    const TVitrelleResource noId("", "", "Photo");
    EXPECT_FALSE(downloader->DownloadResource(&noId, Folder.File("4")));
    EXPECT_FALSE(downloader->DownloadResource(nullptr, Folder.File("4")));
    EXPECT_EQ(Server.TotalRequests(), requests);
}

TEST_F(HttpTransport, AResourceUrlCannotReadLocalFiles)
{
    const QString secret = Folder.Write("secret.txt", "local secret");
    const TVitrelleResource local("x", "file://" + secret, "Photo");
    auto downloader = MakeDownloader();
    EXPECT_THROW(downloader->DownloadResource(&local, Folder.File("copy")), EHttpError);
    EXPECT_FALSE(QFile::exists(Folder.File("copy")));
}

TEST_F(HttpTransport, ListAndVitrelleUrls)
{
    Settings.VitrelleListURL = Url("/list/all%%20vitrelles.xml");
    Server.SetFile("/list/all vitrelles.xml", "<Vitrelles/>");
    Server.SetFile("/vitrelles/17.xml", "<Vitrelle/>");
    auto downloader = MakeDownloader();
    ASSERT_TRUE(downloader->DownloadVitrelleList(Folder.File("list.xml")));
    ASSERT_TRUE(downloader->DownloadVitrelle("17", Folder.File("17.xml")));
    EXPECT_TRUE(Server.Targets().contains("/list/all%20vitrelles.xml"))
        << Server.Targets().join(' ').toStdString();
    EXPECT_EQ(ReadFileBytes(Folder.File("17.xml")), "<Vitrelle/>");
}

TEST(CreateDownloader, PicksHttpOrRefuses)
{
    EXPECT_EQ(CreateDownloader(0, nullptr), nullptr);
    TVitrelleCenterSettings settings("/nowhere");
    const THttpOptions options = ShortHttpOptions(std::make_shared<TManualClock>());
    EXPECT_NE(dynamic_cast<THttpDownloader*>(CreateDownloader(0, &settings, options).get()), nullptr);
    try {
        CreateDownloader(1, &settings);
        FAIL() << "only HTTP exists";
    } catch (const EVitrelleError& error) {
        EXPECT_EQ(error.Message(), "HTTP download is the only protocol supported in this version");
    }
}

// ---- what the server may make the program store ----

struct TSizeCase
{
    const char* Name;
    bool Media;
    qint64 Size;
    bool Announced;
    qint64 FreeBytes; // of 1,000,000,000 on the target's file system: 50,000,000 are the reserve
    bool Stored;
};

void PrintTo(const TSizeCase& c, std::ostream* out)
{
    *out << c.Name;
}

class SizeLimit : public HttpTransport, public ::testing::WithParamInterface<TSizeCase>
{
};

TEST_P(SizeLimit, RefusesFilesTooLargeOrFillingTheDiskAndKeepsNothing)
{
    const TSizeCase& c = GetParam();
    const QString path = c.Media ? "/media/a.bin" : "/vitrelles/a.xml";
    if (c.Announced)
        Server.SetGenerated(path, c.Size);
    else
        Server.SetGeneratedUnannounced(path, c.Size);
    THttpOptions options = ShortHttpOptions(nullptr);
    options.Sizes.MaxFileSize = 1000;
    options.Sizes.MaxMediaSize = 300000;
    std::vector<QString> asked;
    options.Sizes.DiskSpace = [&](const QString& folder, qint64& available, qint64& total) {
        asked.push_back(folder);
        available = c.FreeBytes;
        total = 1000000000;
        return true;
    };
    auto downloader = MakeDownloader(options);
    const QString target = Folder.Write("a.bin", "old content");
    const TVitrelleResource media("a.bin", "", "");
    const auto fetch = [&] {
        return c.Media ? downloader->DownloadResource(&media, target)
                       : downloader->Download(Url(path), target);
    };
    if (c.Stored) {
        ASSERT_TRUE(fetch());
        EXPECT_EQ(QFileInfo(target).size(), c.Size);
    } else {
        EXPECT_THROW(fetch(), EDownloadRefused);
        EXPECT_EQ(ReadFileBytes(target), "old content");
    }
    EXPECT_EQ(Folder.Entries(), QStringList{"a.bin"});
    EXPECT_LE(asked.size(), c.Media ? 1u : 0u) << "media only, once for a small file";
    for (const QString& folder : asked)
        EXPECT_EQ(folder, Folder.Path());
}

INSTANTIATE_TEST_SUITE_P(
    Files, SizeLimit,
    ::testing::Values(TSizeCase{"FileAtTheLimit", false, 1000, true, 0, true},
                      TSizeCase{"FileAnnouncedOverTheLimit", false, 1001, true, 0, false},
                      TSizeCase{"FileSentWithoutEndUnannounced", false, 5000000, false, 0, false},
                      TSizeCase{"MediaAtTheLimit", true, 300000, true, 900000000, true},
                      TSizeCase{"MediaAnnouncedOverTheLimit", true, 300001, true, 900000000, false},
                      TSizeCase{"MediaSentWithoutEndUnannounced", true, 50000000, false, 900000000, false},
                      TSizeCase{"MediaLeavingTheReserveFree", true, 1500, true, 50001500, true},
                      TSizeCase{"MediaEatingIntoTheReserve", true, 1500, true, 50001499, false},
                      TSizeCase{"UnannouncedMediaOnAFullDisk", true, 1500, false, 49999999, false}),
    [](const auto& info) { return std::string(info.param.Name); });

// A transfer runs on a worker (a scheduled update, the operator's list download): asked to stop, the worker
// gives a transfer that waits on the server up within a tenth of a second or so, whatever the server does,
// and nothing of the file stays.
struct TStopCase
{
    const char* Name;
    void (*Break)(TTestContentServer& server);
};

void PrintTo(const TStopCase& c, std::ostream* out)
{
    *out << c.Name;
}

class StoppedWorker : public HttpTransport, public ::testing::WithParamInterface<TStopCase>
{
};

TEST_P(StoppedWorker, GivesAHungTransferUpAtOnce)
{
    Server.SetFile("/vitrelles/gallery.xml", "<Vitrelle/>");
    GetParam().Break(Server);
    const QString target = Folder.Write("17.xml", "old content");
    auto downloader = MakeDownloader(THttpOptions{}); // limits of a minute and more; no cancel check set
    ASSERT_TRUE(downloader->DownloadVitrelle("gallery", Folder.File("gallery.xml"))) << "logged in";
    auto worker = std::make_unique<TWorkQueue>("transfers");
    std::atomic<bool> cancelled = false;
    worker->Post([&] {
        try {
            downloader->DownloadVitrelle("17", target);
        } catch (const EDownloadCancelled&) {
            cancelled = true;
        }
    });
    ASSERT_TRUE(ServeEventsUntil([&] { return Server.Requests("/vitrelles/17.xml") == 1; }));
    ServeEventsUntil([] { return false; }, 300);
    QElapsedTimer clock;
    clock.start();
    worker.reset(); // asks the job to stop and waits for its end
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_TRUE(cancelled.load());
    EXPECT_EQ(ReadFileBytes(target), "old content");
    EXPECT_EQ(Folder.Entries(), (QStringList{"17.xml", "gallery.xml"})) << "nothing partial stays";
    Server.ReleaseHangs();
}

INSTANTIATE_TEST_SUITE_P(Cases, StoppedWorker,
                         ::testing::Values(TStopCase{"ServerSilentBeforeAnswering",
                                                     [](TTestContentServer& server) {
                                                         server.SetHang("/vitrelles/17.xml");
                                                     }},
                                           TStopCase{"ServerSilentInTheBody",
                                                     [](TTestContentServer& server) {
                                                         server.SetStallMidBody("/vitrelles/17.xml", 100000);
                                                     }}),
                         [](const auto& info) { return std::string(info.param.Name); });
