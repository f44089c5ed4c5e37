#include "AtomicFile.h"

#include "Errors.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

TAtomicFileWriter::TAtomicFileWriter(QString targetPath, QFileDevice::Permissions permissions)
    : FTargetPath(std::move(targetPath)), FPermissions(permissions)
{
}

TAtomicFileWriter::~TAtomicFileWriter()
{
    Discard();
}

void TAtomicFileWriter::Fail(const QString& reason)
{
    Discard();
    throw EFileError(QStringLiteral("Cannot write file %1: %2").arg(FTargetPath, reason));
}

void TAtomicFileWriter::Open()
{
    Discard();
    const QFileInfo target(FTargetPath);
    if (target.fileName().isEmpty())
        Fail(QStringLiteral("no file name"));
    if (target.isDir())
        Fail(QStringLiteral("a folder of that name exists"));
    // Hidden name without the target's extension, so that folder listings by extension never see it.
    const QString pattern =
        target.absolutePath() + QLatin1String("/.") + target.fileName() + QLatin1String(".XXXXXX");
    FTemp = std::make_unique<QTemporaryFile>(pattern);
    FTemp->setAutoRemove(true);
    if (!FTemp->open())
        Fail(FTemp->errorString());
    FWritten = 0;
}

void TAtomicFileWriter::Write(const char* data, qint64 size)
{
    if (!FTemp)
        Fail(QStringLiteral("the file is not open"));
    qint64 done = 0;
    while (done < size) {
        const qint64 n = FTemp->write(data + done, size - done);
        if (n <= 0)
            Fail(FTemp->errorString());
        done += n;
    }
    FWritten += size;
}

void TAtomicFileWriter::Commit()
{
    if (!FTemp)
        Fail(QStringLiteral("the file is not open"));
    if (!FTemp->flush())
        Fail(FTemp->errorString());
    if (::fsync(FTemp->handle()) != 0)
        Fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (!FTemp->setPermissions(FPermissions))
        Fail(QStringLiteral("cannot set the file permissions"));
    const QByteArray from = QFile::encodeName(FTemp->fileName());
    const QByteArray to = QFile::encodeName(QFileInfo(FTargetPath).absoluteFilePath());
    FTemp->close();
    // rename(2) replaces the target atomically; QFile::rename would refuse an existing target.
    if (std::rename(from.constData(), to.constData()) != 0)
        Fail(QString::fromLocal8Bit(std::strerror(errno)));
    FTemp->setAutoRemove(false);
    FTemp.reset();
    // Make the rename itself durable.
    const QByteArray dir = QFile::encodeName(QFileInfo(FTargetPath).absolutePath());
    const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

void TAtomicFileWriter::Discard()
{
    FTemp.reset(); // auto-remove deletes the temporary file
    FWritten = 0;
}

void TAtomicFileWriter::WriteFile(const QString& targetPath, const QByteArray& data,
                                  QFileDevice::Permissions permissions)
{
    TAtomicFileWriter writer(targetPath, permissions);
    writer.Open();
    writer.Write(data);
    writer.Commit();
}
