#include "HttpDownloader.h"

#include "AbortRequest.h"
#include "AtomicFile.h"
#include "Log.h"
#include "ThreadLink.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleResource.h"

#include <QFileInfo>
#include <QNetworkInterface>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/statvfs.h>

namespace {

// The login answer is a short text; a server that sends more is not logging us in.
constexpr qsizetype MaxLoginBody = 1024;

// A growing media file has the free space of its file system checked again every so many bytes.
constexpr qint64 FreeSpaceStep = 8 * 1024 * 1024;

bool SystemDiskSpace(const QString& folder, qint64& available, qint64& total)
{
    struct statvfs info
    {
    };
    if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0)
        return false;
    available = static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
    total = static_cast<qint64>(info.f_blocks) * static_cast<qint64>(info.f_frsize);
    return true;
}

void InitializeCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CURL* Handle(void* curl)
{
    return static_cast<CURL*>(curl);
}

// A URL as libcurl sends it. Blanks and bytes outside ASCII cannot stand in a request line: they are
// escaped here, and nothing else is touched (an "&" of a value stays a separator, as the templates expect).
QByteArray SendableUrl(const QString& url, QString& reason)
{
    CURLU* parsed = curl_url();
    if (parsed == nullptr) {
        reason = QStringLiteral("out of memory");
        return {};
    }
    QByteArray result;
    const CURLUcode set =
        curl_url_set(parsed, CURLUPART_URL, url.toUtf8().constData(), CURLU_ALLOW_SPACE | CURLU_URLENCODE);
    char* text = nullptr;
    if (set != CURLUE_OK) {
        reason = QString::fromUtf8(curl_url_strerror(set));
    } else if (const CURLUcode get = curl_url_get(parsed, CURLUPART_URL, &text, 0); get != CURLUE_OK) {
        reason = QString::fromUtf8(curl_url_strerror(get));
    } else {
        result = text;
    }
    curl_free(text);
    curl_url_cleanup(parsed);
    return result;
}

} // namespace

QString FormatUrlTemplate(const QString& urlTemplate, const QStringList& arguments)
{
    QString result;
    result.reserve(urlTemplate.size());
    qsizetype next = 0;
    for (qsizetype i = 0; i < urlTemplate.size(); ++i) {
        const QChar c = urlTemplate.at(i);
        if (c != QLatin1Char('%')) {
            result += c;
            continue;
        }
        const QChar conversion = i + 1 < urlTemplate.size() ? urlTemplate.at(i + 1) : QChar();
        if (conversion == QLatin1Char('%')) {
            result += QLatin1Char('%');
        } else if (conversion == QLatin1Char('s') || conversion == QLatin1Char('S')) {
            if (next >= arguments.size())
                throw EFormatError(
                    QStringLiteral("Invalid URL template \"%1\": more placeholders than values")
                        .arg(urlTemplate));
            result += arguments.at(next++);
        } else {
            throw EFormatError(
                QStringLiteral("Invalid URL template \"%1\": \"%\" must be followed by \"s\" or \"%\"")
                    .arg(urlTemplate));
        }
        ++i;
    }
    return result;
}

// The state of one request, shared with libcurl's callbacks. Exactly one of File and Text is set.
struct THttpTransfer
{
    using TClock = std::chrono::steady_clock;

    CURL* Curl = nullptr;
    const std::function<bool()>* CancelCheck = nullptr;
    const THttpTimeouts* Limits = nullptr;
    const THttpSizeLimits* Sizes = nullptr;
    const char* ErrorText = nullptr;
    TAtomicFileWriter* File = nullptr;
    QByteArray* Text = nullptr;
    bool Media = false;
    TClock::time_point Started;

    CURLcode Code = CURLE_OK;
    long Status = 0;
    bool FileOpened = false;
    bool TextTooLong = false;
    bool StoppedAtErrorStatus = false;
    bool Cancelled = false;
    QString DeadlinePassed;    // why the transfer was given up for its deadline
    QString Refused;           // why the file was not taken (its size, the free space)
    qint64 Received = 0;       // bytes of the answer's body written to the file
    qint64 NextSpaceCheck = 0; // the written size at which the free space is checked again
    std::exception_ptr Error;  // raised by the file layer inside a callback

    // The process is asked to end, or the thread that runs the transfer to stop.
    bool StopAsked() const
    {
        return AbortRequest::Requested() || (CancelCheck != nullptr && *CancelCheck && (*CancelCheck)());
    }

    QString Reason() const
    {
        if (!DeadlinePassed.isEmpty())
            return DeadlinePassed;
        const QString detail = QString::fromUtf8(ErrorText);
        return detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(Code)) : detail;
    }

    // Empty while the file may grow by bytes more (announced: the whole size told by the server, or -1),
    // otherwise why not.
    QString CheckSize(qint64 announced, qint64 bytes)
    {
        const qint64 limit = Media ? Sizes->MaxMediaSize : Sizes->MaxFileSize;
        if (limit > 0 && announced > limit)
            return QStringLiteral("the server announces %1 bytes, more than the limit of %2")
                .arg(QString::number(announced), QString::number(limit));
        if (limit > 0 && Received + bytes > limit)
            return QStringLiteral("the server sends more than the limit of %1 bytes")
                .arg(QString::number(limit));
        if (!Media || Sizes->MinFreePercent <= 0 || Received + bytes < NextSpaceCheck)
            return {};
        NextSpaceCheck = Received + bytes + FreeSpaceStep;
        const QString folder = QFileInfo(File->TargetPath()).absolutePath();
        qint64 available = 0;
        qint64 total = 0;
        const bool known = Sizes->DiskSpace ? Sizes->DiskSpace(folder, available, total)
                                            : SystemDiskSpace(folder, available, total);
        if (!known || total <= 0)
            return {};
        // What is still to come: the rest of the announced size, or at least this piece.
        const qint64 coming = std::max(announced > 0 ? announced - Received : 0, bytes);
        const qint64 reserve = total / 100 * Sizes->MinFreePercent;
        if (available - coming >= reserve)
            return {};
        return QStringLiteral(
                   "storing it would leave less than %1 % of the file system of %2 free (%3 of %4 bytes "
                   "free, %5 bytes to come)")
            .arg(QString::number(Sizes->MinFreePercent), folder, QString::number(available),
                 QString::number(total), QString::number(coming));
    }

    // Empty while the transfer is within its deadline, otherwise why not.
    QString CheckDeadline(qint64 announced, qint64 received) const
    {
        using std::chrono::duration_cast;
        using std::chrono::milliseconds;
        const qint64 elapsed = duration_cast<milliseconds>(TClock::now() - Started).count();
        if (!Media) {
            const qint64 allowed = Limits->RequestDeadline.count();
            if (allowed <= 0 || elapsed <= allowed)
                return {};
            return QStringLiteral("no complete answer within %1 ms (%2 bytes received)")
                .arg(QString::number(allowed), QString::number(received));
        }
        const qint64 rate = Limits->MediaMinimumRate;
        if (rate <= 0)
            return {};
        const qint64 size = std::max(announced, received);
        const double allowed = static_cast<double>(Limits->MediaGrace.count()) +
                               static_cast<double>(size) * 1000.0 / static_cast<double>(rate);
        if (static_cast<double>(elapsed) <= allowed)
            return {};
        return QStringLiteral("slower than %1 bytes/s: %2 of %3 bytes after %4 ms")
            .arg(QString::number(rate), QString::number(received),
                 announced > 0 ? QString::number(announced) : QStringLiteral("?"), QString::number(elapsed));
    }
};

namespace {

// A new answer begins (the first, or the next one after a redirect): what an earlier one sent is dropped.
size_t ReadHeader(char* data, size_t size, size_t count, void* context)
{
    auto& transfer = *static_cast<THttpTransfer*>(context);
    const size_t bytes = size * count;
    if (transfer.Text != nullptr && bytes >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        transfer.Text->clear();
        transfer.TextTooLong = false;
    }
    return bytes;
}

size_t WriteBody(char* data, size_t size, size_t count, void* context)
{
    auto& transfer = *static_cast<THttpTransfer*>(context);
    const size_t bytes = size * count;
    long status = 0;
    curl_easy_getinfo(transfer.Curl, CURLINFO_RESPONSE_CODE, &status);
    if (transfer.Text != nullptr) {
        if (transfer.Text->size() + static_cast<qsizetype>(bytes) > MaxLoginBody) {
            transfer.TextTooLong = true;
            return 0; // ends the transfer
        }
        transfer.Text->append(data, static_cast<qsizetype>(bytes));
        return bytes;
    }
    if (status >= 400) {
        transfer.StoppedAtErrorStatus = true;
        return 0; // the body of an error is of no use
    }
    if (status != 200)
        return bytes; // a redirect's or another answer's body: never written
    // Exceptions must not cross libcurl: kept and raised again after the transfer.
    try {
        curl_off_t announced = -1;
        curl_easy_getinfo(transfer.Curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        transfer.Refused = transfer.CheckSize(announced, static_cast<qint64>(bytes));
        if (!transfer.Refused.isEmpty())
            return 0; // ends the transfer; what was written is dropped with the writer
        if (!transfer.FileOpened) {
            transfer.File->Open();
            transfer.FileOpened = true;
        }
        transfer.File->Write(data, static_cast<qint64>(bytes));
        transfer.Received += static_cast<qint64>(bytes);
    } catch (...) {
        transfer.Error = std::current_exception();
        return 0;
    }
    return bytes;
}

// Called by libcurl at least once a second during a transfer, and whenever data arrives.
int Progress(void* context, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t, curl_off_t)
{
    auto& transfer = *static_cast<THttpTransfer*>(context);
    if (transfer.StopAsked()) {
        transfer.Cancelled = true;
        return 1;
    }
    transfer.DeadlinePassed = transfer.CheckDeadline(downloadTotal, downloaded);
    return transfer.DeadlinePassed.isEmpty() ? 0 : 1;
}

} // namespace

// ---- THttpDownloader ----

THttpDownloader::THttpDownloader(const THttpSettings& settings, THttpOptions options)
    : FSettings(settings), FOptions(std::move(options))
{
    if (!FOptions.Clock)
        throw EVitrelleError(QStringLiteral("An HTTP downloader needs a clock"));
    InitializeCurlOnce();
    // On any link's worker (a scheduled action, a work queue) a stop request ends the transfer.
    FCancelCheck = [] { return WorkerStopRequested(); };
    FCurl = curl_easy_init();
    FMulti = curl_multi_init();
    if (FCurl == nullptr || FMulti == nullptr) {
        curl_multi_cleanup(static_cast<CURLM*>(FMulti));
        curl_easy_cleanup(Handle(FCurl));
        throw EHttpError(QStringLiteral("Cannot create an HTTP client"), 0);
    }
    ApplyOptions();
}

THttpDownloader::~THttpDownloader()
{
    curl_multi_cleanup(static_cast<CURLM*>(FMulti)); // the easy handle is never left in it
    curl_easy_cleanup(Handle(FCurl));                // with its cookie store
}

void THttpDownloader::ApplyOptions()
{
    CURL* curl = Handle(FCurl);
    const THttpTimeouts& limits = FOptions.Timeouts;
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L); // transfers run on worker threads
    curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, limits.MaxRedirects);
    // URL templates come from the server's own files: never let one read a local file or speak anything else.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.Connect.count()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.LowSpeedLimit);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.LowSpeedTime.count()));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, FErrorText);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &ReadHeader);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Progress);
}

void THttpDownloader::Perform(const QString& url, THttpTransfer& transfer)
{
    CURL* curl = Handle(FCurl);
    transfer.Curl = curl;
    transfer.CancelCheck = &FCancelCheck;
    transfer.Limits = &FOptions.Timeouts;
    transfer.Sizes = &FOptions.Sizes;
    transfer.ErrorText = FErrorText;
    FErrorText[0] = '\0';
    if (AbortRequest::Requested()) {
        transfer.Cancelled = true;
        transfer.Code = CURLE_ABORTED_BY_CALLBACK;
        return;
    }
    QString reason;
    const QByteArray sendable = SendableUrl(url, reason);
    if (sendable.isEmpty()) {
        transfer.Code = CURLE_URL_MALFORMAT;
        std::snprintf(FErrorText, sizeof FErrorText, "%s", reason.toUtf8().constData());
        return;
    }
    curl_easy_setopt(curl, CURLOPT_URL, sendable.constData());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    transfer.Started = THttpTransfer::TClock::now();
    transfer.Code = static_cast<CURLcode>(Drive(transfer));
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &transfer.Status);
    // No pointer into this transfer may outlive it.
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, nullptr);
}

int THttpDownloader::Drive(THttpTransfer& transfer)
{
    // libcurl calls the progress function only about once a second while the server sends nothing: the
    // stop request is asked here as well, between waits of at most a tenth of a second.
    constexpr int PollMs = 100;
    auto* multi = static_cast<CURLM*>(FMulti);
    CURL* curl = Handle(FCurl);
    if (const CURLMcode added = curl_multi_add_handle(multi, curl); added != CURLM_OK) {
        std::snprintf(FErrorText, sizeof FErrorText, "%s", curl_multi_strerror(added));
        return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_OK;
    while (true) {
        int running = 0;
        if (const CURLMcode performed = curl_multi_perform(multi, &running); performed != CURLM_OK) {
            std::snprintf(FErrorText, sizeof FErrorText, "%s", curl_multi_strerror(performed));
            result = CURLE_FAILED_INIT;
            break;
        }
        bool done = false;
        int queued = 0;
        while (const CURLMsg* message = curl_multi_info_read(multi, &queued))
            if (message->msg == CURLMSG_DONE && message->easy_handle == curl) {
                result = message->data.result;
                done = true;
            }
        if (done || running == 0)
            break;
        if (transfer.StopAsked()) {
            transfer.Cancelled = true;
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (const CURLMcode polled = curl_multi_poll(multi, nullptr, 0, PollMs, nullptr);
            polled != CURLM_OK) {
            std::snprintf(FErrorText, sizeof FErrorText, "%s", curl_multi_strerror(polled));
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    curl_multi_remove_handle(multi, curl);
    return result;
}

bool THttpDownloader::LoginExpired() const
{
    const qint32 lifetime = FSettings.LoginLifetime;
    if (lifetime <= 0 || !FLastLogin.isValid())
        return false;
    const QDateTime now = FOptions.Clock->Now();
    const qint64 age = FLastLogin.secsTo(now);
    return age < 0 || age >= lifetime; // a clock set back also renews the login
}

void THttpDownloader::Login()
{
    FLastLogin = QDateTime();
    FLoggedIn = false;
    const QString& urlTemplate = FSettings.AuthentificationURL;
    if (urlTemplate.isEmpty())
        return;
    const QString url = FormatUrlTemplate(urlTemplate, {FSettings.Login, FSettings.Password});
    // What the log shows: the password never reaches it.
    const QString shownUrl = FormatUrlTemplate(urlTemplate, {FSettings.Login, QStringLiteral("***")});
    QByteArray body;
    THttpTransfer transfer;
    transfer.Text = &body;
    Perform(url, transfer);
    if (transfer.Cancelled)
        throw EDownloadCancelled(QStringLiteral("Login at %1 cancelled").arg(shownUrl));
    QString failure;
    if (transfer.Code != CURLE_OK && !transfer.TextTooLong)
        failure = transfer.Reason();
    else if (transfer.Status != 200)
        failure = QStringLiteral("Returned HTTP code: %1").arg(transfer.Status);
    else if (transfer.TextTooLong || body != "1")
        failure =
            QStringLiteral("Server response: %1")
                .arg(QString::fromUtf8(body) + (transfer.TextTooLong ? QStringLiteral("...") : QString()));
    if (!failure.isEmpty()) {
        WriteLog(THttpDownloader::LogSource, 1,
                 QStringLiteral("Error while logging at URL %1 : %2").arg(shownUrl, failure));
        return;
    }
    FLoggedIn = true;
    FLastLogin = FOptions.Clock->Now();
}

bool THttpDownloader::Download(const QString& url, const QString& fileName)
{
    return Fetch(url, fileName, false);
}

bool THttpDownloader::Fetch(const QString& url, const QString& fileName, bool media)
{
    if (!FLoggedIn || LoginExpired())
        Login();
    if (!FLoggedIn)
        return false;
    TAtomicFileWriter file(fileName);
    THttpTransfer transfer;
    transfer.File = &file;
    transfer.Media = media;
    Perform(url, transfer);
    if (transfer.Error)
        std::rethrow_exception(transfer.Error);
    if (transfer.Cancelled)
        throw EDownloadCancelled(QStringLiteral("Download of %1 cancelled").arg(url));
    if (!transfer.Refused.isEmpty())
        throw EDownloadRefused(QStringLiteral("Download of %1 refused: %2").arg(url, transfer.Refused));
    if (transfer.Status >= 400) {
        // The server no longer knows our login (it may have restarted): log in again next time.
        if (transfer.Status == 401 || transfer.Status == 403) {
            FLoggedIn = false;
            FLastLogin = QDateTime();
        }
        throw EHttpError(QStringLiteral("Cannot download %1: returned HTTP code %2")
                             .arg(url, QString::number(transfer.Status)),
                         transfer.Status);
    }
    if (transfer.Code != CURLE_OK)
        throw EHttpError(QStringLiteral("Cannot download %1: %2").arg(url, transfer.Reason()), 0);
    if (transfer.Status != 200)
        return false; // the file keeps what it had
    if (!transfer.FileOpened)
        file.Open(); // an empty body is an empty file
    file.Commit();
    return true;
}

bool THttpDownloader::DownloadVitrelleList(const QString& fileName)
{
    const QString url = FormatUrlTemplate(FSettings.VitrelleListURL);
    return !url.isEmpty() && Download(url, fileName);
}

bool THttpDownloader::DownloadVitrelle(const QString& vitrelleId, const QString& fileName)
{
    const QString url = FormatUrlTemplate(FSettings.VitrelleURL, {vitrelleId});
    return !url.isEmpty() && Download(url, fileName);
}

bool THttpDownloader::DownloadResource(const TVitrelleResource* resource, const QString& fileName)
{
    if (resource == nullptr || resource->Id.isEmpty())
        return false;
    const QString& urlTemplate = resource->Src.isEmpty() ? FSettings.MediaURL : resource->Src;
    const QString url = FormatUrlTemplate(urlTemplate, {resource->Id});
    return !url.isEmpty() && Fetch(url, fileName, true);
}

std::unique_ptr<TDownloader> CreateDownloader(int protocol, const TVitrelleCenterSettings* settings,
                                              THttpOptions options)
{
    if (settings == nullptr)
        return nullptr;
    if (protocol != 0)
        throw EVitrelleError(QStringLiteral("HTTP download is the only protocol supported in this version"));
    return std::make_unique<THttpDownloader>(settings->HttpSettings(), std::move(options));
}

std::unique_ptr<TDownloader> THttpDownloaderFactory::CreateDownloader(const THttpSettings& settings) const
{
    return std::make_unique<THttpDownloader>(settings, FOptions);
}

// ---- network status ----

bool TSystemNetworkStatus::IsConnectedToInternet() const
{
    const auto required = QNetworkInterface::IsUp | QNetworkInterface::IsRunning;
    for (const QNetworkInterface& candidate : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags flags = candidate.flags();
        if ((flags & required) == required && !flags.testFlag(QNetworkInterface::IsLoopBack) &&
            !candidate.addressEntries().isEmpty())
            return true;
    }
    return false;
}

bool IsConnectedToInternet()
{
    return TSystemNetworkStatus().IsConnectedToInternet();
}
