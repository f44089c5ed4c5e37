#include "SlideScheme.h"

#include "MainThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include <sys/stat.h>

void TSlideScheme::Register()
{
    const QByteArray name(Name.data(), Name.size());
    if (QWebEngineUrlScheme::schemeByName(name).name() == name)
        return;
    QWebEngineUrlScheme scheme(name);
    // A host, so that each view's documents have an origin of their own (opaque origins of a path syntax
    // would make every fetch of a slide's own files cross-origin).
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    // Only CorsEnabled: a slide may fetch and XHR its own files (same origin), and nothing else may read them
    // without the CORS headers the handler never sends. Not LocalScheme/LocalAccessAllowed: a local page
    // could load file: URLs. Not SecureScheme: a secure page would have the content server's http pictures
    // blocked as mixed content, and would get service workers and the clipboard, location and capture APIs
    // that only secure contexts have. Not ContentSecurityPolicyIgnored: a slide's own policy still holds.
    scheme.setFlags(QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);
}

QUrl TSlideScheme::UrlOf(const QString& localPath, const QString& host)
{
    QUrl url;
    url.setScheme(Name);
    url.setHost(host);
    url.setPath(QDir::cleanPath(QFileInfo(localPath).absoluteFilePath()), QUrl::DecodedMode);
    return url;
}

QString TSlideScheme::OriginOf(const QString& host)
{
    return Name + QStringLiteral("://") + host;
}

TSlideSchemeHandler::TSlideSchemeHandler(QObject* parent) : QWebEngineUrlSchemeHandler(parent) {}

void TSlideSchemeHandler::SetFolders(const QObject* owner, const QStringList& folders)
{
    VC_ASSERT_MAIN_THREAD();
    QStringList canonical;
    for (const QString& folder : folders) {
        const QString path = QFileInfo(folder).canonicalFilePath();
        // A folder that is missing serves nothing; the root would serve everything.
        if (path.isEmpty() || path == QStringLiteral("/"))
            continue;
        canonical << path + '/';
    }
    FFolders.insert(owner, canonical);
}

void TSlideSchemeHandler::Forget(const QObject* owner)
{
    VC_ASSERT_MAIN_THREAD();
    FFolders.remove(owner);
}

QString TSlideSchemeHandler::ServedPath(const QUrl& url) const
{
    if (url.scheme() != TSlideScheme::Name || !url.isValid())
        return {};
    const QString path = url.path(QUrl::FullyDecoded);
    // The engine resolves dot segments before it asks; one that is left (encoded, or a path the engine did
    // not clean) names nothing. A NUL would cut the path short in the system's calls.
    if (!path.startsWith('/') || path.contains(QChar(0)) || path.split('/').contains(QStringLiteral("..")))
        return {};
    const QString real = QFileInfo(path).canonicalFilePath(); // links resolved; empty when missing
    if (real.isEmpty())
        return {};
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(real).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    for (const QStringList& folders : FFolders)
        for (const QString& folder : folders)
            if (real.startsWith(folder))
                return real;
    return {};
}

QByteArray TSlideSchemeHandler::ContentType(const QString& path)
{
    // The common types of a slide by their extension, as a web server would give them; others by the
    // system's database, by name and then by content (media files are often stored without an extension).
    static const QHash<QString, QByteArray> known{
        {QStringLiteral("html"), "text/html"},      {QStringLiteral("htm"), "text/html"},
        {QStringLiteral("css"), "text/css"},        {QStringLiteral("js"), "text/javascript"},
        {QStringLiteral("mjs"), "text/javascript"}, {QStringLiteral("json"), "application/json"},
        {QStringLiteral("xml"), "text/xml"},        {QStringLiteral("txt"), "text/plain"},
        {QStringLiteral("svg"), "image/svg+xml"},   {QStringLiteral("png"), "image/png"},
        {QStringLiteral("jpg"), "image/jpeg"},      {QStringLiteral("jpeg"), "image/jpeg"},
        {QStringLiteral("gif"), "image/gif"},       {QStringLiteral("webp"), "image/webp"},
        {QStringLiteral("bmp"), "image/bmp"},       {QStringLiteral("ico"), "image/x-icon"},
        {QStringLiteral("avif"), "image/avif"},     {QStringLiteral("woff"), "font/woff"},
        {QStringLiteral("woff2"), "font/woff2"},    {QStringLiteral("ttf"), "font/ttf"},
        {QStringLiteral("otf"), "font/otf"},        {QStringLiteral("mp4"), "video/mp4"},
        {QStringLiteral("m4v"), "video/mp4"},       {QStringLiteral("webm"), "video/webm"},
        {QStringLiteral("ogv"), "video/ogg"},       {QStringLiteral("mov"), "video/quicktime"},
        {QStringLiteral("mp3"), "audio/mpeg"},      {QStringLiteral("m4a"), "audio/mp4"},
        {QStringLiteral("ogg"), "audio/ogg"},       {QStringLiteral("oga"), "audio/ogg"},
        {QStringLiteral("wav"), "audio/wav"},       {QStringLiteral("flac"), "audio/flac"},
    };
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (const auto found = known.constFind(suffix); found != known.constEnd())
        return *found;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    // A page is a page by its name only: a file without one whose content looks like HTML is text.
    if (type.inherits(QStringLiteral("text/html")) || type.inherits(QStringLiteral("application/xhtml+xml")))
        return "text/plain";
    return type.name().toLatin1();
}

void TSlideSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job)
{
    VC_ASSERT_MAIN_THREAD();
    if (job->requestMethod() != "GET") {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    const QString path = ServedPath(job->requestUrl());
    if (path.isEmpty()) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    auto* file = new QFile(path);
    if (!file->open(QIODevice::ReadOnly)) {
        delete file;
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    // The engine reads the device until the request ends, and may seek it for a range.
    connect(job, &QObject::destroyed, file, &QObject::deleteLater);
    job->reply(ContentType(path), file);
}
