#include "VitrelleDownloader.h"

#include "Diapositive.h"
#include "DiapositiveType.h"
#include "Errors.h"
#include "Log.h"
#include "MainThread.h"
#include "PlayRecords.h"
#include "ScheduleAction.h"
#include "ScheduleActionList.h"
#include "Vitrelle.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleRepository.h"
#include "VitrelleResource.h"
#include "VitrelleScheduler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <QScopeGuard>

#include <algorithm>
#include <source_location>
#include <thread>

namespace {

// A programming error: the operation needs what the downloader was not given.
void Require(bool condition, std::source_location where = std::source_location::current())
{
    if (!condition)
        throw EVitrelleError(
            QStringLiteral("Echec de l'assertion (src/Repository/VitrelleDownloader, line %1)")
                .arg(where.line()));
}

void Info(const QString& message)
{
    WriteLog(TVitrelleDownloader::LogSource, 3, message);
}

// A regular file of its own: a link planted in its place is no cached copy (the slide would show what it
// points at); the fetch replaces it.
bool IsCachedFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

void RemoveFile(const QString& path)
{
    if (!path.isEmpty())
        QFile::remove(path); // a file that is not there, or cannot go, is passed over
}

// Consecutive failures of the transport (no connection, a time-out) after which the server is taken to be
// out of reach and the run ends: the rest waits for the next run instead of failing one by one.
constexpr int MaxTransportFailures = 3;
// From this many missing files on, a second transfer runs beside the first.
constexpr long ParallelTransferThreshold = 8;

} // namespace

TVitrelleDownloader::TVitrelleDownloader(TVitrelleRepository* repository, std::shared_ptr<TVitrelle> vitrelle)
    : FRepository(repository), FVitrelle(std::move(vitrelle)),
      FSourceName(FVitrelle ? QStringLiteral("Vitrelle %1 downloader").arg(FVitrelle->Id)
                            : QStringLiteral("Downloader")),
      FEvents(std::make_unique<QObject>()), FLink(std::make_unique<TThreadLink>(*this)),
      FClient(std::make_shared<THttpClient>()), FWorker(std::make_shared<TWorkerState>())
{
    if (FRepository != nullptr) {
        RefreshHttpSettings();
        FClient->Http = FRepository->Services().Downloaders->CreateDownloader(FClient->Settings);
        // A transfer under way ends as soon as the thread that runs it is asked to stop, or, lent to an
        // update, once this object has gone.
        FClient->Http->SetCancelCheck(
            [client = FClient.get()] { return WorkerStopRequested() || client->OwnerGone.load(); });
    }
    NoteVitrelleNames();
    if (TVitrelleScheduler* scheduler = Scheduler())
        scheduler->RegisterSource(this);
}

TVitrelleDownloader::~TVitrelleDownloader()
{
    FClient->OwnerGone = true; // an update on a worker gives its transfer up and leaves this object alone
    FUpdatePending = false;
    // Unregistered first, so that no scheduled update can reach this object while it waits for its worker.
    if (TVitrelleScheduler* scheduler = Scheduler())
        scheduler->UnregisterSource(this);
    StopMediaDownload();
    FLink.reset(); // waits for a worker that is still running
}

TVitrelleScheduler* TVitrelleDownloader::Scheduler() const
{
    if (FRepository == nullptr || !FRepository->Services().Scheduler)
        return nullptr;
    return FRepository->Services().Scheduler();
}

void TVitrelleDownloader::RefreshHttpSettings()
{
    if (FRepository != nullptr && !FDownloading && !FUpdateRunning)
        FClient->Settings.Assign(&FRepository->Settings().HttpSettings());
}

void TVitrelleDownloader::NoteVitrelleNames()
{
    std::lock_guard lock(FNamesMutex);
    FVitrelleName = FVitrelle ? FVitrelle->Name : QString();
    FVitrelleId = FVitrelle ? FVitrelle->Id : QString();
}

QString TVitrelleDownloader::VitrelleFilePath() const
{
    if (FRepository == nullptr || !FVitrelle)
        return {};
    return FRepository->VitrelleFilePath(FVitrelle->Id);
}

bool TVitrelleDownloader::DownloadVitrelle()
{
    const QString path = VitrelleFilePath();
    if (!FVitrelle || FVitrelle->Id.isEmpty() || path.isEmpty())
        return false;
    Require(!FDownloading && !FUpdateRunning); // a worker owns the HTTP downloader meanwhile
    Info(QStringLiteral("Download vitrelle ID = '%1'").arg(FVitrelle->Id));
    RefreshHttpSettings();
    return FClient->Http->DownloadVitrelle(FVitrelle->Id, path);
}

bool TVitrelleDownloader::Load()
{
    VC_ASSERT_MAIN_THREAD();
    if (FDownloading)
        return true; // loaded already, its media on their way
    if (FUpdateRunning && FVitrelle->HasContent())
        return true; // the running update loads the new content
    const QString path = VitrelleFilePath();
    if (path.isEmpty())
        return false;
    // While an update runs on a worker, the file it fetches is not fetched a second time here.
    if (!QFile::exists(path) && (FUpdateRunning || !DownloadVitrelle()))
        return false;
    const QString id = FVitrelle->Id;
    Info(QStringLiteral("Load vitrelle ID = '%1'...").arg(id));
    const bool loaded = FVitrelle->LoadFromFile(path);
    NoteVitrelleNames();
    if (!loaded) {
        WriteLog(TVitrelleDownloader::LogSource, 1,
                 QStringLiteral("Erreur while loading vitrelle ID '%1'").arg(id));
        return false;
    }
    Info(QStringLiteral("Vitrelle ID = '%1' was successfully loaded").arg(id));
    StartMediaDownload();
    return true;
}

void TVitrelleDownloader::PrepareMediaDownload()
{
    Require(FRepository != nullptr && FVitrelle != nullptr);
    Require(!FDownloading); // the worker reads the list
    Info(QStringLiteral("Prepare download of vitrelle '%1' (ID = '%2')").arg(FVitrelle->Name, FVitrelle->Id));
    FMediaList.clear();
    const auto add = [this](const std::vector<std::unique_ptr<TVitrelleResource>>& resources) {
        for (const std::unique_ptr<TVitrelleResource>& resource : resources)
            if (!resource->Id.isEmpty())
                FMediaList.push_back({resource.get(), {}});
    };
    for (const TDiapositiveType* type : FVitrelle->UsedTypes())
        add(type->Resources);
    for (const TDiapositive* slide : FVitrelle->AllDiapositives())
        add(slide->Resources);
    for (TMediaEntry& entry : FMediaList) {
        entry.FilePath = FRepository->ResourceFilePath(entry.Resource, FVitrelle->Id);
        if (entry.FilePath.isEmpty())
            entry.Resource->Status = TVitrelleResource::Failed; // a refused name is never fetched
        else
            entry.Resource->Status = IsCachedFile(entry.FilePath) && !FRefetch ? TVitrelleResource::Present
                                                                               : TVitrelleResource::Missing;
    }
    FRefetch = false;
}

void TVitrelleDownloader::StartMediaDownload()
{
    Require(FRepository != nullptr && FVitrelle != nullptr);
    if (FDownloading)
        return;
    if (FUpdateRunning) {
        FMediaHeldBack = true; // the update's worker has the HTTP downloader; its end starts the download
        return;
    }
    PrepareMediaDownload();
    RefreshHttpSettings();
    {
        std::lock_guard lock(FWorker->Mutex);
        FWorker->Running = true;
    }
    FDownloading = true;
    TThreadLink::StartLink(FLink, *this);
}

void TVitrelleDownloader::StopMediaDownload()
{
    if (!FDownloading)
        return;
    FLink->Terminate();
    FinishMediaStop(FStopWait);
}

bool TVitrelleDownloader::FinishMediaStop(std::chrono::milliseconds wait)
{
    {
        std::unique_lock lock(FWorker->Mutex);
        if (!FWorker->Ended.wait_for(lock, wait, [this] { return !FWorker->Running; }))
            return false; // Downloading stays set until the end notification
    }
    // The body has returned: freeing its link joins the thread and runs the end notification right here, so
    // the stop does not depend on which events the caller's context lets through.
    std::unique_ptr<TThreadLink> finished = std::move(FLink);
    FLink = std::make_unique<TThreadLink>(*this);
    finished.reset();
    return true;
}

void TVitrelleDownloader::DeleteDiapositiveFiles(const TDiapositive* slide)
{
    Require(FRepository != nullptr);
    if (slide == nullptr)
        return;
    // What was refused was logged when it was asked for, and was never written.
    constexpr auto quiet = TVitrelleRepository::TRefusal::Quiet;
    RemoveFile(FRepository->DiapositiveFilePath(slide, quiet));
    for (const std::unique_ptr<TVitrelleResource>& resource : slide->Resources)
        RemoveFile(FRepository->ResourceFilePath(resource.get(), {}, quiet));
}

void TVitrelleDownloader::DeleteFiles()
{
    Require(FRepository != nullptr);
    if (!FVitrelle)
        return;
    for (const QString& path : CachedFiles(*FVitrelle))
        RemoveFile(path);
}

QStringList TVitrelleDownloader::CachedFiles(const TVitrelle& vitrelle, TFiles which) const
{
    // Worked out again at every update, also for other vitrelles: a refused name was logged when it was
    // fetched (or shown), and has no file here.
    constexpr auto quiet = TVitrelleRepository::TRefusal::Quiet;
    QStringList files;
    for (const TDiapositive* slide : vitrelle.AllDiapositives()) {
        if (which == TFiles::All)
            files << FRepository->DiapositiveFilePath(slide, quiet);
        for (const std::unique_ptr<TVitrelleResource>& resource : slide->Resources)
            files << FRepository->ResourceFilePath(resource.get(), {}, quiet);
    }
    for (const TDiapositiveType* type : vitrelle.UsedTypes())
        for (const std::unique_ptr<TVitrelleResource>& resource : type->Resources)
            files << FRepository->ResourceFilePath(resource.get(), {}, quiet);
    files.removeAll(QString());
    return files;
}

QStringList TVitrelleDownloader::CachedFilesOf(const QString& vitrelleFile, QStringList* fetched) const
{
    if (vitrelleFile.isEmpty() || !QFile::exists(vitrelleFile))
        return {};
    TVitrelle scratch(FVitrelle->Id, -1);
    if (!scratch.LoadFromFile(vitrelleFile))
        return {};
    if (fetched != nullptr)
        *fetched = CachedFiles(scratch, TFiles::Fetched);
    return CachedFiles(scratch);
}

QStringList TVitrelleDownloader::FetchedFilesInUse() const
{
    if (!FVitrelle)
        return {};
    if (!FVitrelle->AllDiapositives().empty())
        return CachedFiles(*FVitrelle, TFiles::Fetched);
    QStringList fetched;
    CachedFilesOf(VitrelleFilePath(), &fetched);
    return fetched;
}

struct TVitrelleDownloader::TUpdateStart
{
    bool Proceed = false; // the media download has stopped: the transfer may begin
    QString Id;
    QString Path;
    QStringList Stale;
    std::chrono::milliseconds StopWait{0};
};

QStringList TVitrelleDownloader::StaleFiles() const
{
    // What is cached was named by the loaded content (if any was loaded in this run) and by the cached file,
    // which the new file is about to replace.
    return CachedFiles(*FVitrelle) + CachedFilesOf(VitrelleFilePath());
}

void TVitrelleDownloader::RecordUpdate(bool succeeded)
{
    const std::shared_ptr<const IClock>& clock = FRepository->Services().Clock;
    FLastUpdate = {clock ? clock->Now() : QDateTime::currentDateTime(), succeeded};
    // The vitrelle file is what an update fetches itself; its media follow on the media worker.
    const QFileInfo file(VitrelleFilePath());
    RecordPlayEvent(TUpdateRecord{FVitrelle ? FVitrelle->Id : QString(), succeeded, succeeded ? 1 : 0,
                                  succeeded ? file.size() : 0, QString(), FLastUpdate.Time});
}

bool TVitrelleDownloader::ReplaceContent(QStringList stale)
{
    const QString path = VitrelleFilePath();
    // Everything is fetched again, but a file the new content still names stays until its new copy has
    // arrived whole: a server that fails the media after the vitrelle file must not leave the show without
    // its pictures and styles (which other vitrelles of the same types use too). Pages are made here and go.
    QStringList fetched;
    stale += CachedFilesOf(path, &fetched);
    stale.removeDuplicates();
    QSet<QString> kept(fetched.begin(), fetched.end());
    // Media and styles live in their type's folder, shared with the other vitrelles of that type: one this
    // content no longer names may still be on another's slides.
    bool othersAsked = false;
    for (const QString& file : stale) {
        if (kept.contains(file))
            continue;
        if (!othersAsked) {
            othersAsked = true;
            for (int i = 0; i < FRepository->DownloaderCount(); ++i)
                if (const TVitrelleDownloader* other = FRepository->DownloaderAt(i); other != this)
                    for (const QString& used : other->FetchedFilesInUse())
                        kept.insert(used);
            if (kept.contains(file))
                continue;
        }
        RemoveFile(file);
    }
    FRefetch = true;
    return Load();
}

bool TVitrelleDownloader::Update()
{
    if (!OnMainThread())
        return UpdateOnWorker();
    if (FUpdateRunning) {
        WriteLog(TVitrelleDownloader::LogSource, 2,
                 QStringLiteral("Update of vitrelle ID = '%1' is not started: an update of it is running")
                     .arg(FVitrelle ? FVitrelle->Id : QString()));
        return false;
    }
    StopMediaDownload();
    if (FDownloading) {
        // Not dropped: carried out by the end notification's follow-up once the worker has ended.
        if (!FUpdatePending)
            WriteLog(TVitrelleDownloader::LogSource, 2,
                     QStringLiteral("Update of vitrelle ID = '%1' waits until its media download has ended")
                         .arg(FVitrelle ? FVitrelle->Id : QString()));
        FUpdatePending = true;
        return false;
    }
    FUpdatePending = false;
    if (FRepository == nullptr || !FVitrelle)
        return false;
    // From here on the update ends in this call, with an error too.
    bool succeeded = false;
    const auto record = qScopeGuard([this, &succeeded] { RecordUpdate(succeeded); });
    QStringList stale = StaleFiles();
    // The new file replaces the cached one only when it arrived whole; until then nothing is deleted, so an
    // update against a server that is down leaves the vitrelle playable.
    if (!DownloadVitrelle())
        return false;
    succeeded = ReplaceContent(std::move(stale));
    return succeeded;
}

void TVitrelleDownloader::BeginUpdate(TUpdateStart& start, bool wait)
{
    start = {};
    start.StopWait = FStopWait;
    if (FUpdateRunning) {
        WriteLog(TVitrelleDownloader::LogSource, 2,
                 QStringLiteral("Update of vitrelle ID = '%1' is not started: an update of it is running")
                     .arg(FVitrelle ? FVitrelle->Id : QString()));
        return;
    }
    if (FDownloading) {
        FLink->Terminate();
        // Waiting here is for the end notification only: the body has returned once the worker said so.
        FinishMediaStop(std::chrono::milliseconds(0));
    }
    if (FDownloading) {
        if (!wait)
            return; // the worker waits for the media worker's end, off the main thread
        if (!FUpdatePending)
            WriteLog(TVitrelleDownloader::LogSource, 2,
                     QStringLiteral("Update of vitrelle ID = '%1' waits until its media download has ended")
                         .arg(FVitrelle ? FVitrelle->Id : QString()));
        FUpdatePending = true;
        return;
    }
    FUpdatePending = false;
    if (FRepository == nullptr || !FVitrelle)
        return;
    start.Stale = StaleFiles();
    start.Id = FVitrelle->Id;
    start.Path = VitrelleFilePath();
    if (start.Id.isEmpty() || start.Path.isEmpty()) {
        RecordUpdate(false); // as DownloadVitrelle giving no file
        return;
    }
    RefreshHttpSettings();
    FUpdateRunning = true; // the client is the worker's until the last hand-over
    FMediaHeldBack = false;
    start.Proceed = true;
}

bool TVitrelleDownloader::UpdateOnWorker()
{
    const std::shared_ptr<THttpClient> client = FClient;
    const std::shared_ptr<TWorkerState> worker = FWorker;
    TUpdateStart start;
    bool downloading = false;
    QString id;
    RunOnMainThread([&] {
        BeginUpdate(start, false);
        downloading = FDownloading;
        id = FVitrelle ? FVitrelle->Id : QString();
    });
    if (downloading) {
        // The media worker has been asked to stop: its end is awaited here, not on the main thread. One that
        // does not end within the stop wait (a flush held up) is logged, and awaited on: the update is not
        // left for later, so its outcome is known when this call returns.
        bool told = false;
        while (true) {
            {
                std::unique_lock lock(worker->Mutex);
                const auto until = std::chrono::steady_clock::now() + start.StopWait;
                while (worker->Running && std::chrono::steady_clock::now() < until &&
                       !WorkerStopRequested() && !client->OwnerGone)
                    worker->Ended.wait_for(lock, std::chrono::milliseconds(50));
                if (!worker->Running)
                    break;
            }
            if (WorkerStopRequested())
                throw EDownloadCancelled(QStringLiteral("Update of vitrelle ID = '%1' cancelled").arg(id));
            // Gone: no hand-over either, so a main thread that waits for this worker's end need not serve
            // one.
            if (client->OwnerGone)
                return false;
            if (!told)
                WriteLog(
                    TVitrelleDownloader::LogSource, 2,
                    QStringLiteral("Update of vitrelle ID = '%1' waits until its media download has ended")
                        .arg(id));
            told = true;
        }
        if (client->OwnerGone)
            return false;
        RunOnMainThread([&] {
            if (!client->OwnerGone)
                BeginUpdate(start, true);
        });
    }
    if (!start.Proceed)
        return false;
    // From here on the update ends in this call, with an error too, and the last hand-over gives the client
    // back.
    bool fetched = false;
    try {
        Info(QStringLiteral("Download vitrelle ID = '%1'").arg(start.Id));
        fetched = client->Http->DownloadVitrelle(start.Id, start.Path);
    } catch (...) {
        if (client->OwnerGone)
            throw;
        RunOnMainThread([&] {
            if (client->OwnerGone)
                return;
            FUpdateRunning = false;
            RecordUpdate(false);
            if (FMediaHeldBack)
                StartMediaDownload();
        });
        throw;
    }
    bool succeeded = false;
    if (client->OwnerGone)
        return false;
    RunOnMainThread([&] {
        if (client->OwnerGone)
            return;
        FUpdateRunning = false;
        const auto record = qScopeGuard([this, &succeeded] { RecordUpdate(succeeded); });
        if (!fetched) {
            // Nothing was deleted; content loaded meanwhile gets the media download it was held back from.
            if (FMediaHeldBack)
                StartMediaDownload();
            return;
        }
        succeeded = ReplaceContent(std::move(start.Stale));
    });
    return succeeded;
}

void TVitrelleDownloader::RunPendingUpdate()
{
    if (!FUpdatePending)
        return;
    Info(QStringLiteral("Update of vitrelle ID = '%1' after its media download").arg(FVitrelle->Id));
    // Called from the event loop, which an exception must not cross.
    try {
        Update();
    } catch (const std::exception& error) {
        WriteLog(TVitrelleDownloader::LogSource, 1, QString::fromUtf8(error.what()));
    }
}

std::vector<TVitrelleResource*> TVitrelleDownloader::MediaList() const
{
    std::vector<TVitrelleResource*> resources;
    for (const TMediaEntry& entry : FMediaList)
        resources.push_back(entry.Resource);
    return resources;
}

// ---- schedule source ----

std::unique_ptr<TScheduleAction> TVitrelleDownloader::CreateDefaultAction(qint32)
{
    return TScheduleAction::CreateAction(this, UpdateAction, 3, QTime(0, 0), false);
}

QString TVitrelleDownloader::GetActionDescription(const TScheduleAction* action) const
{
    if (action == nullptr || action->Action != UpdateAction || !FVitrelle)
        return {};
    std::lock_guard lock(FNamesMutex);
    return QStringLiteral("Update vitrelle '%1' (ID = %2)").arg(FVitrelleName, FVitrelleId);
}

void TVitrelleDownloader::FilterActions(TScheduleActionList& actions)
{
    if (FRepository == nullptr || !FRepository->Services().Network->IsConnectedToInternet())
        actions.Clear(); // no update runs offline; the actions are offered again at the next tick
}

bool TVitrelleDownloader::ExecuteAction(TScheduleAction* action)
{
    if (action == nullptr || action->Action != UpdateAction)
        return false;
    return Update();
}

// ---- media worker ----

void TVitrelleDownloader::ThreadExecute()
{
    // Whatever ends the body, a stop waiting for it learns that it has returned.
    struct TEndSignal
    {
        TWorkerState& State;
        ~TEndSignal()
        {
            {
                std::lock_guard lock(State.Mutex);
                State.Running = false;
            }
            State.Ended.notify_all();
        }
    } endSignal{*FWorker};
    const TThreadLink* link = TThreadLink::Current();
    Require(FRepository != nullptr && FVitrelle != nullptr && link != nullptr);
    FetchMedia(*link);
}

void TVitrelleDownloader::FetchMedia(const TThreadLink& link)
{
    QString id;
    {
        std::lock_guard lock(FNamesMutex);
        id = FVitrelleId;
    }
    TFileCommitGroup group(FFileSink ? *FFileSink : SystemFileSink());

    std::mutex mutex; // guards the fields below, shared by the transfers
    size_t next = 0;
    bool outOfReach = false;
    int transportFailures = 0;
    // Files claimed by a transfer and not yet committed, by target: the resources they stand for.
    QHash<QString, std::vector<TVitrelleResource*>> claims;

    const auto settle = [&] { // with the mutex held
        for (const TFileCommitGroup::TOutcome& outcome : group.TakeOutcomes()) {
            const auto found = claims.find(outcome.TargetPath);
            if (found == claims.end())
                continue;
            const bool stored = outcome.Error.isEmpty();
            for (TVitrelleResource* resource : found.value())
                resource->Status = stored ? TVitrelleResource::Present : TVitrelleResource::Failed;
            if (!stored)
                WriteLog(TVitrelleDownloader::LogSource, 1,
                         QStringLiteral("Cannot store media file %1 of vitrelle ID = '%2': %3")
                             .arg(outcome.TargetPath, id, outcome.Error));
            claims.erase(found);
        }
    };
    const auto fail = [&](const QString& target, const QString& reason, int level) { // with the mutex held
        const auto found = claims.find(target);
        if (found == claims.end())
            return;
        for (TVitrelleResource* resource : found.value()) {
            resource->Status = TVitrelleResource::Failed; // tried again at the next run
            WriteLog(TVitrelleDownloader::LogSource, level,
                     QStringLiteral("Media '%1' of vitrelle ID = '%2' not fetched: %3")
                         .arg(resource->Id, id, reason));
        }
        claims.erase(found);
    };
    // Fetches entries of the media list until none is left; each entry is taken by one transfer.
    const auto transfer = [&](TDownloader& http) {
        const TFileCommitGroup::TScope scope(group);
        while (true) {
            TVitrelleResource* resource = nullptr;
            QString target;
            {
                std::lock_guard lock(mutex);
                settle();
                while (resource == nullptr && next < FMediaList.size() && !outOfReach && !link.Terminated()) {
                    const TMediaEntry& entry = FMediaList[next++];
                    if (entry.Resource->Status != TVitrelleResource::Missing)
                        continue;
                    target = QFileInfo(entry.FilePath).absoluteFilePath();
                    if (const auto found = claims.find(target); found != claims.end()) {
                        found.value().push_back(entry.Resource); // fetched already in this run
                        continue;
                    }
                    claims[target].push_back(entry.Resource);
                    resource = entry.Resource;
                }
            }
            if (resource == nullptr)
                return;
            QString failure;
            int level = 1;
            bool transportFailure = false;
            try {
                QDir().mkpath(QFileInfo(target).absolutePath());
                if (!http.DownloadResource(resource, target)) {
                    failure = QStringLiteral("the server sent no file");
                    level = 2;
                }
            } catch (const EDownloadCancelled&) {
                std::lock_guard lock(mutex);
                claims.remove(target); // asked to stop during the transfer: missing for the next run
                return;
            } catch (const EHttpError& error) {
                failure = error.Message();
                transportFailure = error.StatusCode == 0;
            } catch (const EVitrelleError& error) {
                failure = error.Message(); // a file that cannot be written, a bad URL template
            }
            std::lock_guard lock(mutex);
            if (failure.isEmpty()) {
                transportFailures = 0;
                continue; // its commit reports it
            }
            fail(target, failure, level);
            transportFailures = transportFailure ? transportFailures + 1 : 0;
            if (transportFailures >= MaxTransportFailures && !outOfReach) {
                outOfReach = true;
                WriteLog(
                    TVitrelleDownloader::LogSource, 1,
                    QStringLiteral("Media download of vitrelle ID = '%1' ended: the server is out of reach")
                        .arg(id));
            }
        }
    };

    // Many small files go faster over two connections: one transfer's latency hides behind the other's.
    const auto missing = std::count_if(FMediaList.begin(), FMediaList.end(), [](const TMediaEntry& entry) {
        return entry.Resource->Status == TVitrelleResource::Missing;
    });
    std::thread second;
    if (missing >= ParallelTransferThreshold)
        second = std::thread([&] {
            try {
                const std::unique_ptr<TDownloader> http =
                    FRepository->Services().Downloaders->CreateDownloader(FClient->Settings);
                http->SetCancelCheck([&link] { return link.Terminated(); });
                transfer(*http);
            } catch (const std::exception& error) {
                WriteLog(TVitrelleDownloader::LogSource, 1,
                         QString::fromUtf8(error.what())); // the first transfer goes on
            }
        });
    transfer(*FClient->Http);
    if (second.joinable())
        second.join();
    // A stop drops what is not on disk yet (fetched again at the next run) rather than wait for it.
    if (link.Terminated())
        group.Discard();
    else
        group.Finish();
    std::lock_guard lock(mutex);
    settle();
}

void TVitrelleDownloader::ThreadTerminated()
{
    FDownloading = false;
    if (FUpdatePending)
        QMetaObject::invokeMethod(
            FEvents.get(), [this] { RunPendingUpdate(); }, Qt::QueuedConnection);
}
