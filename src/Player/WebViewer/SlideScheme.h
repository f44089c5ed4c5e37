#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

class QWebEngineUrlRequestJob;

// The program's own URL scheme, through which slide pages and the files beside them reach the web views:
// vitrelle://<host>/<absolute path of the file>. The path is the file's own, so a link relative to a page
// reaches what it reached as a local file; the host names the view, so that each view's documents are an
// origin of their own (their storage and their frames stay apart). Pages loaded this way are neither local
// nor secure to the engine: they cannot read file: URLs, and have no service worker, clipboard, location or
// capture device.
class TSlideScheme
{
public:
    static constexpr QLatin1StringView Name{"vitrelle"};
    // Registers the scheme with the web engine; again, nothing. Must run before the application object is
    // made: every program that links the web views does so as it starts, before main.
    static void Register();
    // The scheme's URL of a local file, for a view of that host.
    static QUrl UrlOf(const QString& localPath, const QString& host);
    // The origin (scheme://host) of a host's documents.
    static QString OriginOf(const QString& host);
};

// Serves the scheme, read-only, from the folders the views' slides may read: a GET of a regular file whose
// real location (links resolved) lies inside one of them, with its content type; anything else fails (not
// found, or denied for other methods). Byte ranges (a video that seeks) are answered by the engine from the
// file's device. Each owner (a view) names its folders; the served folders are those of every owner. Main
// thread only (the engine asks on the main thread).
class TSlideSchemeHandler : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT
public:
    explicit TSlideSchemeHandler(QObject* parent = nullptr);

    void SetFolders(const QObject* owner, const QStringList& folders);
    void Forget(const QObject* owner);
    // The real path of the file a URL of the scheme names, when it may be served; empty otherwise.
    QString ServedPath(const QUrl& url) const;
    // The content type of a served file.
    static QByteArray ContentType(const QString& path);

    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    // Canonical folders, each ending with a slash, per owner.
    QHash<const QObject*, QStringList> FFolders;
};
