#include "Paths.h"

#include "Errors.h"

#include <QDir>
#include <QFileInfo>

QString AbsolutePath(const QString& path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

void ForceFolder(const QString& folder)
{
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        throw EFileError(QStringLiteral("Cannot create folder %1").arg(folder));
}

QString ResolvedPath(const QString& path)
{
    if (path.isEmpty())
        return {};
    QString existing = AbsolutePath(path);
    QString rest;
    // A dangling link is no existing part: exists() follows links.
    while (!QFileInfo::exists(existing) && existing != QLatin1String("/")) {
        const QFileInfo info(existing);
        rest = rest.isEmpty() ? info.fileName() : info.fileName() + QLatin1Char('/') + rest;
        existing = info.absolutePath();
    }
    QString resolved = QFileInfo(existing).canonicalFilePath();
    if (resolved.isEmpty())
        resolved = existing; // gone meanwhile
    if (rest.isEmpty())
        return resolved;
    return QDir::cleanPath(resolved + QLatin1Char('/') + rest);
}

bool PathWithin(const QString& path, const QString& folder)
{
    const QString resolvedPath = ResolvedPath(path);
    const QString resolvedFolder = ResolvedPath(folder);
    if (resolvedPath.isEmpty() || resolvedFolder.isEmpty())
        return false;
    if (resolvedPath == resolvedFolder || resolvedFolder == QLatin1String("/"))
        return true;
    return resolvedPath.startsWith(resolvedFolder + QLatin1Char('/'));
}
