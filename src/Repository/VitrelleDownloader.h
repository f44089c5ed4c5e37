#pragma once

#include "HttpDownloader.h"
#include "HttpSettings.h"
#include "ScheduleSource.h"
#include "ThreadLink.h"

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class TDiapositive;
class TVitrelle;
class TVitrelleRepository;
class TVitrelleResource;
class TVitrelleScheduler;

// Brings one listed vitrelle into the cache and keeps it there: fetches its file when it is not cached,
// loads it, and fetches the missing template resources and media on a worker thread. As a schedule source it
// offers one action, the update (code 0): everything cached for the vitrelle is fetched again.
//
// Threads: everything runs on the main thread except the media worker, which reads the media list and the
// resources' Id and Src, writes their Status, and uses the HTTP downloader. While the worker runs (from
// StartMediaDownload until its end has been reported on the main thread) the vitrelle is not reloaded, the
// media list is not rebuilt and the HTTP downloader is not used on the main thread.
class TVitrelleDownloader : public IScheduleSource, public IThread
{
public:
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
    bool Load();
    // Builds the media list: the resources of the used types, then those of every slide, with their
    // presence in the cache.
    void PrepareMediaDownload();
    // Starts the worker on a fresh media list, unless it runs already.
    void StartMediaDownload();
    // Asks the worker to stop (a transfer under way is given up) and waits up to StopWaitMs for its end.
    void StopMediaDownload();
    void DeleteDiapositiveFiles(const TDiapositive* slide);
    // Deletes the rendered pages and media of the loaded content and the resources of its types.
    void DeleteFiles();
    // Fetches the vitrelle's file again, deletes the cached pages and media, and loads it, which fetches
    // every media file again. When the file cannot be fetched nothing is deleted. Errors are raised.
    bool Update();

    bool Downloading() const { return FDownloading.load(); }
    TVitrelle* Vitrelle() const { return FVitrelle.get(); }
    const std::shared_ptr<TVitrelle>& SharedVitrelle() const { return FVitrelle; }
    // The resources of the media list, in fetch order. Main thread, while the worker does not run.
    std::vector<TVitrelleResource*> MediaList() const;

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

    TVitrelleScheduler* Scheduler() const;
    // The HTTP downloader reads its own copy of the server settings, refreshed on the main thread whenever
    // the worker does not run, so values applied meanwhile are used and never read while being changed.
    void RefreshHttpSettings();
    void NoteVitrelleNames();

    TVitrelleRepository* const FRepository;
    const std::shared_ptr<TVitrelle> FVitrelle;
    const QString FSourceName;
    std::unique_ptr<TThreadLink> FLink;
    THttpSettings FHttpSettings;
    std::unique_ptr<THttpDownloader> FHttp;
    std::vector<TMediaEntry> FMediaList;
    std::atomic<bool> FDownloading{false};

    // Name and id as the schedule's log shows them; read on the scheduler's worker.
    mutable std::mutex FNamesMutex;
    QString FVitrelleName;
    QString FVitrelleId;
};
