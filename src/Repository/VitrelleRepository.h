#pragma once

#include "HttpDownloader.h"
#include "Vitrelle.h"

#include <QString>

#include <QDateTime>
#include <QHash>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class TDiapositive;
class TVitrelleCenterSettings;
class TVitrelleDownloader;
class TVitrelleResource;
class TVitrelleScheduler;

// What the repository and its downloaders take from the agent that owns them.
struct TRepositoryServices
{
    // The scheduler the downloaders register with. It may not exist yet, or any more (the agent frees it
    // before the repository): then it answers null, as does a missing function, and nothing registers.
    std::function<TVitrelleScheduler*()> Scheduler;
    // Whether an update is worth trying. Required.
    std::shared_ptr<const INetworkStatus> Network;
    // Makes every client of the content server that the repository and its downloaders use. Required.
    std::shared_ptr<const IDownloaderFactory> Downloaders;
    // The time the downloaders' update records carry; the system's clock when null.
    std::shared_ptr<const IClock> Clock;
};

// When a vitrelle's last update ended and whether it succeeded; Time is invalid while none has ended.
struct TVitrelleUpdateRecord
{
    QDateTime Time;
    bool Succeeded = false;
};

// A name from the content server becomes a file name only when it is a plain name: not empty, no "/" or "\",
// not "." or "..", no NUL.
bool IsPlainFileName(const QString& name);

// The local cache of vitrelles: the vitrelle list, one downloader per listed vitrelle, and where every cached
// file lives:
//   <repository folder>/<vitrelle id>.xml                      a vitrelle's file
//   <repository folder>/<type name>/<slide id>.html            a slide's rendered page
//   <repository folder>/<type name>/<resource id>              a slide type's own resource
//   <repository folder>/<type name>/<media folder>/<resource id>  a slide's media
// plus the list file (by default <repository folder>/VitrelleList.xml). Ids that are not plain file names
// are refused and logged, so no server-provided name ever leads outside the repository folder. Nor does a
// name take the place of another kind of file: a slide's media file is refused where it would be a slide's
// page (a name ending in ".html", any letter case, in a folder where pages are made), and a media or
// resource file where it would be a vitrelle file (ending in ".xml" in the repository folder) or the list
// file; a page is refused where it would be one of its type's own files (any letter case). Every file written
// or deleted here must also resolve (its folder's symbolic links followed) inside the repository folder, not
// directly into the application folder (the settings, the schedule, its run state, the run marker) and not
// inside the device or template folder: otherwise it is refused and logged at level 1, also when the cache
// folder has been set to overlap those folders.
//
// Vitrelles are shared: a player that holds one keeps it alive, also when a reloaded list drops it.
// Everything runs on the main thread, except FetchList (any thread), GetVitrelle called on a worker and the
// update of a downloader called on a worker (TVitrelleDownloader).
class TVitrelleRepository
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TVitrelleRepository"};

    // Raises EVitrelleError when a required service is missing.
    TVitrelleRepository(TVitrelleCenterSettings& settings, TRepositoryServices services);
    // The downloaders go first (each stops its media download and waits for it), then the list.
    ~TVitrelleRepository();

    TVitrelleRepository(const TVitrelleRepository&) = delete;
    TVitrelleRepository& operator=(const TVitrelleRepository&) = delete;

    // Absolute, ending with "/"; created with its parents when missing (EFileError when that fails).
    QString RepositoryFolder() const;
    // Absolute; its folder is created when missing.
    QString ListFilePath() const;
    // Whether a refused name is logged (level 1) by the path functions below: quiet for the lists of files
    // to delete, which are worked out again and again for names already refused when they were fetched.
    enum class TRefusal
    {
        Logged,
        Quiet,
    };
    // Empty for an id that is not a plain file name, or whose file would be the list file or a file the
    // repository may not write (see the class comment).
    QString VitrelleFilePath(const QString& id, TRefusal refusal = TRefusal::Logged) const;
    // Empty for no slide, a slide without a registered type, a slide id that is not a plain file name, or
    // a page that would be a type's resource, the list file or a file the repository may not write. The
    // type folder is created when missing.
    QString DiapositiveFilePath(const TDiapositive* slide, TRefusal refusal = TRefusal::Logged) const;
    // Empty for no resource, an empty id, an id that is not a plain file name, or a file that would be a
    // page, a vitrelle file, the list file or a file the repository may not write. The resource's folder
    // is created when missing. vitrelleId, when given, is named in the refusal's log line.
    QString ResourceFilePath(const TVitrelleResource* resource, const QString& vitrelleId = {},
                             TRefusal refusal = TRefusal::Logged) const;

    // Fetches the list file from the server. The fetched file replaces the list file only when it parses and
    // is a vitrelle list; otherwise the list file stays as it was and the fault is raised (not logged).
    // False when the server gives no file (no list URL, or a status below 400 other than 200). Errors of the
    // transfer are raised, as is EVitrelleError, before any transfer, for a list file the repository may
    // not write (directly in the application folder, inside the device or template folder).
    bool DownloadList();
    // DownloadList in two parts, so that its transfer runs on a worker: what it needs, copied on the main
    // thread, then the transfer, the check and the replacement of the list file, on any thread. A stop asked
    // of that thread (WorkerStopRequested) gives the transfer up with EDownloadCancelled. The in-memory list
    // is not touched: LoadList, on the main thread, takes the new file.
    struct TListFetch
    {
        THttpSettings Settings;
        QString ListFile;
        std::shared_ptr<const IDownloaderFactory> Downloaders;
    };
    TListFetch PrepareListFetch() const;
    static bool FetchList(const TListFetch& fetch);
    // Loads the list file, fetched first when there is none, and prepares the downloaders. A list file that
    // cannot be read is fetched again when a server is configured (and replaced only by a list that parses).
    // Null when there is no file and the server gave none, or the file's root is not a vitrelle list (the
    // old vitrelles stay). A missing or broken file is raised as EVitrelleListError, already logged; errors
    // of the transfer are raised as they are.
    TVitrelleList* LoadList();
    // What the operator's "download the vitrelle list" asks for, in one call on the main thread (the page
    // itself runs FetchList on a worker, then LoadList): the list fetched anew from the server even when a
    // cached one exists (DownloadList), then loaded with LoadList. Null, with the list, the
    // downloaders and the cached file unchanged, when the server gives no file; errors are raised, with the
    // same things unchanged.
    TVitrelleList* DownloadAndLoadList();
    // One downloader per listed vitrelle, replacing the existing ones.
    void PrepareDownloaders();
    // The downloader of the listed vitrelle with this id (letter case ignored), created when there is none;
    // null for an id that is not listed or has no file path (VitrelleFilePath).
    TVitrelleDownloader* GetDownloader(const QString& id);
    // The vitrelle, loaded and with its media download started, for playing; null when it is not listed or
    // cannot be fetched or loaded. Errors of the transfer are raised.
    // On a link's worker (a scheduled play), a vitrelle file not cached yet is fetched on that worker (a stop
    // asked of it gives the transfer up: EDownloadCancelled) and everything else runs on the main thread.
    std::shared_ptr<TVitrelle> GetVitrelle(const QString& id);

    int Count() const { return FList.Count(); }
    TVitrelle* At(int index) const { return FList.At(index); }
    TVitrelle* FindById(const QString& id) const { return FList.FindById(id); }
    TVitrelle* FindByName(const QString& name) const { return FList.FindByName(name); }
    const TVitrelleList& List() const { return FList; }

    int DownloaderCount() const { return static_cast<int>(FDownloaders.size()); }
    TVitrelleDownloader* DownloaderAt(int index) const
    {
        return FDownloaders.at(static_cast<size_t>(index)).get();
    }

    TVitrelleCenterSettings& Settings() const { return FSettings; }
    const TRepositoryServices& Services() const { return FServices; }

private:
    void FreeDownloaders();
    std::shared_ptr<TVitrelle> GetVitrelleOnWorker(const QString& id);
    bool ServerConfigured() const;
    // The folder below the repository folder (created when missing); empty, and logged, when it would lie
    // outside it.
    QString CacheFolder(const QString& relative, TRefusal refusal = TRefusal::Logged) const;
    void Refuse(const QString& what, const QString& name, TRefusal refusal) const;
    // Why the repository may not write or delete the file at this absolute path (see the class comment);
    // empty when it may. The file itself may be a link: it is replaced or removed, never followed. The list
    // file may lie outside the cache (Anywhere), the other files may not.
    enum class TPlace
    {
        InCache,
        Anywhere,
    };
    QString ForeignFileReason(const QString& path, TPlace place = TPlace::InCache) const;
    // The places a cached file is checked against, resolved (folders ending with "/"; the device and
    // template folders with their unresolved path, for the log). Worked out again when the effective
    // paths change or after KeptPlacesLifetime (a link changed), so that the paths of a long media list
    // cost one resolution.
    struct TKeptPlaces
    {
        QString Cache;
        QString Base; // without the trailing "/"
        std::pair<QString, QString> Devices;
        std::pair<QString, QString> Templates;
        QString List; // the list file, absolute
    };
    static constexpr std::chrono::seconds KeptPlacesLifetime{1};
    TKeptPlaces KeptPlaces() const;
    // Whether the folder (absolute) is one where slide pages are made: the folder of a registered type.
    bool IsPageFolder(const QString& folder) const;
    // Whether the resource is one of a registered type's own files, named by the types file (the
    // operator's): those keep their names, and a page that would take one's place is refused instead.
    static bool IsTypeResource(const TVitrelleResource* resource);
    // Whether the path is the list file or the file it is fetched into.
    bool IsListFile(const QString& path) const;

    std::vector<std::unique_ptr<TVitrelleDownloader>> FDownloaders;
    // The last update of each vitrelle (lower-case id) whose downloader was replaced: a reloaded list keeps
    // what the operator was shown.
    QHash<QString, TVitrelleUpdateRecord> FUpdateRecords;
    TVitrelleList FList;
    TVitrelleCenterSettings& FSettings;
    struct TKeptPlacesMemo
    {
        QString Key; // the effective paths
        std::chrono::steady_clock::time_point Since;
        TKeptPlaces Places;
    };
    mutable std::mutex FKeptMutex; // guards FKept: paths may be asked for on a worker too
    mutable std::optional<TKeptPlacesMemo> FKept;
    const TRepositoryServices FServices;
};
