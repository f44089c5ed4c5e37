#include "VitrelleRepository.h"

#include "Diapositive.h"
#include "DiapositiveType.h"
#include "Errors.h"
#include "Log.h"
#include "Paths.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleDownloader.h"
#include "VitrelleResource.h"
#include "XmlHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString RepositorySource = QStringLiteral("TVitrelleRepository");

// A name as the log can show it: control characters (a NUL among them) written as escapes.
QString Printable(const QString& name)
{
    QString shown;
    for (const QChar c : name)
        shown += c.unicode() < 0x20 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                                    : QString(c);
    return shown;
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
    old.clear();
}

void TVitrelleRepository::Refuse(const QString& what, const QString& name) const
{
    WriteLog(RepositorySource, 1,
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
    if (!folder.startsWith(root)) {
        WriteLog(RepositorySource, 1,
                 QStringLiteral("Folder '%1' lies outside the repository: refused").arg(Printable(relative)));
        return {};
    }
    ForceFolder(folder);
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
        WriteLog(RepositorySource, 1,
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

bool TVitrelleRepository::DownloadList()
{
    const std::unique_ptr<TDownloader> downloader = CreateDownloader(0, &FSettings, FServices.Http);
    return downloader && downloader->DownloadVitrelleList(ListFilePath());
}

TVitrelleList* TVitrelleRepository::LoadList()
{
    // The old downloaders go with their scheduled update actions; their workers have ended afterwards.
    FreeDownloaders();
    const QString path = ListFilePath();
    // A cached list is used as it is: the server is asked only when there is none.
    if (!QFile::exists(path) && !DownloadList())
        return nullptr;
    const bool loaded = FList.LoadFromFile(path);
    PrepareDownloaders();
    return loaded ? &FList : nullptr;
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
    return FDownloaders.back().get();
}

std::shared_ptr<TVitrelle> TVitrelleRepository::GetVitrelle(const QString& id)
{
    if (id.isEmpty())
        return nullptr;
    TVitrelleDownloader* downloader = GetDownloader(id);
    if (downloader == nullptr || !downloader->Load())
        return nullptr;
    std::shared_ptr<TVitrelle> vitrelle = downloader->SharedVitrelle();
    if (FList.IndexOfId(vitrelle->Id) < 0)
        FList.Add(vitrelle);
    return vitrelle;
}
