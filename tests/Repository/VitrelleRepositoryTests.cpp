#include "RepositoryFixture.h"
#include "ScheduleAction.h"
#include "WorkQueue.h"

#include <QDir>
#include <QFileInfo>

// ---- plain file names ----

struct TNameCase
{
    QString Name;
    bool Plain;
};

void PrintTo(const TNameCase& c, std::ostream* out)
{
    *out << '"';
    for (const QChar ch : c.Name)
        *out << (ch.unicode() == 0 ? std::string("\\0") : QString(ch).toStdString());
    *out << '"';
}

class PlainFileName : public ::testing::TestWithParam<TNameCase>
{
};

TEST_P(PlainFileName, AcceptsOnlyNamesThatStayInTheirFolder)
{
    EXPECT_EQ(IsPlainFileName(GetParam().Name), GetParam().Plain);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PlainFileName,
    ::testing::Values(TNameCase{"17", true}, TNameCase{"photo 1.jpg", true}, TNameCase{".hidden", true},
                      TNameCase{"a..b", true}, TNameCase{"", false}, TNameCase{".", false},
                      TNameCase{"..", false}, TNameCase{"../../x", false}, TNameCase{"a/b", false},
                      TNameCase{"/etc/passwd", false}, TNameCase{"a\\b", false},
                      TNameCase{QString::fromUtf8("a\0b", 3), false}),
    [](const auto& info) { return CaseName(info.index, info.param.Name.toStdString()); });

// ---- cache layout ----

TEST_F(RepositoryTest, CachePathsFollowTheLayout)
{
    EXPECT_EQ(Repository->RepositoryFolder(), Cache());
    EXPECT_EQ(Repository->ListFilePath(), Cache("VitrelleList.xml"));
    EXPECT_EQ(Repository->VitrelleFilePath("17"), Cache("17.xml"));

    App.Write("Cache/17.xml", Data("17.xml"));
    TVitrelle vitrelle("17", -1);
    ASSERT_TRUE(vitrelle.LoadFromFile(Cache("17.xml")));
    const TDiapositive* photo = vitrelle.DiapositiveAt(0);
    EXPECT_EQ(Repository->DiapositiveFilePath(photo), Cache("Photo/s1.html"));
    EXPECT_EQ(Repository->ResourceFilePath(photo->Resources.at(0).get()), Cache("Photo/img/p1.jpg"));
    EXPECT_EQ(Repository->ResourceFilePath(photo->DiapositiveType->Resources.at(0).get()),
              Cache("Photo/style.css"));
    // A type without media folder keeps its slides' media in the type folder.
    const TDiapositive* text = vitrelle.DiapositiveAt(2);
    EXPECT_EQ(Repository->ResourceFilePath(text->Resources.at(0).get()), Cache("Text/t.png"));
    EXPECT_TRUE(QFileInfo(Cache("Photo/img")).isDir());
    EXPECT_TRUE(QFileInfo(Cache("Text")).isDir());

    const TDiapositive untyped(0);
    EXPECT_TRUE(Repository->DiapositiveFilePath(&untyped).isEmpty());
    EXPECT_TRUE(Repository->DiapositiveFilePath(nullptr).isEmpty());
    EXPECT_TRUE(Log.Lines().filter("TVitrelleRepository").isEmpty()) << LogText(Log);
}

TEST_F(RepositoryTest, ConfiguredPathsAreMadeAbsolute)
{
    const QString elsewhere = App.File("elsewhere");
    QDir().mkpath(elsewhere);
    Settings->SetRepositoryPath(elsewhere);
    Settings->SetVitrelleListFilePath(App.Write("lists/mine.xml", Data("VitrelleList.xml")));
    EXPECT_EQ(Repository->RepositoryFolder(), elsewhere + "/");
    EXPECT_EQ(Repository->ListFilePath(), App.File("lists/mine.xml"));
    EXPECT_EQ(Repository->VitrelleFilePath("gallery"), elsewhere + "/gallery.xml");
}

TEST_F(RepositoryTest, NamesThatLeaveTheCacheAreRefused)
{
    for (const QString& id : {QString("../../x"), QString("a/b"), QString(".."), QString(),
                              QString::fromUtf8("a\0b", 3), QString("VitrelleList")})
        EXPECT_TRUE(Repository->VitrelleFilePath(id).isEmpty()) << id.toStdString();
    EXPECT_EQ(ErrorLines(Log).size(), 6) << LogText(Log);
    EXPECT_TRUE(Log.Contains("Vitrelle ID 'a\\x00b' is not a plain file name: refused")) << LogText(Log);

    const TVitrelleResource escaping("../../escape.jpg", "", "Photo/img");
    EXPECT_TRUE(Repository->ResourceFilePath(&escaping).isEmpty());
    const TVitrelleResource escapingFolder("p.jpg", "", "Photo/../../..");
    EXPECT_TRUE(Repository->ResourceFilePath(&escapingFolder).isEmpty());
    const TVitrelleResource withNul(QString::fromUtf8("p\0.jpg", 6), "", "Photo/img");
    EXPECT_TRUE(Repository->ResourceFilePath(&withNul).isEmpty());
    const TVitrelleResource noId("", "", "Photo/img");
    EXPECT_TRUE(Repository->ResourceFilePath(&noId).isEmpty());
    EXPECT_EQ(ErrorLines(Log).size(), 9) << "an empty resource id is skipped silently";
    EXPECT_FALSE(QFileInfo::exists(App.Path() + "/escape.jpg"));
}

// ---- the list ----

TEST_F(RepositoryTest, ACachedListIsLoadedWithoutAskingTheServer)
{
    CacheList();
    ASSERT_NE(Repository->LoadList(), nullptr);
    EXPECT_EQ(Server.TotalRequests(), 0);
    ASSERT_EQ(Repository->Count(), 2);
    EXPECT_EQ(Repository->At(1)->Name, "Gallery");
    ASSERT_EQ(Repository->DownloaderCount(), 2);
    EXPECT_EQ(Repository->DownloaderAt(0)->Vitrelle(), Repository->At(0));
    EXPECT_EQ(Scheduler->FindSource("Vitrelle 17 downloader"), Repository->DownloaderAt(0));
    EXPECT_EQ(Scheduler->FindSource("VITRELLE GALLERY DOWNLOADER"), Repository->DownloaderAt(1));
    EXPECT_EQ(Repository->FindByName("lobby"), Repository->At(0));
}

TEST_F(RepositoryTest, AMissingListIsFetched)
{
    ASSERT_NE(Repository->LoadList(), nullptr) << LogText(Log);
    EXPECT_EQ(Server.LoginRequests(), 1);
    EXPECT_EQ(Server.Requests("/list/VitrelleList.xml"), 1);
    EXPECT_EQ(ReadFileBytes(Cache("VitrelleList.xml")), Data("VitrelleList.xml"));
    EXPECT_EQ(Repository->Count(), 2);
    EXPECT_EQ(Repository->DownloaderCount(), 2);
}

TEST_F(RepositoryTest, WithoutServerAMissingListGivesNothing)
{
    Settings->HttpSettings() = THttpSettings();
    EXPECT_EQ(Repository->LoadList(), nullptr);
    EXPECT_EQ(Repository->Count(), 0);
    EXPECT_EQ(Repository->DownloaderCount(), 0);
    EXPECT_EQ(Server.TotalRequests(), 0);
}

TEST_F(RepositoryTest, AServerErrorWhileFetchingTheListIsRaised)
{
    Server.SetStatus("/list/VitrelleList.xml", 500);
    EXPECT_THROW(Repository->LoadList(), EHttpError);
    EXPECT_FALSE(QFile::exists(Cache("VitrelleList.xml")));
    EXPECT_EQ(Repository->DownloaderCount(), 0);
}

TEST_F(RepositoryTest, AListWithAWrongRootKeepsTheOldVitrelles)
{
    CacheList();
    ASSERT_NE(Repository->LoadList(), nullptr);
    TVitrelle* lobby = Repository->At(0);
    CacheList("WrongRootList.xml");
    EXPECT_EQ(Repository->LoadList(), nullptr);
    ASSERT_EQ(Repository->Count(), 2);
    EXPECT_EQ(Repository->At(0), lobby);
    EXPECT_EQ(Repository->DownloaderCount(), 2) << "downloaders are rebuilt for the old vitrelles";
}

// ---- a list fetched again: taken only when it parses ----

enum class TListOutcome
{
    Loaded,  // the list file is loaded and returned
    Nothing, // null: nothing changed
    Raised
};

struct TRefetchCase
{
    const char* Name;
    bool OperatorAsks; // DownloadAndLoadList on a loaded list; otherwise LoadList at start-up
    QByteArray Cached;
    int ServerStatus; // 0: no server configured; 200: ServerList is served
    QByteArray ServerList;
    TListOutcome Outcome;
    QStringList Ids; // the listed vitrelles afterwards
    bool CacheReplaced;
};

void PrintTo(const TRefetchCase& c, std::ostream* out)
{
    *out << c.Name;
}

const QByteArray BrokenList = "<Vitrelles>\n  <Vitrelle id=\"17\" name=\"Lobby\"\n</Vitrelles>";
const QByteArray OldList = "<Vitrelles><Vitrelle id=\"old\" name=\"Old\"/></Vitrelles>";
const QByteArray NewList = "<Vitrelles><Vitrelle id=\"17\"/><Vitrelle id=\"gallery\"/></Vitrelles>";

class ListRefetch : public RepositoryTest, public ::testing::WithParamInterface<TRefetchCase>
{
};

TEST_P(ListRefetch, ReplacesTheCachedListOnlyByOneThatParses)
{
    const TRefetchCase& c = GetParam();
    App.Write("Cache/VitrelleList.xml", c.Cached);
    if (c.OperatorAsks) {
        ASSERT_NE(Repository->LoadList(), nullptr);
    }
    if (c.ServerStatus == 0)
        Settings->HttpSettings() = THttpSettings();
    else if (c.ServerStatus == 200)
        Server.SetFile("/list/VitrelleList.xml", c.ServerList);
    else
        Server.SetStatus("/list/VitrelleList.xml", c.ServerStatus);
    Server.ResetCounts();

    TVitrelleList* loaded = nullptr;
    bool raised = false;
    try {
        loaded = c.OperatorAsks ? Repository->DownloadAndLoadList() : Repository->LoadList();
    } catch (const EVitrelleError&) {
        raised = true;
    }
    EXPECT_EQ(raised, c.Outcome == TListOutcome::Raised) << LogText(Log);
    EXPECT_EQ(loaded != nullptr, c.Outcome == TListOutcome::Loaded) << LogText(Log);
    QStringList ids;
    for (const auto& vitrelle : Repository->List())
        ids << vitrelle->Id;
    EXPECT_EQ(ids, c.Ids);
    EXPECT_EQ(Repository->DownloaderCount(),
              c.Outcome == TListOutcome::Raised && !c.OperatorAsks ? 0 : static_cast<int>(c.Ids.size()));
    EXPECT_EQ(Server.Requests("/list/VitrelleList.xml"), c.ServerStatus == 0 ? 0 : 1);
    EXPECT_EQ(ReadFileBytes(Cache("VitrelleList.xml")), c.CacheReplaced ? c.ServerList : c.Cached);
    EXPECT_EQ(QDir(Cache()).entryList(QDir::Files | QDir::Hidden), QStringList{"VitrelleList.xml"})
        << "nothing fetched stays beside the list";
    // The broken cached list is logged once, by the list; nothing else is logged as an error here.
    EXPECT_EQ(ErrorLines(Log).filter("Error while parsing vitrelle list").size(),
              c.Cached == BrokenList ? 1 : 0)
        << LogText(Log);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListRefetch,
    ::testing::Values(
        TRefetchCase{"BrokenCacheIsFetchedAgain",
                     false,
                     BrokenList,
                     200,
                     NewList,
                     TListOutcome::Loaded,
                     {"17", "gallery"},
                     true},
        TRefetchCase{"BrokenCacheAndBrokenAnswer",
                     false,
                     BrokenList,
                     200,
                     BrokenList + " ",
                     TListOutcome::Raised,
                     {},
                     false},
        TRefetchCase{
            "BrokenCacheAndAServerError", false, BrokenList, 500, {}, TListOutcome::Raised, {}, false},
        TRefetchCase{"BrokenCacheWithoutServer", false, BrokenList, 0, {}, TListOutcome::Raised, {}, false},
        TRefetchCase{"OperatorGetsTheServersList",
                     true,
                     OldList,
                     200,
                     NewList,
                     TListOutcome::Loaded,
                     {"17", "gallery"},
                     true},
        TRefetchCase{
            "OperatorAndABrokenAnswer", true, OldList, 200, BrokenList, TListOutcome::Raised, {"old"}, false},
        TRefetchCase{"OperatorAndAnAnswerThatIsNoList",
                     true,
                     OldList,
                     200,
                     "<html><body/></html>",
                     TListOutcome::Raised,
                     {"old"},
                     false},
        TRefetchCase{"OperatorAndNoContent", true, OldList, 204, {}, TListOutcome::Nothing, {"old"}, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(RepositoryTest, ListedIdsThatAreNotPlainNamesGetNoDownloader)
{
    CacheList("UnsafeIdsList.xml");
    const QStringList before = QDir(App.Path() + "/..").entryList();
    ASSERT_NE(Repository->LoadList(), nullptr);
    EXPECT_EQ(Repository->Count(), 7);
    ASSERT_EQ(Repository->DownloaderCount(), 1);
    EXPECT_EQ(Repository->DownloaderAt(0)->Vitrelle()->Id, "17");
    EXPECT_EQ(ErrorLines(Log).size(), 6) << LogText(Log);
    for (const char* id : {"../../x", "a/b", "..", "", "a\\b", "VitrelleList"})
        EXPECT_EQ(Repository->GetVitrelle(id), nullptr) << id;
    EXPECT_EQ(Server.Requests("/vitrelles/../../x.xml") + Server.Requests("/vitrelles/a/b.xml"), 0);
    EXPECT_EQ(QDir(App.Path() + "/..").entryList(), before);
    EXPECT_EQ(QDir(Cache()).entryList(QDir::Files | QDir::Hidden), QStringList{"VitrelleList.xml"});
}

TEST_F(RepositoryTest, LoadListHandsTheUpdateActionsToTheNewDownloaders)
{
    CacheList();
    ASSERT_NE(Repository->LoadList(), nullptr);
    ASSERT_NE(Scheduler->GetAction("Vitrelle 17 downloader", 0), nullptr);
    ASSERT_NE(Scheduler->GetAction("Vitrelle gallery downloader", 0), nullptr);
    EXPECT_EQ(Scheduler->ActionCount(), 2);

    ASSERT_NE(Repository->LoadList(), nullptr);
    ASSERT_EQ(Scheduler->ActionCount(), 2);
    for (const TScheduleAction* action : Scheduler->Actions())
        EXPECT_TRUE(action->Source == Repository->DownloaderAt(0) ||
                    action->Source == Repository->DownloaderAt(1))
            << "no action of a freed downloader is left";
    EXPECT_EQ(Scheduler->Sources().size(), 2u);
    EXPECT_EQ(Scheduler->FindSource("Vitrelle 17 downloader"), Repository->DownloaderAt(0));

    Repository.reset();
    EXPECT_TRUE(Scheduler->Sources().empty());
}

TEST_F(RepositoryTest, OneDownloaderPerVitrelleWhateverTheLetterCase)
{
    CacheList();
    ASSERT_NE(Repository->LoadList(), nullptr);
    TVitrelleDownloader* gallery = Repository->GetDownloader("gallery");
    ASSERT_NE(gallery, nullptr);
    EXPECT_EQ(Repository->GetDownloader("GALLERY"), gallery);
    EXPECT_EQ(Repository->GetDownloader("unknown"), nullptr);
    EXPECT_EQ(Repository->GetVitrelle("unknown"), nullptr);
    EXPECT_EQ(Repository->GetVitrelle(""), nullptr);
    EXPECT_EQ(Repository->DownloaderCount(), 2);
    EXPECT_EQ(Server.TotalRequests(), 0);
}

TEST_F(RepositoryTest, GetVitrelleFetchesLoadsAndStartsTheMedia)
{
    CacheList();
    ASSERT_NE(Repository->LoadList(), nullptr);
    const std::shared_ptr<TVitrelle> lobby = Repository->GetVitrelle("17");
    ASSERT_NE(lobby, nullptr) << LogText(Log);
    EXPECT_EQ(lobby.get(), Repository->At(0));
    EXPECT_EQ(lobby->Diapositives().size(), 3u);
    EXPECT_EQ(ReadFileBytes(Cache("17.xml")), Data("17.xml"));
    TVitrelleDownloader* downloader = Repository->GetDownloader("17");
    ASSERT_TRUE(WaitForMedia(*downloader));
    EXPECT_EQ(ReadFileBytes(Cache("Photo/img/p2.jpg")), "content of /media/p2.jpg");
    EXPECT_EQ(ReadFileBytes(Cache("Text/text.css")), "content of /templates/Text/text.css");

    // Every play start reloads the cached file; nothing is fetched again.
    const int requests = Server.TotalRequests();
    EXPECT_EQ(Repository->GetVitrelle("17"), lobby);
    ASSERT_TRUE(WaitForMedia(*downloader));
    EXPECT_EQ(Server.TotalRequests(), requests);
}

TEST_F(RepositoryTest, AHeldVitrelleOutlivesAReloadOfTheList)
{
    CacheList();
    ASSERT_NE(Repository->LoadList(), nullptr);
    const std::shared_ptr<TVitrelle> playing = Repository->GetVitrelle("17");
    ASSERT_NE(playing, nullptr);
    ASSERT_NE(Repository->LoadList(), nullptr); // the operator's list download, while a player plays
    EXPECT_NE(Repository->FindById("17"), playing.get());
    EXPECT_EQ(playing->Name, "Lobby");
    ASSERT_EQ(playing->Diapositives().size(), 3u);
    EXPECT_EQ(playing->DiapositiveAt(2)->Id, "s3");
    EXPECT_EQ(Repository->GetVitrelle("17")->Diapositives().size(), 3u);
}

// A scheduled play asks for a vitrelle whose file is not cached yet: the file is fetched on the scheduler's
// worker while the main thread goes on serving its events, the vitrelle is loaded on the main thread, and a
// worker asked to stop gives a hung transfer up at once.
struct TWorkerGetCase
{
    const char* Name;
    bool Hangs; // until the worker is stopped; otherwise the file comes late
};

void PrintTo(const TWorkerGetCase& c, std::ostream* out)
{
    *out << c.Name;
}

class GetVitrelleOnAWorker : public RepositoryTest, public ::testing::WithParamInterface<TWorkerGetCase>
{
};

TEST_P(GetVitrelleOnAWorker, FetchesThereAndLoadsOnTheMainThread)
{
    CacheList();
    ASSERT_NE(Repository->LoadList(), nullptr);
    if (GetParam().Hangs)
        Server.SetHang("/vitrelles/17.xml");
    else
        Server.SetDelayedFile("/vitrelles/17.xml", Data("17.xml"), std::chrono::milliseconds(600));
    auto lane = std::make_unique<TWorkQueue>("play lane");
    std::shared_ptr<TVitrelle> got;
    bool ended = false;
    std::exception_ptr raised;
    lane->Post([&] { got = Repository->GetVitrelle("17"); },
               [&](std::exception_ptr error) {
                   raised = error;
                   ended = true;
               });
    const TMainThreadPulse pulse;
    ASSERT_TRUE(WaitForRequest("/vitrelles/17.xml"));
    if (GetParam().Hangs) {
        ServeEventsUntil([] { return false; }, 300);
        EXPECT_LT(pulse.LongestGap(), 150) << "the main thread was held";
        QElapsedTimer stop;
        stop.start();
        lane.reset();
        EXPECT_LT(stop.elapsed(), 1000) << "the hung transfer is given up at once";
        EXPECT_FALSE(QFile::exists(Cache("17.xml")));
        EXPECT_FALSE(Repository->FindById("17")->HasContent());
        Server.ReleaseHangs();
        return;
    }
    ASSERT_TRUE(ServeEventsUntil([&] { return ended; }));
    EXPECT_LT(pulse.LongestGap(), 150) << "the main thread was held";
    EXPECT_EQ(raised, nullptr);
    ASSERT_NE(got, nullptr) << LogText(Log);
    EXPECT_EQ(got.get(), Repository->At(0));
    EXPECT_EQ(got->Diapositives().size(), 3u);
    EXPECT_EQ(Server.Requests("/vitrelles/17.xml"), 1);
    EXPECT_TRUE(Log.Lines().contains("[3] TVitrelleDownloader: Download vitrelle ID = '17'")) << LogText(Log);
    ASSERT_TRUE(WaitForMedia(*Repository->GetDownloader("17")));
    EXPECT_EQ(ReadFileBytes(Cache("Photo/img/p2.jpg")), "content of /media/p2.jpg");
}

INSTANTIATE_TEST_SUITE_P(Cases, GetVitrelleOnAWorker,
                         ::testing::Values(TWorkerGetCase{"TheServerAnswersLate", false},
                                           TWorkerGetCase{"TheServerHangsAndTheWorkerIsStopped", true}),
                         [](const auto& info) { return std::string(info.param.Name); });
