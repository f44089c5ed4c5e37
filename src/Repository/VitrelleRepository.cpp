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

#include <utility>

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

void TVitrelleRepository::Refuse(const QString& what, const QString& name, TRefusal refusal) const
{
    if (refusal == TRefusal::Logged)
        WriteLog(TVitrelleRepository::LogSource, 1,
                 QStringLiteral("%1 '%2' is not a plain file name: refused").arg(what, Printable(name)));
}

TVitrelleRepository::TKeptPlaces TVitrelleRepository::KeptPlaces() const
{
    // The effective paths: a configured folder created meanwhile takes the default's place at once.
    const QString cache = FSettings.GetRepositoryPath();
    const QString base = FSettings.GetBasePath();
    const QString devices = FSettings.GetDevicePath();
    const QString templates = FSettings.GetTemplatePath();
    const QString list = FSettings.GetVitrelleListFilePath();
    const QString key = cache + QChar(0) + base + QChar(0) + devices + QChar(0) + templates + QChar(0) + list;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(FKeptMutex);
    if (FKept && FKept->Key == key && now - FKept->Since < KeptPlacesLifetime)
        return FKept->Places;
    TKeptPlaces places;
    places.Cache = IncludeTrailingPathDelimiter(ResolvedPath(cache));
    places.Base = ResolvedPath(base);
    places.Devices = {IncludeTrailingPathDelimiter(ResolvedPath(devices)),
                      IncludeTrailingPathDelimiter(AbsolutePath(devices))};
    places.Templates = {IncludeTrailingPathDelimiter(ResolvedPath(templates)),
                        IncludeTrailingPathDelimiter(AbsolutePath(templates))};
    places.List = AbsolutePath(list);
    FKept = TKeptPlacesMemo{key, now, places};
    return places;
}

QString TVitrelleRepository::ForeignFileReason(const QString& path, TPlace place) const
{
    const TKeptPlaces kept = KeptPlaces();
    // The file's folder resolved, not the file: a link in the file's place is replaced by the write (or
    // removed by the delete), so where it points is never touched.
    const QString folder = ResolvedPath(QFileInfo(path).absolutePath());
    const QString file =
        IncludeTrailingPathDelimiter(IncludeTrailingPathDelimiter(folder) + QFileInfo(path).fileName());
    if (place == TPlace::InCache && !file.startsWith(kept.Cache))
        return QStringLiteral("it lies outside the cache folder");
    if (folder == kept.Base)
        return QStringLiteral("it lies in the application folder, beside the settings and the schedule");
    const std::pair<const std::pair<QString, QString>&, QString> folders[] = {
        {kept.Devices, QStringLiteral("device folder")}, {kept.Templates, QStringLiteral("template folder")}};
    for (const auto& [keptFolder, what] : folders)
        if (file.startsWith(keptFolder.first))
            return QStringLiteral("it lies inside the %1 %2").arg(what, keptFolder.second);
    return {};
}

bool TVitrelleRepository::IsPageFolder(const QString& folder) const
{
    const QString root = RepositoryFolder();
    const QString resolved = ResolvedPath(folder);
    for (const std::unique_ptr<TDiapositiveType>& type : TDiapositiveType::Types())
        if (ResolvedPath(QDir::cleanPath(root + type->Name)) == resolved)
            return true;
    return false;
}

bool TVitrelleRepository::IsTypeResource(const TVitrelleResource* resource)
{
    for (const std::unique_ptr<TDiapositiveType>& type : TDiapositiveType::Types())
        for (const std::unique_ptr<TVitrelleResource>& own : type->Resources)
            if (own.get() == resource)
                return true;
    return false;
}

bool TVitrelleRepository::IsListFile(const QString& path) const
{
    const QString list = KeptPlaces().List;
    return SamePath(path, list) || SamePath(path, list + QLatin1String(".download"));
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

QString TVitrelleRepository::CacheFolder(const QString& relative, TRefusal refusal) const
{
    const QString root = RepositoryFolder();
    const QString folder = IncludeTrailingPathDelimiter(QDir::cleanPath(root + relative));
    const auto refuse = [&] {
        if (refusal == TRefusal::Logged)
            WriteLog(
                TVitrelleRepository::LogSource, 1,
                QStringLiteral("Folder '%1' lies outside the repository: refused").arg(Printable(relative)));
        return QString();
    };
    // By name, and where symbolic links planted in the cache lead: before the folder is created (no folder
    // is made outside) and afterwards.
    if (!folder.startsWith(root) || !ResolvesInside(folder, root))
        return refuse();
    ForceFolder(folder);
    if (!ResolvesInside(folder, root))
        return refuse();
    return folder;
}

QString TVitrelleRepository::VitrelleFilePath(const QString& id, TRefusal refusal) const
{
    if (!IsPlainFileName(id)) {
        Refuse(QStringLiteral("Vitrelle ID"), id, refusal);
        return {};
    }
    const QString path = RepositoryFolder() + id + QLatin1String(".xml");
    QString reason;
    if (SamePath(path, ListFilePath()))
        reason = QStringLiteral("Vitrelle ID '%1' names the vitrelle list file: refused").arg(Printable(id));
    else if (const QString foreign = ForeignFileReason(path); !foreign.isEmpty())
        reason = QStringLiteral("Vitrelle ID '%1' would write %2, but %3: refused")
                     .arg(Printable(id), Printable(path), foreign);
    if (reason.isEmpty())
        return path;
    if (refusal == TRefusal::Logged)
        WriteLog(TVitrelleRepository::LogSource, 1, reason);
    return {};
}

QString TVitrelleRepository::DiapositiveFilePath(const TDiapositive* slide, TRefusal refusal) const
{
    if (slide == nullptr || slide->DiapositiveType == nullptr)
        return {};
    if (!IsPlainFileName(slide->Id)) {
        Refuse(QStringLiteral("Slide ID"), slide->Id, refusal);
        return {};
    }
    const QString folder = CacheFolder(slide->DiapositiveType->Name, refusal);
    if (folder.isEmpty())
        return {};
    const QString name = slide->Id + QLatin1String(".html");
    const QString path = folder + name;
    QString reason;
    // The type's own files come from the server as they are: a slide named after one would show it in
    // place of its rendered page.
    for (const std::unique_ptr<TDiapositiveType>& type : TDiapositiveType::Types())
        for (const std::unique_ptr<TVitrelleResource>& resource : type->Resources)
            if (reason.isEmpty() && resource->Id.compare(name, Qt::CaseInsensitive) == 0 &&
                ResolvedPath(QDir::cleanPath(RepositoryFolder() + resource->Folder)) == ResolvedPath(folder))
                reason = QStringLiteral("its page %1 would be the resource of type '%2'")
                             .arg(Printable(path), type->Name);
    if (reason.isEmpty() && IsListFile(path))
        reason = QStringLiteral("its page %1 would be the vitrelle list file").arg(Printable(path));
    if (reason.isEmpty())
        if (const QString foreign = ForeignFileReason(path); !foreign.isEmpty())
            reason = QStringLiteral("its page would be %1, but %2").arg(Printable(path), foreign);
    if (reason.isEmpty())
        return path;
    if (refusal == TRefusal::Logged)
        WriteLog(TVitrelleRepository::LogSource, 1,
                 QStringLiteral("Slide ID '%1': %2: refused").arg(Printable(slide->Id), reason));
    return {};
}

QString TVitrelleRepository::ResourceFilePath(const TVitrelleResource* resource, const QString& vitrelleId,
                                              TRefusal refusal) const
{
    if (resource == nullptr || resource->Id.isEmpty())
        return {};
    if (!IsPlainFileName(resource->Id)) {
        Refuse(QStringLiteral("Resource ID"), resource->Id, refusal);
        return {};
    }
    const QString folder = CacheFolder(resource->Folder, refusal);
    if (folder.isEmpty())
        return {};
    const QString path = folder + resource->Id;
    QString reason;
    // Media and resources are stored as the server sends them: one must never take the place of what
    // the program makes or reads as something else (a page it shows, a vitrelle or list file it loads).
    if (IsListFile(path))
        reason = QStringLiteral("it would take the place of the vitrelle list file");
    else if (resource->Id.endsWith(QLatin1String(".html"), Qt::CaseInsensitive) &&
             !IsTypeResource(resource) && IsPageFolder(folder))
        reason = QStringLiteral("it would take the place of a slide page in %1").arg(folder);
    else if (resource->Id.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive) &&
             ResolvedPath(folder) == ResolvedPath(RepositoryFolder()))
        reason = QStringLiteral("it would take the place of a vitrelle file in %1").arg(folder);
    else if (const QString foreign = ForeignFileReason(path); !foreign.isEmpty())
        reason = QStringLiteral("it would be %1, but %2").arg(Printable(path), foreign);
    if (reason.isEmpty())
        return path;
    if (refusal == TRefusal::Logged)
        WriteLog(TVitrelleRepository::LogSource, 1,
                 QStringLiteral("Media file '%1'%2: %3: refused")
                     .arg(Printable(resource->Id),
                          vitrelleId.isEmpty()
                              ? QString()
                              : QStringLiteral(" of vitrelle ID = '%1'").arg(Printable(vitrelleId)),
                          reason));
    return {};
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
    // The list file is the operator's choice and may lie outside the cache, but the server's list must not
    // replace one of the program's own files.
    if (const QString foreign = ForeignFileReason(fetch.ListFile, TPlace::Anywhere); !foreign.isEmpty())
        throw EVitrelleError(
            QStringLiteral("The vitrelle list is not downloaded into %1: %2").arg(fetch.ListFile, foreign));
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
