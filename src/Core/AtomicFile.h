#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <memory>

class QTemporaryFile;

// Writes a file so that it appears whole or not at all: the bytes go to a hidden temporary file in the
// target's folder, which is renamed over the target only by Commit(). A writer destroyed without Commit()
// removes its temporary file and leaves the target untouched. Errors are raised as EFileError.
class TAtomicFileWriter
{
public:
    static constexpr QFileDevice::Permissions DefaultPermissions =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    static constexpr QFileDevice::Permissions OwnerOnlyPermissions =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner;

    explicit TAtomicFileWriter(QString targetPath, QFileDevice::Permissions permissions = DefaultPermissions);
    ~TAtomicFileWriter();

    TAtomicFileWriter(const TAtomicFileWriter&) = delete;
    TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

    void Open();
    void Write(const char* data, qint64 size);
    void Write(const QByteArray& data) { Write(data.constData(), data.size()); }
    qint64 BytesWritten() const { return FWritten; }
    void Commit();
    void Discard();

    const QString& TargetPath() const { return FTargetPath; }

    // Convenience: the whole content in one call.
    static void WriteFile(const QString& targetPath, const QByteArray& data,
                          QFileDevice::Permissions permissions = DefaultPermissions);

private:
    [[noreturn]] void Fail(const QString& reason);

    QString FTargetPath;
    QFileDevice::Permissions FPermissions;
    std::unique_ptr<QTemporaryFile> FTemp;
    qint64 FWritten = 0;
};
