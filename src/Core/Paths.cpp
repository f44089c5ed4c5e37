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
