#pragma once

#include "AtomicFile.h"
#include "HttpDownloader.h"
#include "HttpSettings.h"
#include "ScheduleSource.h"
#include "ThreadLink.h"
#include "VitrelleRepository.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class TDiapositive;
class QObject;
class TVitrelle;
class TVitrelleRepository;
class TVitrelleResource;
class TVitrelleScheduler;

// Brings one listed vitrelle into the cache and keeps it there: fetches its file when it is not cached,
// loads it, and fetches the missing template resources and media on a worker thread. As a schedule source it
// offers one action, the update (code 0): everything cached for the vitrelle is fetched again.
//
// Threads: everything runs on the main thread except the media worker and an update called on a worker.
// The media worker reads the media list and the resources' Id and Src, writes their Status, and uses the HTTP
// downloader. It commits the files it fetches in groups (TFileCommitGroup): a resource is marked present once
// its file is on disk under its name. While it runs (from StartMediaDownload until its end has been reported
// on the main thread) the vitrelle is not reloaded, the media list is not rebuilt and the HTTP downloader is
// not used on the main thread.
// An update called on a worker (a scheduled one) transfers the vitrelle file on that worker and does the rest
// on the main thread (RunOnMainThread): it stops the media download, takes the HTTP downloader for the
// transfer (meanwhile the main thread neither fetches nor starts the media download: see Load), and once the
// new file is whole on disk deletes the stale files and loads the new content in one hand-over, so a playing
// show changes only between two of its steps. Outside its hand-overs such an update touches nothing of this
// object; one destroyed meanwhile ends its transfer and is left alone.
class TVitrelleDownloader : public IScheduleSource, public IThread
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TVitrelleDownloader"};

    static constexpr int StopWaitMs = 2000;
    static constexpr qint32 UpdateAction = 0;

    // Registers with the repository's scheduler, when there is one. A null repository gives a downloader
    // that fetches nothing.
    TVitrelleDownloader(TVitrelleRepository* repository, std::shared_ptr<TVitrelle> vitrelle);
    // Unregisters (the scheduler drops this source's actions), stops the media download and waits until the
    // worker has ended.
    ~TVitrelleDownloader();

    TVitrelleDownloader(const TVitrelleDownloader&) = delete;
    TVitrelleDownloader& operator=(const TVitrelleDownloader&) = delete;

    // The repository's path of the vitrelle's file; empty without repository or vitrelle.
    QString VitrelleFilePath() const;
    // Fetches the vitrelle's file; false when there is nothing to fetch or the server gave no file. Errors
    // of the transfer are raised.
    bool DownloadVitrelle();
    // Loads the vitrelle from its file (fetched first when not cached) and starts its media download. True
    // at once, without reloading, while the media download runs. Errors of the transfer are raised.
    // While an update runs on a worker: true at once when content is loaded; otherwise the cached file is
    // loaded when there is one (nothing is fetched) and the media download waits for the update's end.
    bool Load();
    // Builds the media list: the resources of the used types, then those of every slide, with their
    // presence in the cache.
    void PrepareMediaDownload();
    // Starts the worker on a fresh media list, unless it runs already or an update runs on a worker (whose
    // end starts it).
    void StartMediaDownload();
    // Asks the worker to stop (a transfer under way is given up, fetched files not yet on disk are dropped)
    // and waits up to the stop wait for its end. The end notification runs inside this wait when the worker
    // has ended, whether or not the main thread's events are served.
    void StopMediaDownload();
    void DeleteDiapositiveFiles(const TDiapositive* slide);
    // Deletes the rendered pages and media of the loaded content and the resources of its types.
    void DeleteFiles();
    // Fetches the vitrelle's file again, deletes everything cached for the vitrelle (pages, media and type
    // resources named by the loaded content, by the file cached before and by the new file), and loads it,
    // which fetches every media file again. When the file cannot be fetched nothing is deleted. Errors are
    // raised. When the media worker does not end within the stop wait, the update is logged and carried out
    // as soon as the worker has ended; false meanwhile.
    // On the main thread everything runs inline. On a link's worker (a scheduled action) the transfer runs
    // there and the rest on the main thread, as the class comment tells; a media worker slow to end is logged
    // the same way and awaited on that worker, and the call returns when the update has ended, with its
    // outcome. A stop asked of the worker gives the wait or the transfer up (EDownloadCancelled). False at
    // once, on the main thread, while another update runs on a worker.
    bool Update();
    bool UpdatePending() const { return FUpdatePending; }
    // An update runs on a worker and holds the HTTP downloader (main thread).
    bool UpdateRunning() const { return FUpdateRunning; }
    // How the last update that ran to its end went (main thread). An update that waits for the media
    // download has not ended yet; one that raised an error has failed.
    const TVitrelleUpdateRecord& LastUpdate() const { return FLastUpdate; }
    // A replaced downloader's record, carried over by the repository.
    void SetLastUpdate(const TVitrelleUpdateRecord& record) { FLastUpdate = record; }

    bool Downloading() const { return FDownloading.load(); }
    TVitrelle* Vitrelle() const { return FVitrelle.get(); }
    const std::shared_ptr<TVitrelle>& SharedVitrelle() const { return FVitrelle; }
    // The resources of the media list, in fetch order. Main thread, while the worker does not run.
    std::vector<TVitrelleResource*> MediaList() const;

    // For tests: how long a stop waits for the worker, and where the worker's files are written (null for
    // the real file system). Main thread, while the worker does not run.
    void SetStopWait(std::chrono::milliseconds wait) { FStopWait = wait; }
    void SetFileSink(std::shared_ptr<IFileSink> sink) { FFileSink = std::move(sink); }

    // IScheduleSource
    QString GetSourceName() const override { return FSourceName; }
    std::unique_ptr<TScheduleAction> CreateDefaultAction(qint32 actionCode) override;
    QString GetActionDescription(const TScheduleAction* action) const override;
    void FilterActions(TScheduleActionList& actions) override;
    bool ExecuteAction(TScheduleAction* action) override;

    // IThread
    void ThreadExecute() override;
    void ThreadTerminated() override;

private:
    struct TMediaEntry
    {
        TVitrelleResource* Resource;
        QString FilePath; // empty for a refused name
    };
    // The HTTP downloader and its copy of the server settings. Shared with an update running on a worker,
    // which keeps it alive, and told when this object has gone so that a transfer lent out ends.
    struct THttpClient
    {
        THttpSettings Settings;
        std::unique_ptr<TDownloader> Http;
        std::atomic<bool> OwnerGone{false};
    };
    // Whether the media worker's body still runs: lets a stop wait for it without serving events, on the
    // main thread or on an updating worker (which keeps it alive).
    struct TWorkerState
    {
        std::mutex Mutex; // guards Running
        std::condition_variable Ended;
        bool Running = false;
    };
    // What an update on a worker decided in its first hand-over.
    struct TUpdateStart;

    TVitrelleScheduler* Scheduler() const;
    // The worker's run: fetches every missing entry; one that fails is logged, marked failed and passed over.
    void FetchMedia(const TThreadLink& link);
    // The cache files of a vitrelle's content: rendered pages, slide media and its types' resources.
    enum class TFiles
    {
        All,
        Fetched, // media and type resources: those that come from the server
    };
    QStringList CachedFiles(const TVitrelle& vitrelle, TFiles which = TFiles::All) const;
    // Those of the content of a vitrelle file, read into a scratch vitrelle; none when it cannot be read.
    // fetched, when given, receives the TFiles::Fetched ones of the same reading.
    QStringList CachedFilesOf(const QString& vitrelleFile, QStringList* fetched = nullptr) const;
    // The media and type resources this vitrelle needs: those of its loaded content, or of its cached file
    // when it has not been loaded in this run.
    QStringList FetchedFilesInUse() const;
    void RunPendingUpdate();
    bool UpdateOnWorker();
    // The first step of an update on the main thread: stops the media download (asks it to, when wait is
    // false) and collects what is cached for the vitrelle now.
    void BeginUpdate(TUpdateStart& start, bool wait);
    // The files cached for the vitrelle before its new file arrives.
    QStringList StaleFiles() const;
    // The new file is whole on disk: the stale files go (those the new content or another vitrelle still
    // names excepted) and the new content is loaded.
    bool ReplaceContent(QStringList stale);
    void RecordUpdate(bool succeeded);
    // Main thread: the media worker's body has returned (or waits up to wait for it); then its link is
    // freed, which runs the end notification here.
    bool FinishMediaStop(std::chrono::milliseconds wait);
    // The HTTP downloader reads its own copy of the server settings, refreshed on the main thread whenever
    // the worker does not run, so values applied meanwhile are used and never read while being changed.
    void RefreshHttpSettings();
    void NoteVitrelleNames();

    TVitrelleRepository* const FRepository;
    const std::shared_ptr<TVitrelle> FVitrelle;
    const QString FSourceName;
    // Target of the queued call that carries out a waiting update; its calls go with it.
    std::unique_ptr<QObject> FEvents;
    std::unique_ptr<TThreadLink> FLink;
    const std::shared_ptr<THttpClient> FClient;
    std::vector<TMediaEntry> FMediaList;
    std::atomic<bool> FDownloading{false};
    std::chrono::milliseconds FStopWait{StopWaitMs};
    std::shared_ptr<IFileSink> FFileSink;
    bool FUpdatePending = false;
    // The next media download fetches every entry again, also those in the cache (main thread).
    bool FRefetch = false;
    TVitrelleUpdateRecord FLastUpdate; // main thread
    // Main thread: an update on a worker holds the HTTP client; a Load meanwhile held the media download
    // back.
    bool FUpdateRunning = false;
    bool FMediaHeldBack = false;
    const std::shared_ptr<TWorkerState> FWorker;

    // Name and id as the schedule's log shows them; read on the scheduler's worker.
    mutable std::mutex FNamesMutex;
    QString FVitrelleName;
    QString FVitrelleId;
};
