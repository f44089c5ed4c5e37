#include "VitrelleDownloader.h"

#include "Diapositive.h"
#include "DiapositiveType.h"
#include "Errors.h"
#include "Log.h"
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

#include <source_location>

namespace {

const QString DownloaderSource = QStringLiteral("TVitrelleDownloader");

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
    WriteLog(DownloaderSource, 3, message);
}

void RemoveFile(const QString& path)
{
    if (!path.isEmpty())
        QFile::remove(path); // a file that is not there, or cannot go, is passed over
}

const INetworkStatus& SystemNetwork()
{
    static const TSystemNetworkStatus network;
    return network;
}

} // namespace

TVitrelleDownloader::TVitrelleDownloader(TVitrelleRepository* repository, std::shared_ptr<TVitrelle> vitrelle)
    : FRepository(repository), FVitrelle(std::move(vitrelle)),
      FSourceName(FVitrelle ? QStringLiteral("Vitrelle %1 downloader").arg(FVitrelle->Id)
                            : QStringLiteral("Downloader")),
      FLink(std::make_unique<TThreadLink>(*this))
{
    if (FRepository != nullptr) {
        RefreshHttpSettings();
        FHttp = std::make_unique<THttpDownloader>(FHttpSettings, FRepository->Services().Http);
        // A transfer under way ends as soon as the worker is asked to stop.
        FHttp->SetCancelCheck([] {
            const TThreadLink* link = TThreadLink::Current();
            return link != nullptr && link->Terminated();
        });
    }
    NoteVitrelleNames();
    if (TVitrelleScheduler* scheduler = Scheduler())
        scheduler->RegisterSource(this);
}

TVitrelleDownloader::~TVitrelleDownloader()
{
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
    if (FRepository != nullptr && !FDownloading)
        FHttpSettings.Assign(&FRepository->Settings().HttpSettings());
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
    Require(!FDownloading); // the worker owns the HTTP downloader meanwhile
    Info(QStringLiteral("Download vitrelle ID = '%1'").arg(FVitrelle->Id));
    RefreshHttpSettings();
    return FHttp->DownloadVitrelle(FVitrelle->Id, path);
}

bool TVitrelleDownloader::Load()
{
    if (FDownloading)
        return true; // loaded already, its media on their way
    const QString path = VitrelleFilePath();
    if (path.isEmpty())
        return false;
    if (!QFile::exists(path) && !DownloadVitrelle())
        return false;
    const QString id = FVitrelle->Id;
    Info(QStringLiteral("Load vitrelle ID = '%1'...").arg(id));
    const bool loaded = FVitrelle->LoadFromFile(path);
    NoteVitrelleNames();
    if (!loaded) {
        WriteLog(DownloaderSource, 1, QStringLiteral("Erreur while loading vitrelle ID '%1'").arg(id));
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
        entry.FilePath = FRepository->ResourceFilePath(entry.Resource);
        if (entry.FilePath.isEmpty())
            entry.Resource->Status = TVitrelleResource::Failed; // a refused name is never fetched
        else
            entry.Resource->Status =
                QFileInfo::exists(entry.FilePath) ? TVitrelleResource::Present : TVitrelleResource::Missing;
    }
}

void TVitrelleDownloader::StartMediaDownload()
{
    Require(FRepository != nullptr && FVitrelle != nullptr);
    if (FDownloading)
        return;
    PrepareMediaDownload();
    RefreshHttpSettings();
    FDownloading = true;
    TThreadLink::StartLink(FLink, *this);
}

void TVitrelleDownloader::StopMediaDownload()
{
    if (!FDownloading || FLink->Terminated())
        return; // a stop already asked for: the end notification clears Downloading
    FLink->Terminate();
    FLink->WaitForEnd(StopWaitMs);
}

void TVitrelleDownloader::DeleteDiapositiveFiles(const TDiapositive* slide)
{
    Require(FRepository != nullptr);
    if (slide == nullptr)
        return;
    RemoveFile(FRepository->DiapositiveFilePath(slide));
    for (const std::unique_ptr<TVitrelleResource>& resource : slide->Resources)
        RemoveFile(FRepository->ResourceFilePath(resource.get()));
}

void TVitrelleDownloader::DeleteFiles()
{
    Require(FRepository != nullptr);
    if (!FVitrelle)
        return;
    for (const TDiapositive* slide : FVitrelle->AllDiapositives())
        DeleteDiapositiveFiles(slide);
    for (const TDiapositiveType* type : FVitrelle->UsedTypes())
        for (const std::unique_ptr<TVitrelleResource>& resource : type->Resources)
            RemoveFile(FRepository->ResourceFilePath(resource.get()));
}

bool TVitrelleDownloader::Update()
{
    StopMediaDownload();
    if (FDownloading)
        return false; // the worker has not ended yet: nothing is touched, the next update tries again
    // The new file replaces the cached one only when it arrived whole; until then nothing is deleted, so an
    // update against a server that is down leaves the vitrelle playable.
    if (!DownloadVitrelle())
        return false;
    DeleteFiles();
    return Load();
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
    const INetworkStatus& network = FRepository != nullptr && FRepository->Services().Network
                                        ? *FRepository->Services().Network
                                        : SystemNetwork();
    if (!network.IsConnectedToInternet())
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
    const TThreadLink* link = TThreadLink::Current();
    try {
        Require(FRepository != nullptr && FVitrelle != nullptr && link != nullptr);
        for (const TMediaEntry& entry : FMediaList) {
            if (link->Terminated())
                break;
            if (entry.Resource->Status != TVitrelleResource::Missing)
                continue;
            QDir().mkpath(QFileInfo(entry.FilePath).absolutePath());
            const bool fetched = FHttp->DownloadResource(entry.Resource, entry.FilePath);
            entry.Resource->Status = fetched ? TVitrelleResource::Present : TVitrelleResource::Failed;
        }
    } catch (const EDownloadCancelled&) {
        // Asked to stop during a transfer: that resource stays missing for the next run.
    } catch (const EVitrelleError& error) {
        // The rest of the list waits for the next run; an unattended system must say why it stopped.
        QString id;
        {
            std::lock_guard lock(FNamesMutex);
            id = FVitrelleId;
        }
        WriteLog(DownloaderSource, 1,
                 QStringLiteral("Media download of vitrelle ID = '%1' ended: %2").arg(id, error.Message()));
    }
}

void TVitrelleDownloader::ThreadTerminated()
{
    FDownloading = false;
}
