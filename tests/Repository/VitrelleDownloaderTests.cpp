#include "RecordingFileSink.h"
#include "RepositoryFixture.h"
#include "ScheduleAction.h"
#include "ScheduleActionList.h"
#include "WorkQueue.h"

#include <QDir>

#include <map>

class VitrelleDownloader : public RepositoryTest
{
protected:
    void SetUp() override
    {
        RepositoryTest::SetUp();
        CacheList();
        ASSERT_NE(Repository->LoadList(), nullptr);
        Lobby = Repository->GetDownloader("17");
        ASSERT_NE(Lobby, nullptr);
    }

    // Loads vitrelle 17 and waits until its media are fetched.
    void LoadLobby()
    {
        ASSERT_TRUE(Lobby->Load()) << LogText(Log);
        ASSERT_TRUE(WaitForMedia(*Lobby));
    }
    std::vector<int> Statuses() const
    {
        std::vector<int> statuses;
        for (const TVitrelleResource* resource : Lobby->MediaList())
            statuses.push_back(resource->Status);
        return statuses;
    }
    QStringList MediaFiles() const
    {
        return {Cache("Photo/style.css"), Cache("Text/text.css"), Cache("Photo/img/p1.jpg"),
                Cache("Photo/img/p2.jpg"), Cache("Text/t.png")};
    }

    TVitrelleDownloader* Lobby = nullptr;
};

TEST_F(VitrelleDownloader, IsAScheduleSourceForUpdates)
{
    EXPECT_EQ(Lobby->GetSourceName(), "Vitrelle 17 downloader");
    const std::unique_ptr<TScheduleAction> action = Lobby->CreateDefaultAction(7);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->Source, Lobby);
    EXPECT_EQ(action->Action, 0);
    EXPECT_EQ(action->Periodicity.Kind, 3);
    EXPECT_EQ(action->Periodicity.Time, QTime(0, 0));
    EXPECT_FALSE(action->Enabled);
    EXPECT_TRUE(action->Params.isEmpty());
    EXPECT_EQ(Lobby->GetActionDescription(action.get()), "Update vitrelle 'Lobby' (ID = 17)");
    action->Action = 1;
    EXPECT_EQ(Lobby->GetActionDescription(action.get()), "");
    EXPECT_FALSE(Lobby->ExecuteAction(action.get()));
    EXPECT_FALSE(Lobby->ExecuteAction(nullptr));
    EXPECT_EQ(Lobby->GetActionDescription(nullptr), "");

    const TVitrelleDownloader none(Repository.get(), nullptr);
    EXPECT_EQ(none.GetSourceName(), "Downloader");
}

TEST_F(VitrelleDownloader, UpdatesDoNotRunOffline)
{
    TScheduleAction* update = Scheduler->GetAction("Vitrelle 17 downloader", 0);
    ASSERT_NE(update, nullptr);
    update->Enabled = true; // due since midnight
    Network->Online = false;
    Scheduler->Tick();
    EXPECT_EQ(Server.TotalRequests(), 0);
    EXPECT_EQ(Scheduler->ActionCount(), 1);

    Network->Online = true;
    Scheduler->Tick();
    EXPECT_EQ(Server.Requests("/vitrelles/17.xml"), 1) << "the update held back offline runs once online";
    ASSERT_TRUE(WaitForMedia(*Lobby));
}

TEST_F(VitrelleDownloader, ACachedVitrelleLoadsWithoutRequestAndFetchesMissingMedia)
{
    App.Write("Cache/17.xml", Data("17.xml"));
    App.Write("Cache/Photo/img/p1.jpg", "cached picture");
    ASSERT_TRUE(Lobby->Load());
    EXPECT_EQ(Server.Requests("/vitrelles/17.xml"), 0);
    ASSERT_TRUE(WaitForMedia(*Lobby));
    EXPECT_EQ(Statuses(), (std::vector<int>{1, 1, 1, 1, 1}));
    EXPECT_EQ(Server.Requests("/media/p1.jpg"), 0) << "a cached file is not fetched";
    EXPECT_EQ(ReadFileBytes(Cache("Photo/img/p1.jpg")), "cached picture");
    EXPECT_EQ(Server.Requests("/media/p2.jpg"), 1);
    EXPECT_EQ(Server.Requests("/templates/Text/t.png"), 1) << "media of a type without media URL";
    EXPECT_EQ(Lobby->MediaList().size(), 5u) << "an empty id never enters the media list";
    EXPECT_EQ(Log.Lines().filter("TVitrelleDownloader").mid(0, 3),
              (QStringList{"[3] TVitrelleDownloader: Load vitrelle ID = '17'...",
                           "[3] TVitrelleDownloader: Vitrelle ID = '17' was successfully loaded",
                           "[3] TVitrelleDownloader: Prepare download of vitrelle 'Lobby' (ID = '17')"}));
}

TEST_F(VitrelleDownloader, AFailedResourceIsTriedAgainAtTheNextStart)
{
    Server.SetStatus("/media/p2.jpg", 204);
    LoadLobby();
    EXPECT_EQ(Statuses(), (std::vector<int>{1, 1, 1, 255, 1}));
    EXPECT_FALSE(QFile::exists(Cache("Photo/img/p2.jpg")));

    Server.SetFile("/media/p2.jpg", "late picture");
    LoadLobby();
    EXPECT_EQ(Statuses(), (std::vector<int>{1, 1, 1, 1, 1}));
    EXPECT_EQ(ReadFileBytes(Cache("Photo/img/p2.jpg")), "late picture");
    EXPECT_EQ(Server.Requests("/media/p1.jpg"), 1);
}

// One resource that cannot be had must not keep the others out of the cache: it is logged, marked failed and
// passed over, and asked for again at the next run.
struct TFailingMediaCase
{
    const char* Name;
    std::function<void(TTestContentServer&, const TTempFolder&)> Break;
    QString Path; // requested, and failing
};

void PrintTo(const TFailingMediaCase& failure, std::ostream* out)
{
    *out << failure.Name;
}

class FailingMedia : public VitrelleDownloader, public ::testing::WithParamInterface<TFailingMediaCase>
{
};

TEST_P(FailingMedia, IsSkippedAndTriedAgainAtTheNextRun)
{
    GetParam().Break(Server, App);
    LoadLobby();
    EXPECT_EQ(Statuses(), (std::vector<int>{1, 1, 255, 1, 1})) << LogText(Log);
    for (const char* path : {"/media/p2.jpg", "/templates/Text/t.png"})
        EXPECT_EQ(Server.Requests(path), 1) << path;
    EXPECT_EQ(ErrorLines(Log).filter("TVitrelleDownloader: ").size(), 1) << LogText(Log);
    EXPECT_EQ(QDir(Cache("Photo/img")).entryList(QDir::Hidden | QDir::Files),
              QDir(Cache("Photo/img")).entryList(QDir::Files))
        << "no temporary file left";

    LoadLobby();
    EXPECT_EQ(Server.Requests(GetParam().Path), 2) << "the failed one is asked for again";
    EXPECT_EQ(Server.Requests("/media/p2.jpg"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    VitrelleDownloader, FailingMedia,
    ::testing::Values(TFailingMediaCase{"NotFound",
                                        [](TTestContentServer& server, const TTempFolder&) {
                                            server.SetStatus("/media/p1.jpg", 404);
                                        },
                                        "/media/p1.jpg"},
                      TFailingMediaCase{"ServerError",
                                        [](TTestContentServer& server, const TTempFolder&) {
                                            server.SetStatus("/media/p1.jpg", 500);
                                        },
                                        "/media/p1.jpg"},
                      TFailingMediaCase{"ConnectionDropped",
                                        [](TTestContentServer& server, const TTempFolder&) {
                                            server.SetDropMidBody("/media/p1.jpg", 100000);
                                        },
                                        "/media/p1.jpg"},
                      TFailingMediaCase{
                          "NameTooLongForTheFileSystem",
                          [](TTestContentServer& server, const TTempFolder& app) {
                              const QByteArray name(300, 'n');
                              app.Write(
                                  "Cache/17.xml",
                                  ReadFileBytes(TestDataPath("repository/17.xml")).replace("p1.jpg", name));
                              server.SetFile("/media/" + QString::fromLatin1(name), "picture");
                          },
                          "/media/" + QString(300, 'n')}),
    [](const ::testing::TestParamInfo<TFailingMediaCase>& info) { return std::string(info.param.Name); });

TEST_F(VitrelleDownloader, LoadWhileTheMediaDownloadRunsDoesNotReload)
{
    Server.SetHang("/media/p1.jpg");
    ASSERT_TRUE(Lobby->Load());
    ASSERT_TRUE(WaitForRequest("/media/p1.jpg"));
    EXPECT_TRUE(Lobby->Downloading());
    TDiapositive* first = Lobby->Vitrelle()->DiapositiveAt(0);
    App.Write("Cache/17.xml", Data("gallery.xml")); // would change the content if it were read
    Log.Clear();
    EXPECT_TRUE(Lobby->Load());
    EXPECT_EQ(Lobby->Vitrelle()->DiapositiveAt(0), first);
    EXPECT_EQ(Lobby->Vitrelle()->Name, "Lobby");
    EXPECT_TRUE(Log.Lines().isEmpty()) << LogText(Log);
    Lobby->StopMediaDownload();
    EXPECT_FALSE(Lobby->Downloading());
}

TEST_F(VitrelleDownloader, UpdateFetchesEverythingAgain)
{
    LoadLobby();
    App.Write("Cache/Photo/s1.html", "<html>rendered</html>");
    Server.SetFile("/media/p1.jpg", "new picture");
    Server.ResetCounts();
    ASSERT_TRUE(Lobby->Update()) << LogText(Log);
    EXPECT_FALSE(QFile::exists(Cache("Photo/s1.html")));
    ASSERT_TRUE(WaitForMedia(*Lobby));
    EXPECT_EQ(Server.Requests("/vitrelles/17.xml"), 1);
    for (const char* path : {"/media/p1.jpg", "/media/p2.jpg", "/templates/Text/t.png",
                             "/templates/Photo/style.css", "/templates/Text/text.css"})
        EXPECT_EQ(Server.Requests(path), 1) << path;
    EXPECT_EQ(ReadFileBytes(Cache("Photo/img/p1.jpg")), "new picture");
}

TEST_F(VitrelleDownloader, UpdateStopsARunningMediaDownloadFirst)
{
    Server.SetHang("/media/p1.jpg");
    ASSERT_TRUE(Lobby->Load());
    ASSERT_TRUE(WaitForRequest("/media/p1.jpg"));
    Server.SetFile("/media/p1.jpg", "picture"); // answered from now on
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Lobby->Update()) << LogText(Log);
    EXPECT_LT(clock.elapsed(), TVitrelleDownloader::StopWaitMs + 1000);
    EXPECT_EQ(Server.Requests("/vitrelles/17.xml"), 2);
    ASSERT_TRUE(WaitForMedia(*Lobby));
    EXPECT_EQ(Statuses(), (std::vector<int>{1, 1, 1, 1, 1}));
    EXPECT_EQ(ReadFileBytes(Cache("Photo/img/p1.jpg")), "picture");
    EXPECT_TRUE(QDir(Cache("Photo/img")).entryList(QDir::Hidden | QDir::Files).size() == 2)
        << "no temporary file";
}

TEST_F(VitrelleDownloader, AnUpdateTheServerRefusesKeepsTheCache)
{
    LoadLobby();
    Server.SetStatus("/vitrelles/17.xml", 500);
    EXPECT_THROW(Lobby->Update(), EHttpError);
    EXPECT_EQ(ReadFileBytes(Cache("17.xml")), Data("17.xml"));
    for (const QString& file : MediaFiles())
        EXPECT_TRUE(QFile::exists(file)) << file.toStdString();
    Server.SetStatus("/vitrelles/17.xml", 204);
    EXPECT_FALSE(Lobby->Update());
    EXPECT_TRUE(QFile::exists(Cache("Photo/img/p1.jpg")));
}

// The vitrelle file of an update arrives but some of its media do not: their cached copies stay, so the show
// keeps its pictures and styles until a later update brings the new ones.
TEST_F(VitrelleDownloader, AnUpdateWhoseMediaFailKeepsTheirCachedCopies)
{
    LoadLobby();
    const QByteArray picture = ReadFileBytes(Cache("Photo/img/p1.jpg"));
    Server.SetStatus("/media/p1.jpg", 500);
    Server.SetStatus("/templates/Photo/style.css", 503);
    Server.SetFile("/media/p2.jpg", "new picture");
    ASSERT_TRUE(Lobby->Update()) << LogText(Log);
    ASSERT_TRUE(WaitForMedia(*Lobby));
    EXPECT_EQ(ReadFileBytes(Cache("Photo/img/p1.jpg")), picture);
    EXPECT_TRUE(QFile::exists(Cache("Photo/style.css")));
    EXPECT_EQ(ReadFileBytes(Cache("Photo/img/p2.jpg")), "new picture") << "the others are fetched again";
}

TEST_F(VitrelleDownloader, ABrokenCachedFileFailsEveryLoadUntilAnUpdate)
{
    App.Write("Cache/17.xml", Data("BrokenVitrelle.xml"));
    for (int i = 0; i < 2; ++i)
        EXPECT_FALSE(Lobby->Load());
    EXPECT_EQ(Server.TotalRequests(), 0);
    EXPECT_EQ(ErrorLines(Log).filter("[1] TVitrelleDownloader: Erreur while loading vitrelle ID '17'").size(),
              2)
        << LogText(Log);
    EXPECT_EQ(ReadFileBytes(Cache("17.xml")), Data("BrokenVitrelle.xml"));
    EXPECT_EQ(Repository->GetVitrelle("17"), nullptr);

    ASSERT_TRUE(Lobby->Update()) << LogText(Log);
    EXPECT_EQ(ReadFileBytes(Cache("17.xml")), Data("17.xml"));
    EXPECT_EQ(Lobby->Vitrelle()->Diapositives().size(), 3u);
    ASSERT_TRUE(WaitForMedia(*Lobby));
}

TEST_F(VitrelleDownloader, AnUncachedVitrelleTheServerDoesNotHaveIsNotLoaded)
{
    Server.SetStatus("/vitrelles/17.xml", 204);
    EXPECT_FALSE(Lobby->Load());
    EXPECT_TRUE(Log.Contains("Download vitrelle ID = '17'"));
    Server.SetStatus("/vitrelles/17.xml", 404);
    EXPECT_THROW(Repository->GetVitrelle("17"), EHttpError);
    EXPECT_FALSE(QFile::exists(Cache("17.xml")));
}

TEST_F(VitrelleDownloader, UnsafeSlideAndMediaNamesAreRefused)
{
    App.Write("Cache/unsafe.xml", Data("unsafe.xml"));
    TVitrelleRepository repository(*Settings, Repository->Services());
    App.Write("Cache/VitrelleList.xml", "<Vitrelles><Vitrelle id=\"unsafe\"/></Vitrelles>");
    ASSERT_NE(repository.LoadList(), nullptr);
    const std::shared_ptr<TVitrelle> vitrelle = repository.GetVitrelle("unsafe");
    ASSERT_NE(vitrelle, nullptr);
    TVitrelleDownloader* downloader = repository.GetDownloader("unsafe");
    ASSERT_TRUE(WaitForMedia(*downloader));
    EXPECT_TRUE(repository.DiapositiveFilePath(vitrelle->DiapositiveAt(0)).isEmpty());
    std::vector<int> statuses;
    for (const TVitrelleResource* resource : downloader->MediaList())
        statuses.push_back(resource->Status);
    // style.css, then ../../escape.jpg, a/b.jpg, .., p1.jpg, p2.jpg
    EXPECT_EQ(statuses, (std::vector<int>{1, 255, 255, 255, 1, 1}));
    EXPECT_EQ(ErrorLines(Log).filter("is not a plain file name: refused").size(), 4) << LogText(Log);
    for (const QString& target : Server.Targets())
        EXPECT_FALSE(target.contains("escape") || target.contains("a/b")) << target.toStdString();
    EXPECT_FALSE(QFile::exists(App.Path() + "/escape.jpg"));
    EXPECT_FALSE(QFile::exists(Cache("escape.jpg")));
}

TEST_F(VitrelleDownloader, DestructionWaitsForABusyWorker)
{
    Server.SetHang("/media/p1.jpg");
    ASSERT_TRUE(Lobby->Load());
    ASSERT_TRUE(WaitForRequest("/media/p1.jpg"));
    ASSERT_TRUE(Lobby->Downloading());
    QElapsedTimer clock;
    clock.start();
    Repository->PrepareDownloaders(); // frees every downloader and makes new ones
    EXPECT_LT(clock.elapsed(), TVitrelleDownloader::StopWaitMs + 1000);
    const int requests = Server.TotalRequests();
    Server.ReleaseHangs();
    QThread::msleep(100);
    EXPECT_EQ(Server.TotalRequests(), requests) << "the old worker fetched nothing after its end";
    EXPECT_TRUE(QDir(Cache("Photo/img")).entryList(QDir::Hidden | QDir::Files).isEmpty());
    EXPECT_EQ(Scheduler->FindSource("Vitrelle 17 downloader"), Repository->GetDownloader("17"));
}

TEST_F(VitrelleDownloader, WithoutRepositoryNothingHappens)
{
    const auto vitrelle = std::make_shared<TVitrelle>("17", -1);
    TVitrelleDownloader orphan(nullptr, vitrelle);
    EXPECT_TRUE(orphan.VitrelleFilePath().isEmpty());
    EXPECT_FALSE(orphan.Load());
    EXPECT_FALSE(orphan.Update());
    EXPECT_FALSE(orphan.DownloadVitrelle());
    try {
        orphan.StartMediaDownload();
        FAIL() << "a downloader without repository has nothing to fetch into";
    } catch (const EVitrelleError& error) {
        EXPECT_TRUE(
            error.Message().startsWith("Echec de l'assertion (src/Repository/VitrelleDownloader, line "))
            << error.what();
    }
    EXPECT_THROW(orphan.DeleteFiles(), EVitrelleError);
}

TEST_F(VitrelleDownloader, NestedVitrellesBringTheirMediaButAreNotFetched)
{
    App.Write("Cache/local/nested.xml", "<Vitrelle name=\"Nested\"><Diapositive id=\"n1\" "
                                        "type=\"Photo\"><image id=\"p2.jpg\"/></Diapositive></Vitrelle>");
    App.Write("Cache/gallery.xml",
              "<Vitrelle name=\"Gallery\"><Diapositive id=\"g1\" type=\"Photo\"><image "
              "id=\"p1.jpg\"/></Diapositive><Vitrelle xml=\"local/nested.xml\"/></Vitrelle>");
    TVitrelleDownloader* gallery = Repository->GetDownloader("gallery");
    ASSERT_TRUE(gallery->Load());
    ASSERT_TRUE(WaitForMedia(*gallery));
    EXPECT_TRUE(QFile::exists(Cache("Photo/img/p2.jpg")));
    // The login, the type's style sheet and the two media: nothing else.
    EXPECT_EQ(Server.TotalRequests(), 4) << Server.Targets().join(' ').toStdString();
}

// An update must leave nothing of the old content in the cache, whether or not that content was loaded in
// this run (after a restart nothing is), including files that only the old file or only the new one names.
class UpdateAfterRestart : public VitrelleDownloader, public ::testing::WithParamInterface<bool>
{
};

TEST_P(UpdateAfterRestart, DiscardsEverythingCachedForTheVitrelle)
{
    const bool loadedInThisRun = GetParam();
    // The cached file has s9 with old.jpg, and no s3; the new one (the server's) has s3 and no s9.
    QByteArray oldFile = Data("17.xml");
    oldFile.replace(oldFile.indexOf("  <Diapositive id=\"s3\""),
                    oldFile.indexOf("</Vitrelle>") - oldFile.indexOf("  <Diapositive id=\"s3\""),
                    "  <Diapositive id=\"s9\" type=\"Photo\"><image id=\"old.jpg\"/></Diapositive>\n");
    App.Write("Cache/17.xml", oldFile);
    for (const char* page : {"Photo/s1.html", "Photo/s9.html", "Text/s3.html"})
        App.Write(QString("Cache/") + page, "<html>old page</html>");
    App.Write("Cache/Photo/img/p1.jpg", "old picture");
    App.Write("Cache/Photo/img/old.jpg", "old only");
    App.Write("Cache/Photo/style.css", "old style");
    Server.SetFile("/media/p1.jpg", "new picture");
    Server.SetFile("/media/old.jpg", "old only");
    if (loadedInThisRun)
        LoadLobby();
    Server.ResetCounts();

    ASSERT_TRUE(Lobby->Update()) << LogText(Log);
    for (const char* page : {"Photo/s1.html", "Photo/s9.html", "Text/s3.html"})
        EXPECT_FALSE(QFile::exists(Cache(page))) << page;
    EXPECT_FALSE(QFile::exists(Cache("Photo/img/old.jpg"))) << "named by the old file only";
    ASSERT_TRUE(WaitForMedia(*Lobby));
    EXPECT_EQ(Statuses(), (std::vector<int>{1, 1, 1, 1, 1}));
    EXPECT_EQ(ReadFileBytes(Cache("Photo/img/p1.jpg")), "new picture");
    EXPECT_EQ(ReadFileBytes(Cache("Photo/style.css")), "content of /templates/Photo/style.css");
    EXPECT_EQ(Server.Requests("/vitrelles/17.xml"), 1);
    EXPECT_EQ(Server.Requests("/media/old.jpg"), 0);
}

// Media and styles live in their type's folder, shared by the vitrelles of that type: an update that drops a
// picture or a whole type leaves what another vitrelle still shows, whether that one was loaded in this run.
TEST_P(UpdateAfterRestart, LeavesWhatAnotherVitrelleStillShows)
{
    App.Write("Cache/gallery.xml", "<Vitrelle name=\"Gallery\"><Diapositive id=\"g1\" type=\"Photo\"><image "
                                   "id=\"p2.jpg\"/></Diapositive></Vitrelle>");
    TVitrelleDownloader* gallery = Repository->GetDownloader("gallery");
    if (GetParam()) {
        ASSERT_TRUE(gallery->Load());
        ASSERT_TRUE(WaitForMedia(*gallery));
    }
    LoadLobby();
    Server.SetFile("/vitrelles/17.xml",
                   "<Vitrelle name=\"Lobby\"><Diapositive id=\"s3\" type=\"Text\"><picture "
                   "id=\"t.png\"/></Diapositive></Vitrelle>");
    ASSERT_TRUE(Lobby->Update()) << LogText(Log);
    ASSERT_TRUE(WaitForMedia(*Lobby));
    EXPECT_TRUE(QFile::exists(Cache("Photo/img/p2.jpg")));
    EXPECT_TRUE(QFile::exists(Cache("Photo/style.css")));
    EXPECT_FALSE(QFile::exists(Cache("Photo/img/p1.jpg"))) << "shown by nobody any more";
}

INSTANTIATE_TEST_SUITE_P(VitrelleDownloader, UpdateAfterRestart, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "LoadedInThisRun" : "AfterARestart");
                         });

// Whatever the order in which the worker's files reach the disk, no name may say that a file is there before
// its data is on disk, and every folder that received files is flushed after its last rename.
std::string CommitOrderFaults(const std::vector<TRecordingFileSink::TEvent>& events, int& renames)
{
    std::string faults;
    std::map<QString, bool> flushedSinceWrite;
    std::map<QString, size_t> lastRenameInto;
    std::map<QString, size_t> lastFolderFlush;
    renames = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const TRecordingFileSink::TEvent& event = events[i];
        if (event.Kind == "create" || event.Kind == "write") {
            for (const QString& path : event.Paths)
                flushedSinceWrite[path] = false;
        } else if (event.Kind == "flush") {
            for (const QString& path : event.Paths)
                flushedSinceWrite[path] = true;
        } else if (event.Kind == "rename") {
            ++renames;
            if (!flushedSinceWrite[event.Paths[0]])
                faults += "renamed before its data was on disk: " + event.Paths[1].toStdString() + "\n";
            lastRenameInto[QFileInfo(event.Paths[1]).absolutePath()] = i;
        } else if (event.Kind == "flush-folder") {
            lastFolderFlush[event.Paths[0]] = i;
        }
    }
    for (const auto& [folder, last] : lastRenameInto)
        if (!lastFolderFlush.contains(folder) || lastFolderFlush[folder] < last)
            faults += "folder not flushed after its last rename: " + folder.toStdString() + "\n";
    return faults;
}

struct TCommitCase
{
    const char* Name;
    QString FailingFlush; // file name whose flush fails
    std::vector<int> Statuses;
};

void PrintTo(const TCommitCase& commit, std::ostream* out)
{
    *out << commit.Name;
}

class MediaCommit : public VitrelleDownloader, public ::testing::WithParamInterface<TCommitCase>
{
};

TEST_P(MediaCommit, NoFileIsRenamedBeforeItsDataIsOnDisk)
{
    const auto sink = std::make_shared<TRecordingFileSink>();
    sink->FailFlushOf(GetParam().FailingFlush);
    Lobby->SetFileSink(sink);
    LoadLobby();
    EXPECT_EQ(Statuses(), GetParam().Statuses) << LogText(Log);
    int renames = 0;
    EXPECT_EQ(CommitOrderFaults(sink->Events(), renames), "");
    const auto present = std::count(GetParam().Statuses.begin(), GetParam().Statuses.end(), 1);
    EXPECT_EQ(renames, present);
    for (const QString& file : MediaFiles())
        if (GetParam().FailingFlush.isEmpty() || !file.endsWith(GetParam().FailingFlush)) {
            EXPECT_EQ(ReadFileBytes(file).left(11), "content of ") << file.toStdString();
        }
    if (!GetParam().FailingFlush.isEmpty()) {
        EXPECT_FALSE(QFile::exists(Cache("Photo/img/" + GetParam().FailingFlush)));
        EXPECT_EQ(ErrorLines(Log).filter("Cannot store media file").size(), 1) << LogText(Log);
    }
    EXPECT_EQ(QDir(Cache("Photo/img")).entryList(QDir::Hidden | QDir::Files),
              QDir(Cache("Photo/img")).entryList(QDir::Files))
        << "no temporary file left";
}

INSTANTIATE_TEST_SUITE_P(VitrelleDownloader, MediaCommit,
                         ::testing::Values(TCommitCase{"EveryFile", {}, {1, 1, 1, 1, 1}},
                                           TCommitCase{"AFlushFails", "p2.jpg", {1, 1, 1, 255, 1}}),
                         [](const ::testing::TestParamInfo<TCommitCase>& info) {
                             return std::string(info.param.Name);
                         });

// An update due while the media worker cannot end (here its files' flush is held) is not dropped: it is
// logged, and carried out once the worker has ended.
TEST_F(VitrelleDownloader, AnUpdateTheWorkerHoldsUpRunsWhenTheWorkerEnds)
{
    const auto sink = std::make_shared<TRecordingFileSink>();
    sink->HoldFlushes();
    Lobby->SetFileSink(sink);
    Lobby->SetStopWait(std::chrono::milliseconds(50));
    ASSERT_TRUE(Lobby->Load());
    ASSERT_TRUE(ServeEventsUntil([&] { return sink->FlushHeld(); }));
    Server.ResetCounts();

    EXPECT_FALSE(Lobby->Update());
    EXPECT_TRUE(Lobby->UpdatePending());
    EXPECT_EQ(Log.Lines().filter("[2] TVitrelleDownloader: Update of vitrelle ID = '17' waits").size(), 1)
        << LogText(Log);
    EXPECT_EQ(Server.Requests("/vitrelles/17.xml"), 0);

    sink->ReleaseFlushes();
    ASSERT_TRUE(ServeEventsUntil([&] { return Server.Requests("/vitrelles/17.xml") == 1; })) << LogText(Log);
    ASSERT_TRUE(WaitForMedia(*Lobby));
    EXPECT_FALSE(Lobby->UpdatePending());
    EXPECT_EQ(Statuses(), (std::vector<int>{1, 1, 1, 1, 1}));
    // The held worker may still send a request it had queued before it saw its stop; only what follows the
    // update's vitrelle file is the update's.
    const QStringList targets = Server.Targets();
    const auto update = std::find(targets.begin(), targets.end(), QStringLiteral("/vitrelles/17.xml"));
    ASSERT_NE(update, targets.end());
    EXPECT_EQ(std::count(update, targets.end(), QStringLiteral("/media/p1.jpg")), 1)
        << "the update fetched the media again";
}

// The same on a scheduler's worker: the update is logged the same way and waits there, not on the main
// thread, for the worker's end; its outcome is known when it returns.
TEST_F(VitrelleDownloader, AnUpdateOnAWorkerTheWorkerHoldsUpWaitsThereAndRuns)
{
    const auto sink = std::make_shared<TRecordingFileSink>();
    sink->HoldFlushes();
    Lobby->SetFileSink(sink);
    Lobby->SetStopWait(std::chrono::milliseconds(50));
    ASSERT_TRUE(Lobby->Load());
    ASSERT_TRUE(ServeEventsUntil([&] { return sink->FlushHeld(); }));
    Server.ResetCounts();

    TWorkQueue lane("update lane");
    bool ended = false;
    bool result = false;
    lane.Post([&] { result = Lobby->Update(); }, [&](std::exception_ptr) { ended = true; });
    const TMainThreadPulse pulse;
    ASSERT_TRUE(ServeEventsUntil([&] {
        return !Log.Lines().filter("[2] TVitrelleDownloader: Update of vitrelle ID = '17' waits").isEmpty();
    }));
    ServeEventsUntil([] { return false; }, 200);
    EXPECT_FALSE(ended);
    EXPECT_EQ(Server.Requests("/vitrelles/17.xml"), 0);
    sink->ReleaseFlushes();
    ASSERT_TRUE(ServeEventsUntil([&] { return ended; })) << LogText(Log);
    EXPECT_LT(pulse.LongestGap(), 150) << "the main thread was held";
    EXPECT_TRUE(result) << LogText(Log);
    EXPECT_FALSE(Lobby->UpdatePending());
    EXPECT_EQ(Log.Lines().filter("[2] TVitrelleDownloader: Update of vitrelle ID = '17' waits").size(), 1)
        << LogText(Log);
    EXPECT_EQ(Server.Requests("/vitrelles/17.xml"), 1);
    ASSERT_TRUE(WaitForMedia(*Lobby));
    EXPECT_EQ(Statuses(), (std::vector<int>{1, 1, 1, 1, 1}));
}

// Two updates of one vitrelle due at the same tick: the second stops the media worker the first started,
// without waiting for the whole stop wait, and runs.
TEST_F(VitrelleDownloader, TwoUpdatesDueAtOneTickBothRun)
{
    Server.SetHang("/media/p1.jpg");
    TScheduleAction* first = Scheduler->GetAction("Vitrelle 17 downloader", 0);
    ASSERT_NE(first, nullptr);
    first->Enabled = true;
    std::unique_ptr<TScheduleAction> second = Lobby->CreateDefaultAction(0);
    second->Enabled = true;
    Scheduler->AddAction(std::move(second));
    QElapsedTimer clock;
    clock.start();
    Scheduler->Tick();
    EXPECT_LT(clock.elapsed(), TVitrelleDownloader::StopWaitMs);
    EXPECT_EQ(Server.Requests("/vitrelles/17.xml"), 2) << LogText(Log);
    EXPECT_TRUE(Log.Lines().filter("[2] TVitrelleDownloader").isEmpty()) << LogText(Log);
    Server.SetFile("/media/p1.jpg", "picture");
    Lobby->StopMediaDownload();
}

// Many missing media are fetched over two connections: each exactly once, a failing one skipped, and no file
// renamed before its data is on disk.
TEST_F(VitrelleDownloader, ManyMediaAreFetchedOverTwoConnections)
{
    constexpr int Count = 16;
    QByteArray slides;
    for (int i = 0; i < Count; ++i) {
        const QByteArray name = "m" + QByteArray::number(i) + ".jpg";
        slides += "<Diapositive id=\"s" + QByteArray::number(i) + "\" type=\"Photo\"><image id=\"" + name +
                  "\"/></Diapositive>";
        Server.SetFile("/media/" + QString::fromLatin1(name), "content of " + name);
    }
    Server.SetStatus("/media/m5.jpg", 404);
    App.Write("Cache/17.xml", "<Vitrelle name=\"Many\">" + slides + "</Vitrelle>");
    const auto sink = std::make_shared<TRecordingFileSink>();
    Lobby->SetFileSink(sink);
    LoadLobby();

    std::vector<int> expected(Count + 1, 1); // style.css, then the media
    expected[6] = 255;
    EXPECT_EQ(Statuses(), expected) << LogText(Log);
    for (int i = 0; i < Count; ++i)
        EXPECT_EQ(Server.Requests(QStringLiteral("/media/m%1.jpg").arg(i)), 1) << i;
    EXPECT_EQ(Server.LoginRequests(), 2);
    int renames = 0;
    EXPECT_EQ(CommitOrderFaults(sink->Events(), renames), "");
    EXPECT_EQ(renames, Count);
}

// The operator downloads the list again: a vitrelle still listed keeps its scheduled update, due when it was
// (not again at once), and the record of its last update; a vitrelle gone from the list takes its action with
// it.
TEST_F(VitrelleDownloader, AReloadedListKeepsTheUpdatesOfTheVitrellesStillListed)
{
    TScheduleAction* update = Scheduler->GetAction("Vitrelle 17 downloader", 0);
    ASSERT_NE(update, nullptr);
    update->Enabled = true; // hourly, due since midnight
    ASSERT_NE(Scheduler->GetAction("Vitrelle gallery downloader", 0), nullptr);
    Clock->Set(QDateTime(QDate(2026, 12, 7), QTime(8, 20)));
    Scheduler->Tick();
    ASSERT_TRUE(WaitForMedia(*Lobby));
    ASSERT_EQ(Server.Requests("/vitrelles/17.xml"), 1);
    const QDateTime next = update->NextTime;
    ASSERT_EQ(next, QDateTime(QDate(2026, 12, 7), QTime(9, 0)));

    Server.SetFile("/list/VitrelleList.xml", R"(<Vitrelles><Vitrelle id="17" name="Lobby"/></Vitrelles>)");
    ASSERT_NE(Repository->DownloadAndLoadList(), nullptr);
    TVitrelleDownloader* lobby = Repository->GetDownloader("17");
    ASSERT_NE(lobby, nullptr);
    ASSERT_EQ(Scheduler->ActionCount(), 1);
    const TScheduleAction* kept = Scheduler->Actions().At(0);
    EXPECT_EQ(kept->Source, lobby);
    EXPECT_TRUE(kept->Enabled);
    EXPECT_EQ(kept->Periodicity.Kind, 3);
    EXPECT_EQ(kept->NextTime, next);
    EXPECT_EQ(lobby->LastUpdate().Time, Clock->Now());
    EXPECT_TRUE(lobby->LastUpdate().Succeeded);
    Scheduler->Tick();
    EXPECT_EQ(Server.Requests("/vitrelles/17.xml"), 1) << "not due before 09:00";
}

// A symbolic link planted in the cache (by whoever can write there) must not lead the program's writes and
// deletes out of it: files behind the link are neither written nor deleted, and the refusal is logged.
class PlantedLink : public VitrelleDownloader, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(PlantedLink, LeadsNoWriteOrDeleteOutOfTheCache)
{
    TTempFolder outside;
    const QString kept = outside.Write("p1.jpg", "outside file");
    outside.Write("s1.html", "outside page");
    outside.Write("img/p1.jpg", "outside file");
    outside.Write("style.css", "outside style");
    const QString link = Cache(GetParam());
    QDir().mkpath(QFileInfo(link).absolutePath());
    ASSERT_TRUE(QFile::link(outside.Path(), link));

    LoadLobby();
    EXPECT_EQ(ReadFileBytes(Cache("Text/t.png")), "content of /templates/Text/t.png") << "the rest is cached";
    const QString page = Repository->DiapositiveFilePath(Lobby->Vitrelle()->DiapositiveAt(0));
    EXPECT_EQ(page.isEmpty(), GetParam() == QLatin1String("Photo")) << page.toStdString();
    Lobby->DeleteFiles();

    QStringList outsideEntries;
    for (const char* name : {"p1.jpg", "s1.html", "img/p1.jpg", "style.css"})
        outsideEntries << QString(name) + "=" + QString::fromUtf8(ReadFileBytes(outside.File(name)));
    EXPECT_EQ(outsideEntries, QStringList({"p1.jpg=outside file", "s1.html=outside page",
                                           "img/p1.jpg=outside file", "style.css=outside style"}));
    EXPECT_EQ(outside.Entries().size(), 4) << outside.Entries().join(' ').toStdString();
    EXPECT_FALSE(ErrorLines(Log).filter("lies outside the repository: refused").isEmpty()) << LogText(Log);
}

// A link planted in place of a media file is no cached copy: the file is fetched and replaces the link, and
// what the link points at is neither shown on a slide nor touched.
TEST_F(VitrelleDownloader, AMediaFileThatIsALinkIsFetchedOverTheLink)
{
    TTempFolder outside;
    const QString secret = outside.Write("secret.txt", "private");
    QDir().mkpath(Cache("Photo/img"));
    ASSERT_TRUE(QFile::link(secret, Cache("Photo/img/p1.jpg")));
    LoadLobby();
    EXPECT_EQ(Statuses(), (std::vector<int>{1, 1, 1, 1, 1})) << LogText(Log);
    EXPECT_FALSE(QFileInfo(Cache("Photo/img/p1.jpg")).isSymLink());
    EXPECT_EQ(ReadFileBytes(Cache("Photo/img/p1.jpg")), "content of /media/p1.jpg");
    EXPECT_EQ(ReadFileBytes(secret), "private");
}

INSTANTIATE_TEST_SUITE_P(VitrelleDownloader, PlantedLink, ::testing::Values("Photo", "Photo/img"),
                         [](const auto& info) { return CaseName(info.index, info.param); });

// A scheduled update runs on a worker of the scheduler: while the server is slow the main thread goes on
// serving its events (every display's slide steps, the window), the new content replaces the playing one on
// the main thread once its file is whole, the outcome and the "Last update" record are those of an update on
// the main thread, and a worker asked to stop gives a hung transfer up at once.
struct TWorkerUpdateCase
{
    enum TEnd
    {
        Answered, // the server answers in the end
        Failed,   // the server answers an error in the end
        Stopped,  // the worker is asked to stop while the server has not answered
    };
    const char* Name;
    void (*Serve)(TTestContentServer& server, const QByteArray& renewed);
    TEnd End;
    bool Swapped; // the new content plays afterwards
};

void PrintTo(const TWorkerUpdateCase& c, std::ostream* out)
{
    *out << c.Name;
}

class UpdateOnAWorker : public VitrelleDownloader, public ::testing::WithParamInterface<TWorkerUpdateCase>
{
};

TEST_P(UpdateOnAWorker, KeepsTheMainThreadServingAndEndsAsOnTheMainThread)
{
    const TWorkerUpdateCase& c = GetParam();
    LoadLobby();
    Clock->Set(QDateTime(QDate(2026, 12, 7), QTime(9, 30)));
    c.Serve(Server, Data("17.xml").replace("\"Lobby\"", "\"Lobby renewed\""));
    Server.ResetCounts();

    auto lane = std::make_unique<TWorkQueue>("update lane");
    bool ended = false;
    bool result = false;
    std::exception_ptr raised;
    lane->Post([&] { result = Lobby->Update(); },
               [&](std::exception_ptr error) {
                   raised = error;
                   ended = true;
               });
    const TMainThreadPulse pulse;
    ASSERT_TRUE(WaitForRequest("/vitrelles/17.xml"));
    EXPECT_TRUE(Lobby->UpdateRunning());
    // A player asking for the vitrelle meanwhile plays what is there; nothing is fetched twice.
    EXPECT_TRUE(Lobby->Load());
    EXPECT_EQ(Lobby->Vitrelle()->Name, "Lobby");
    EXPECT_FALSE(Lobby->Downloading());
    if (c.End == TWorkerUpdateCase::Stopped) {
        ServeEventsUntil([] { return false; }, 300);
        EXPECT_LT(pulse.LongestGap(), 150) << "the main thread was held";
        QElapsedTimer stop;
        stop.start();
        lane.reset(); // asks the running update to stop and waits for it
        EXPECT_LT(stop.elapsed(), 1000) << "the hung transfer is given up at once";
        EXPECT_FALSE(ended) << "a stopped queue reports nothing";
    } else {
        if (c.End == TWorkerUpdateCase::Failed) {
            ServeEventsUntil([] { return false; }, 500);
            Server.ReleaseHangs(); // answered 503
        }
        ASSERT_TRUE(ServeEventsUntil([&] { return ended; }));
        EXPECT_LT(pulse.LongestGap(), 150) << "the main thread was held";
        EXPECT_EQ(result, c.Swapped);
        EXPECT_EQ(raised != nullptr, !c.Swapped);
    }
    EXPECT_FALSE(Lobby->UpdateRunning());
    EXPECT_EQ(Lobby->Vitrelle()->Name, c.Swapped ? "Lobby renewed" : "Lobby");
    EXPECT_EQ(Lobby->LastUpdate().Time, Clock->Now());
    EXPECT_EQ(Lobby->LastUpdate().Succeeded, c.Swapped);
    EXPECT_TRUE(Log.Lines().contains("[3] TVitrelleDownloader: Download vitrelle ID = '17'")) << LogText(Log);
    ASSERT_TRUE(WaitForMedia(*Lobby));
    EXPECT_EQ(Server.Requests("/media/p1.jpg"), c.Swapped ? 1 : 0) << "an update fetches every media again";
    for (const QString& file : MediaFiles())
        EXPECT_TRUE(QFile::exists(file)) << file.toStdString() << ": nothing is lost";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateOnAWorker,
    ::testing::Values(TWorkerUpdateCase{"TheServerAnswersLate",
                                        [](TTestContentServer& server, const QByteArray& renewed) {
                                            server.SetDelayedFile("/vitrelles/17.xml", renewed,
                                                                  std::chrono::milliseconds(600));
                                        },
                                        TWorkerUpdateCase::Answered, true},
                      TWorkerUpdateCase{"TheServerFailsLate",
                                        [](TTestContentServer& server, const QByteArray&) {
                                            server.SetHang("/vitrelles/17.xml");
                                        },
                                        TWorkerUpdateCase::Failed, false},
                      TWorkerUpdateCase{"TheServerHangsAndTheWorkerIsStopped",
                                        [](TTestContentServer& server, const QByteArray&) {
                                            server.SetHang("/vitrelles/17.xml");
                                        },
                                        TWorkerUpdateCase::Stopped, false}),
    [](const auto& info) { return std::string(info.param.Name); });

// The update of a vitrelle whose media download waits on the server: the media worker is stopped and awaited
// off the main thread, then the update goes on as on the main thread.
TEST_F(VitrelleDownloader, AnUpdateOnAWorkerStopsTheMediaDownloadFirst)
{
    Server.SetHang("/media/p1.jpg");
    ASSERT_TRUE(Lobby->Load());
    ASSERT_TRUE(WaitForRequest("/media/p1.jpg"));
    Server.SetFile("/media/p1.jpg", "picture"); // answered from now on
    TWorkQueue lane("update lane");
    bool ended = false;
    bool result = false;
    lane.Post([&] { result = Lobby->Update(); }, [&](std::exception_ptr) { ended = true; });
    const TMainThreadPulse pulse;
    ASSERT_TRUE(ServeEventsUntil([&] { return ended; }));
    EXPECT_LT(pulse.LongestGap(), 150) << "the main thread was held";
    EXPECT_TRUE(result) << LogText(Log);
    EXPECT_EQ(Server.Requests("/vitrelles/17.xml"), 2);
    ASSERT_TRUE(WaitForMedia(*Lobby));
    EXPECT_EQ(Statuses(), (std::vector<int>{1, 1, 1, 1, 1}));
    EXPECT_EQ(ReadFileBytes(Cache("Photo/img/p1.jpg")), "picture");
    EXPECT_TRUE(Log.Lines().filter("[2] TVitrelleDownloader").isEmpty()) << LogText(Log);
}

// The operator reloads the list while a scheduled update waits on the server: the replaced downloader's
// transfer ends at once and the update leaves it alone; the vitrelle's new downloader serves on.
TEST_F(VitrelleDownloader, AnUpdateOnAWorkerWhoseDownloaderIsReplacedEndsAtOnce)
{
    LoadLobby();
    Server.SetHang("/vitrelles/17.xml");
    Server.ResetCounts();
    TWorkQueue lane("update lane");
    bool ended = false;
    bool result = true;
    std::exception_ptr raised;
    lane.Post([&, lobby = Lobby] { result = lobby->Update(); },
              [&](std::exception_ptr error) {
                  raised = error;
                  ended = true;
              });
    ASSERT_TRUE(WaitForRequest("/vitrelles/17.xml"));
    ASSERT_NE(Repository->LoadList(), nullptr); // frees the downloaders
    Lobby = nullptr;
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(ServeEventsUntil([&] { return ended; }));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(raised != nullptr || !result);
    Server.ReleaseHangs();
    Server.SetFile("/vitrelles/17.xml", Data("17.xml"));
    TVitrelleDownloader* renewed = Repository->GetDownloader("17");
    ASSERT_NE(renewed, nullptr);
    EXPECT_FALSE(renewed->UpdateRunning());
    EXPECT_TRUE(renewed->Update()) << LogText(Log);
    ASSERT_TRUE(WaitForMedia(*renewed));
}
