#include "RunMarker.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

TRunMarker::TRunMarker(const QString& applicationFolder)
    : FPath(QDir(applicationFolder).filePath(FileName)), FFound(QFile::exists(FPath))
{
    QFile marker(FPath);
    if (marker.open(QIODevice::WriteOnly | QIODevice::Truncate))
        marker.write(QByteArray::number(static_cast<qint64>(::getpid())) + '\n');
}

void TRunMarker::Remove()
{
    QFile::remove(FPath);
}
