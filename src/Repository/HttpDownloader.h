#pragma once

#include "Clock.h"
#include "Errors.h"
#include "HttpSettings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

class TVitrelleCenterSettings;
class TVitrelleResource;
struct THttpTransfer;

// A URL template whose placeholders do not fit its arguments.
class EFormatError : public EVitrelleError
{
public:
    using EVitrelleError::EVitrelleError;
};

// A request that failed: no connection, a refused connection, a time-out, or an answer with an error status
// (StatusCode 400 and above; 0 for failures of the transport).
class EHttpError : public EVitrelleError
{
public:
    EHttpError(QString message, long statusCode) : EVitrelleError(std::move(message)), StatusCode(statusCode)
    {
    }
    const long StatusCode;
};

// A file the program does not take from the server: larger than its limit, or a media file that would fill
// the cache's file system (THttpSizeLimits). Nothing of it is kept.
class EDownloadRefused : public EVitrelleError
{
public:
    using EVitrelleError::EVitrelleError;
};

// A transfer given up because its thread was asked to stop, or the process to end (AbortRequest.h).
class EDownloadCancelled : public EVitrelleError
{
public:
    using EVitrelleError::EVitrelleError;
};

// Fills a URL template: each "%s" takes the next argument, "%%" gives one "%". Values go in as they are,
// without any URL encoding; arguments beyond the template's placeholders are ignored. A template that asks
// for more arguments than it is given, or holds any other "%" sequence, raises EFormatError.
QString FormatUrlTemplate(const QString& urlTemplate, const QStringList& arguments = {});

// How long a request may take. The server can hang: the connection must be made within Connect, and a
// transfer that stays below LowSpeedLimit bytes per second for LowSpeedTime is given up. A server that
// trickles just above that rate is cut off by the overall deadlines: the login, the list and vitrelle files
// must be complete within RequestDeadline; a media file within MediaGrace plus its size (as announced, or as
// received so far when unannounced) at MediaMinimumRate bytes per second.
struct THttpTimeouts
{
    std::chrono::milliseconds Connect{15000};
    long LowSpeedLimit = 1;
    std::chrono::seconds LowSpeedTime{60};
    long MaxRedirects = 10;
    std::chrono::milliseconds RequestDeadline{std::chrono::minutes(5)};
    std::chrono::milliseconds MediaGrace{std::chrono::seconds(60)};
    qint64 MediaMinimumRate = 1024;
};

// How much a fetch may store. A server can send without end: a list or vitrelle file larger than MaxFileSize
// or a media file larger than MaxMediaSize is given up as soon as its announced size or the bytes received
// pass the limit, and so is a media file that would leave less than MinFreePercent of its file system free
// (checked when it starts, with its announced size, and as it grows). All raise EDownloadRefused.
struct THttpSizeLimits
{
    qint64 MaxFileSize = 64LL * 1024 * 1024;
    qint64 MaxMediaSize = 2LL * 1024 * 1024 * 1024;
    int MinFreePercent = 5;
    // The free and the total bytes of the file system that holds the folder; false when they cannot be
    // told (the check is then passed over). The machine's own answer when not set.
    std::function<bool(const QString& folder, qint64& available, qint64& total)> DiskSpace;
};

// What an HTTP downloader takes besides the server settings.
struct THttpOptions
{
    THttpTimeouts Timeouts;
    // The clock of LastLogin and of the login's lifetime. Required.
    std::shared_ptr<const IClock> Clock;
    THttpSizeLimits Sizes{};
};

// Access to the content server: four fetches, each writing the answer's body to a file and telling whether
// it did.
class TDownloader
{
public:
    virtual ~TDownloader() = default;

    virtual bool Download(const QString& url, const QString& fileName) = 0;
    virtual bool DownloadVitrelle(const QString& vitrelleId, const QString& fileName) = 0;
    virtual bool DownloadResource(const TVitrelleResource* resource, const QString& fileName) = 0;
    virtual bool DownloadVitrelleList(const QString& fileName) = 0;

    // Asked at least every tenth of a second during every transfer, on the thread that runs it; true gives
    // the transfer up with EDownloadCancelled (the target file stays untouched). The process-wide abort
    // request is always asked. THttpDownloader's default: WorkerStopRequested.
    virtual void SetCancelCheck(std::function<bool()> check) = 0;
};

// Makes the clients of the content server, so that nothing above the transport names a concrete one.
class IDownloaderFactory
{
public:
    virtual ~IDownloaderFactory() = default;
    // A client for the server of these settings, which it reads at every use: they must outlive it.
    virtual std::unique_ptr<TDownloader> CreateDownloader(const THttpSettings& settings) const = 0;
};

// The content server over HTTP. Logs in with a GET of the login URL (success: status 200 and the body "1";
// the server keeps the login in a cookie), then fetches files with plain GET requests.
//
// A fetch writes the file only for status 200 with the whole body, streaming it into a temporary file beside
// the target that replaces the target at the end; any other outcome leaves an existing file untouched.
// Status 400 and above and every failure of the transport (a deadline of THttpTimeouts among them) raise
// EHttpError; any other status gives false. Every transfer ends, and none starts, once the process is asked
// to end (AbortRequest.h): EDownloadCancelled.
//
// One connection handle and one cookie store per object, kept between its requests; nothing is shared
// between downloaders. An object is used by one thread at a time, any thread: a transfer waits on the server
// on the thread that asked for it, so it belongs on a worker (the main thread only in tools and tests).
class THttpDownloader : public TDownloader
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"THttpDownloader"};

    // The settings are not copied: they are read at every use, so changed values reach this downloader.
    explicit THttpDownloader(const THttpSettings& settings, THttpOptions options = {});
    ~THttpDownloader() override;

    THttpDownloader(const THttpDownloader&) = delete;
    THttpDownloader& operator=(const THttpDownloader&) = delete;

    bool Download(const QString& url, const QString& fileName) override;
    bool DownloadVitrelle(const QString& vitrelleId, const QString& fileName) override;
    bool DownloadResource(const TVitrelleResource* resource, const QString& fileName) override;
    bool DownloadVitrelleList(const QString& fileName) override;

    bool LoggedIn() const { return FLoggedIn; }
    // Invalid while logged out.
    QDateTime LastLogin() const { return FLastLogin; }

    void SetCancelCheck(std::function<bool()> check) override { FCancelCheck = std::move(check); }

private:
    void Login();
    bool LoginExpired() const;
    // One GET; the body goes to the transfer's sink, the outcome into the transfer. Never raises.
    void Perform(const QString& url, THttpTransfer& transfer);
    // Runs the prepared request to its end or until a stop is asked; its libcurl result code.
    int Drive(THttpTransfer& transfer);
    // One file; a media file gets the deadline that grows with its size.
    bool Fetch(const QString& url, const QString& fileName, bool media);
    void ApplyOptions();

    const THttpSettings& FSettings;
    const THttpOptions FOptions;
    void* FCurl = nullptr;  // the easy handle, owning its cookie store
    void* FMulti = nullptr; // drives the easy handle, so that a stop is seen between short waits
    char FErrorText[256] = {};
    bool FLoggedIn = false;
    QDateTime FLastLogin;
    std::function<bool()> FCancelCheck;
};

// Picks the transport for a protocol: 0 is HTTP, on the settings' HttpSettings. Null without settings; any
// other protocol raises "HTTP download is the only protocol supported in this version".
std::unique_ptr<TDownloader> CreateDownloader(int protocol, const TVitrelleCenterSettings* settings,
                                              THttpOptions options = {});

// The program's clients: HTTP with these limits and this clock.
class THttpDownloaderFactory : public IDownloaderFactory
{
public:
    explicit THttpDownloaderFactory(THttpOptions options) : FOptions(std::move(options)) {}
    std::unique_ptr<TDownloader> CreateDownloader(const THttpSettings& settings) const override;

private:
    const THttpOptions FOptions;
};

// Whether the machine is on a network, asked by whoever decides if a download is worth trying.
class INetworkStatus
{
public:
    virtual ~INetworkStatus() = default;
    virtual bool IsConnectedToInternet() const = 0;
};

// The machine's own answer: some network interface other than loopback is up and running with an address.
class TSystemNetworkStatus : public INetworkStatus
{
public:
    bool IsConnectedToInternet() const override;
};

bool IsConnectedToInternet();
