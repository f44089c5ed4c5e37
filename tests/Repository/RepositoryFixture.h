#pragma once

#include "DiapositiveType.h"
#include "EventWait.h"
#include "FakeNetworkStatus.h"
#include "ManualClock.h"
#include "RepositoryTestSupport.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleDownloader.h"
#include "VitrelleRepository.h"
#include "VitrelleScheduler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <functional>

// An application folder in a temporary folder (so the cache is <folder>/Cache/), its settings pointing at
// the test content server, the test slide types registered, a scheduler that does not tick, and the
// repository. The server serves the test data: the list, vitrelles 17 and gallery, their media and the
// types' resources.
class RepositoryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Settings = std::make_unique<TVitrelleCenterSettings>(App.Path());
        Server.Configure(Settings->HttpSettings());
        const QByteArray types = ReadFileBytes(TestDataPath("repository/Types.xml"))
                                     .replace("{server}", Server.BaseUrl().toUtf8());
        ASSERT_TRUE(TDiapositiveType::LoadTypes(App.Write("Templates/Types.xml", types)));
        Server.SetFile("/list/VitrelleList.xml", Data("VitrelleList.xml"));
        Server.SetFile("/vitrelles/17.xml", Data("17.xml"));
        Server.SetFile("/vitrelles/gallery.xml", Data("gallery.xml"));
        for (const char* path : {"/media/p1.jpg", "/media/p2.jpg", "/templates/Text/t.png",
                                 "/templates/Photo/style.css", "/templates/Text/text.css"})
            Server.SetFile(path, QByteArray("content of ") + path);
        Scheduler = std::make_unique<TVitrelleScheduler>(Clock);
        MakeRepository();
        // As the agent sets them: nested vitrelle files are read from the cache and the templates only.
        SetXmlReadableFolders({App.File("Templates"), Cache()});
    }
    void TearDown() override
    {
        Repository.reset();
        Scheduler.reset();
        TDiapositiveType::FreeTypes();
        SetXmlReadableFolders({});
    }

    void MakeRepository()
    {
        TRepositoryServices services;
        services.Scheduler = [this] { return Scheduler.get(); };
        services.Network = Network;
        services.Downloaders = std::make_shared<THttpDownloaderFactory>(ShortHttpOptions(Clock));
        services.Clock = Clock;
        Repository = std::make_unique<TVitrelleRepository>(*Settings, services);
    }

    static QByteArray Data(const QString& name) { return ReadFileBytes(TestDataPath("repository/" + name)); }
    QString Cache(const QString& name = {}) const { return App.Path() + "/Cache/" + name; }
    // The list file in the cache, as if fetched earlier.
    void CacheList(const QString& dataName = "VitrelleList.xml")
    {
        App.Write("Cache/VitrelleList.xml", Data(dataName));
    }

    // Waits until the downloader's media worker has ended and its end has been reported.
    static bool WaitForMedia(const TVitrelleDownloader& downloader)
    {
        return ServeEventsUntil([&] { return !downloader.Downloading(); });
    }
    bool WaitForRequest(const QString& path, int count = 1)
    {
        return ServeEventsUntil([&] { return Server.Requests(path) >= count; });
    }

    TTestContentServer Server;
    TTempFolder App;
    TLogCapture Log;
    std::shared_ptr<TManualClock> Clock = std::make_shared<TManualClock>();
    std::shared_ptr<TFakeNetworkStatus> Network = std::make_shared<TFakeNetworkStatus>();
    std::unique_ptr<TVitrelleCenterSettings> Settings;
    std::unique_ptr<TVitrelleScheduler> Scheduler;
    std::unique_ptr<TVitrelleRepository> Repository;
};
