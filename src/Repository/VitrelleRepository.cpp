#include "VitrelleRepository.h"

#include "AtomicFile.h"
#include "ContentXml.h"
#include "Diapositive.h"
#include "DiapositiveType.h"
#include "Errors.h"
#include "Log.h"
#include "MainThread.h"
#include "Paths.h"
#include "ThreadLink.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleDownloader.h"
#include "VitrelleResource.h"
#include "VitrelleScheduler.h"
#include "XmlDocument.h"
#include "XmlHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

namespace {

// A name as the log can show it: control characters (a NUL among them) written as escapes.
QString Printable(const QString& name)
{
    QString shown;
    for (const QChar c : name)
        shown += c.unicode() < 0x20 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                                    : QString(c);
    return shown;
}

// Whether the path, as far as it exists, resolves to a place inside the folder (both absolute, the folder
// ending with "/"), following every symbolic link on the way.
bool ResolvesInside(const QString& path, const QString& folder)
{
    const QString resolvedFolder = QFileInfo(folder).canonicalFilePath();
    if (resolvedFolder.isEmpty())
        return false;
    const QString canonicalFolder = IncludeTrailingPathDelimiter(resolvedFolder);
    QString existing = QDir::cleanPath(path);
    while (!QFileInfo::exists(existing) && existing != QLatin1String("/"))
        existing = QFileInfo(existing).absolutePath();
    const QString canonical = IncludeTrailingPathDelimiter(QFileInfo(existing).canonicalFilePath());
    return canonical.startsWith(canonicalFolder);
}

} // namespace

bool IsPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

TVitrelleRepository::TVitrelleRepository(TVitrelleCenterSettings& settings, TRepositoryServices services)
    : FSettings(settings), FServices(std::move(services))
{
    if (!FServices.Network || !FServices.Downloaders)
        throw EVitrelleError(
            QStringLiteral("The repository needs a network status and a downloader factory"));
}

TVitrelleRepository::~TVitrelleRepository()
{
    FreeDownloaders();
    FList.Clear();
}

void TVitrelleRepository::FreeDownloaders()
{
    // Taken out of the member first: while a downloader waits for its worker, the main thread serves events,
    // and one of them may ask the repository for a downloader.
    std::vector<std::unique_ptr<TVitrelleDownloader>> old;
    old.swap(FDownloaders);
    for (const std::unique_ptr<TVitrelleDownloader>& downloader : old)
        if (downloader->Vitrelle() != nullptr && downloader->LastUpdate().Time.isValid())
            FUpdateRecords.insert(downloader->Vitrelle()->Id.toLower(), downloader->LastUpdate());
    old.clear();
}

void TVitrelleRepository::Refuse(const QString& what, const QString& name) const
{
    WriteLog(TVitrelleRepository::LogSource, 1,
             QStringLiteral("%1 '%2' is not a plain file name: refused").arg(what, Printable(name)));
}

QString TVitrelleRepository::RepositoryFolder() const
{
    const QString folder = IncludeTrailingPathDelimiter(AbsolutePath(FSettings.GetRepositoryPath()));
    ForceFolder(folder);
    return folder;
}

QString TVitrelleRepository::ListFilePath() const
{
    const QString path = AbsolutePath(FSettings.GetVitrelleListFilePath());
    ForceFolder(QFileInfo(path).absolutePath());
    return path;
}

QString TVitrelleRepository::CacheFolder(const QString& relative) const
{
    const QString root = RepositoryFolder();
    const QString folder = IncludeTrailingPathDelimiter(QDir::cleanPath(root + relative));
    // By name, and where symbolic links planted in the cache lead: before the folder is created (no folder
    // is made outside) and afterwards.
    if (!folder.startsWith(root) || !ResolvesInside(folder, root)) {
        WriteLog(TVitrelleRepository::LogSource, 1,
                 QStringLiteral("Folder '%1' lies outside the repository: refused").arg(Printable(relative)));
        return {};
    }
    ForceFolder(folder);
    if (!ResolvesInside(folder, root)) {
        WriteLog(TVitrelleRepository::LogSource, 1,
                 QStringLiteral("Folder '%1' lies outside the repository: refused").arg(Printable(relative)));
        return {};
    }
    return folder;
}

QString TVitrelleRepository::VitrelleFilePath(const QString& id) const
{
    if (!IsPlainFileName(id)) {
        Refuse(QStringLiteral("Vitrelle ID"), id);
        return {};
    }
    const QString path = RepositoryFolder() + id + QLatin1String(".xml");
    if (SamePath(path, ListFilePath())) {
        WriteLog(TVitrelleRepository::LogSource, 1,
                 QStringLiteral("Vitrelle ID '%1' names the vitrelle list file: refused").arg(Printable(id)));
        return {};
    }
    return path;
}

QString TVitrelleRepository::DiapositiveFilePath(const TDiapositive* slide) const
{
    if (slide == nullptr || slide->DiapositiveType == nullptr)
        return {};
    if (!IsPlainFileName(slide->Id)) {
        Refuse(QStringLiteral("Slide ID"), slide->Id);
        return {};
    }
    const QString folder = CacheFolder(slide->DiapositiveType->Name);
    return folder.isEmpty() ? QString() : folder + slide->Id + QLatin1String(".html");
}

QString TVitrelleRepository::ResourceFilePath(const TVitrelleResource* resource) const
{
    if (resource == nullptr || resource->Id.isEmpty())
        return {};
    if (!IsPlainFileName(resource->Id)) {
        Refuse(QStringLiteral("Resource ID"), resource->Id);
        return {};
    }
    const QString folder = CacheFolder(resource->Folder);
    return folder.isEmpty() ? QString() : folder + resource->Id;
}

bool TVitrelleRepository::ServerConfigured() const
{
    return !FSettings.HttpSettings().VitrelleListURL.isEmpty();
}

bool TVitrelleRepository::DownloadList()
{
    return FetchList(PrepareListFetch());
}

TVitrelleRepository::TListFetch TVitrelleRepository::PrepareListFetch() const
{
    TListFetch fetch;
    fetch.Settings.Assign(&FSettings.HttpSettings());
    fetch.ListFile = ListFilePath();
    fetch.Downloaders = FServices.Downloaders;
    return fetch;
}

bool TVitrelleRepository::FetchList(const TListFetch& fetch)
{
    if (!fetch.Downloaders)
        return false;
    const std::unique_ptr<TDownloader> downloader = fetch.Downloaders->CreateDownloader(fetch.Settings);
    if (!downloader)
        return false;
    downloader->SetCancelCheck([] { return WorkerStopRequested(); });
    const QString& path = fetch.ListFile;
    // Fetched beside the list, and taken only when it is a vitrelle list: a broken answer must not replace
    // a cached list that works.
    const QString fetched = path + QLatin1String(".download");
    const auto removeFetched = qScopeGuard([&fetched] { QFile::remove(fetched); });
    if (!downloader->DownloadVitrelleList(fetched))
        return false;
    TXmlDocument document;
    if (!document.LoadFromFile(fetched))
        throw EVitrelleError(TVitrelleList::ListParseErrorMessage(
            FormatUrlTemplate(fetch.Settings.VitrelleListURL), document.ParseError()));
    if (!SameTextAscii(document.DocumentElement().Name(), ContentXml::VitrellesElement))
        throw EVitrelleError(
            QStringLiteral("The vitrelle list fetched from %1 is not a vitrelle list: its root "
                           "element is '%2'")
                .arg(FormatUrlTemplate(fetch.Settings.VitrelleListURL), document.DocumentElement().Name()));
    // The server's bytes as they came, replacing the cached list in one step (a power cut leaves the old
    // list or the new one).
    QFile file(fetched);
    if (!file.open(QIODevice::ReadOnly))
        throw EFileError(QStringLiteral("Cannot read %1: %2").arg(fetched, file.errorString()));
    TAtomicFileWriter::WriteFile(path, file.readAll());
    return true;
}

TVitrelleList* TVitrelleRepository::LoadList()
{
    VC_ASSERT_MAIN_THREAD();
    // The old downloaders go with their scheduled update actions; their workers have ended afterwards. A
    // vitrelle that is listed again keeps its updates: its new downloader takes them over.
    std::vector<TVitrelleScheduler::TKeptActions> kept;
    if (TVitrelleScheduler* scheduler = FServices.Scheduler ? FServices.Scheduler() : nullptr)
        for (const std::unique_ptr<TVitrelleDownloader>& downloader : FDownloaders)
            kept.push_back(scheduler->KeepActionsOf(downloader.get()));
    const auto restore = qScopeGuard([this, &kept] {
        if (TVitrelleScheduler* scheduler = FServices.Scheduler ? FServices.Scheduler() : nullptr)
            for (TVitrelleScheduler::TKeptActions& actions : kept)
                scheduler->RestoreActions(std::move(actions));
    });
    FreeDownloaders();
    const QString path = ListFilePath();
    // A cached list is used as it is: the server is asked only when there is none, or when the cached one
    // cannot be read (otherwise a damaged file keeps every display dark until someone deletes it).
    if (!QFile::exists(path) && !DownloadList())
        return nullptr;
    bool loaded = false;
    try {
        loaded = FList.LoadFromFile(path);
    } catch (const EVitrelleListError&) {
        // Logged by the list. Without a server, or when the server gives no list, that error stands.
        if (!QFile::exists(path) || !ServerConfigured())
            throw;
        WriteLog(TVitrelleRepository::LogSource, 2,
                 QStringLiteral("The cached vitrelle list %1 cannot be read: fetching it again").arg(path));
        if (!DownloadList())
            throw;
        loaded = FList.LoadFromFile(path);
    }
    PrepareDownloaders();
    return loaded ? &FList : nullptr;
}

TVitrelleList* TVitrelleRepository::DownloadAndLoadList()
{
    if (!DownloadList())
        return nullptr;
    return LoadList();
}

void TVitrelleRepository::PrepareDownloaders()
{
    FreeDownloaders();
    for (const std::shared_ptr<TVitrelle>& vitrelle : FList)
        GetDownloader(vitrelle->Id);
}

TVitrelleDownloader* TVitrelleRepository::GetDownloader(const QString& id)
{
    const std::shared_ptr<TVitrelle> vitrelle = FList.SharedById(id);
    if (!vitrelle)
        return nullptr;
    if (VitrelleFilePath(vitrelle->Id).isEmpty())
        return nullptr; // refused and logged: no file of it may be written
    for (const std::unique_ptr<TVitrelleDownloader>& downloader : FDownloaders)
        if (downloader->Vitrelle() == vitrelle.get())
            return downloader.get();
    FDownloaders.push_back(std::make_unique<TVitrelleDownloader>(this, vitrelle));
    if (const auto record = FUpdateRecords.constFind(vitrelle->Id.toLower()); record != FUpdateRecords.cend())
        FDownloaders.back()->SetLastUpdate(*record);
    return FDownloaders.back().get();
}

std::shared_ptr<TVitrelle> TVitrelleRepository::GetVitrelle(const QString& id)
{
    if (id.isEmpty())
        return nullptr;
    if (!OnMainThread())
        return GetVitrelleOnWorker(id);
    TVitrelleDownloader* downloader = GetDownloader(id);
    if (downloader == nullptr || !downloader->Load())
        return nullptr;
    std::shared_ptr<TVitrelle> vitrelle = downloader->SharedVitrelle();
    if (FList.IndexOfId(vitrelle->Id) < 0)
        FList.Add(vitrelle);
    return vitrelle;
}

std::shared_ptr<TVitrelle> TVitrelleRepository::GetVitrelleOnWorker(const QString& id)
{
    // The downloaders may be replaced (a reloaded list) between two hand-overs: each one looks its
    // downloader up again, and the transfer uses a client of its own.
    TListFetch fetch;
    QString vitrelleId;
    QString path;
    RunOnMainThread([&] {
        const TVitrelleDownloader* downloader = GetDownloader(id);
        // A file being fetched by an update is not fetched twice: Load takes what is there.
        if (downloader == nullptr || downloader->Downloading() || downloader->UpdateRunning())
            return;
        path = downloader->VitrelleFilePath();
        if (path.isEmpty() || QFile::exists(path))
            return;
        vitrelleId = downloader->Vitrelle()->Id;
        fetch.Settings.Assign(&FSettings.HttpSettings());
        fetch.Downloaders = FServices.Downloaders;
    });
    if (fetch.Downloaders) {
        WriteLog(TVitrelleDownloader::LogSource, 3,
                 QStringLiteral("Download vitrelle ID = '%1'").arg(vitrelleId));
        const std::unique_ptr<TDownloader> http = fetch.Downloaders->CreateDownloader(fetch.Settings);
        http->SetCancelCheck([] { return WorkerStopRequested(); });
        if (!http->DownloadVitrelle(vitrelleId, path))
            return nullptr; // as Load: the server gave no file
    }
    std::shared_ptr<TVitrelle> vitrelle;
    RunOnMainThread([&] { vitrelle = GetVitrelle(id); });
    return vitrelle;
}
