#include "AtomicFile.h"

#include "Errors.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

thread_local TFileCommitGroup* CurrentGroup = nullptr;

// Writeback of a long file is started every so many bytes, so that its final flush has little left to do.
constexpr qint64 WritebackStep = 8 * 1024 * 1024;

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

mode_t ModeOf(QFileDevice::Permissions permissions)
{
    const auto bits = static_cast<unsigned>(permissions.toInt());
    // Qt keeps owner, user, group and other in four hex digits; the file mode wants owner, group, other.
    return static_cast<mode_t>((((bits >> 12) & 7u) << 6) | (((bits >> 4) & 7u) << 3) | (bits & 7u));
}

class TSystemFileSink : public IFileSink
{
public:
    // What mkostemp does, by open(2): tools that follow descriptors across threads (ThreadSanitizer) see
    // open but not mkostemp, and would take a reused descriptor number for the old file.
    int CreateTemporary(const QString& pattern, const QString&, QString& path, int& fd) override
    {
        static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        QByteArray name = QFile::encodeName(pattern);
        const qsizetype x = name.size() - 6;
        if (x < 0 || !name.endsWith("XXXXXX"))
            return EINVAL;
        for (int attempt = 0; attempt < 100; ++attempt) {
            for (qsizetype i = x; i < name.size(); ++i)
                name[i] = Letters[QRandomGenerator::system()->bounded(static_cast<int>(sizeof Letters - 1))];
            fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                path = QFile::decodeName(name);
                return 0;
            }
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }
    int Write(int fd, const char* data, qint64 size) override
    {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return n < 0 ? errno : EIO;
            data += n;
            size -= n;
        }
        return 0;
    }
    void StartWriteback(int fd) override { ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); }
    int FlushData(int fd) override
    {
        int result = 0;
        do
            result = ::fdatasync(fd);
        while (result != 0 && errno == EINTR);
        return result == 0 ? 0 : errno;
    }
    int FlushFileSystems(const std::vector<int>& fds) override
    {
        std::set<dev_t> done;
        for (const int fd : fds) {
            struct stat info
            {
            };
            if (::fstat(fd, &info) != 0)
                return errno;
            if (!done.insert(info.st_dev).second)
                continue;
            if (::syncfs(fd) != 0)
                return errno;
        }
        return 0;
    }
    int SetPermissions(int fd, QFileDevice::Permissions permissions) override
    {
        return ::fchmod(fd, ModeOf(permissions)) == 0 ? 0 : errno;
    }
    void Close(int fd) override { ::close(fd); }
    int Rename(const QString& from, const QString& to) override
    {
        // rename(2) replaces the target atomically; QFile::rename would refuse an existing target.
        return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0
                   ? 0
                   : errno;
    }
    int FlushFolder(const QString& folder) override
    {
        const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return errno;
        const int result = ::fsync(fd) == 0 ? 0 : errno;
        ::close(fd);
        return result;
    }
    void Remove(const QString& path) override { ::unlink(QFile::encodeName(path).constData()); }
};

const QLatin1StringView TemporaryPrefix{".vctmp."};

} // namespace

IFileSink& SystemFileSink()
{
    static TSystemFileSink sink;
    return sink;
}

bool IsLeftoverTemporaryName(const QString& fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.vctmp\\.[A-Za-z0-9]{6}$"));
    return pattern.match(fileName).hasMatch();
}

int RemoveLeftoverTemporaryFiles(const QString& folder, bool recursive)
{
    int removed = 0;
    QDirIterator entries(folder, QDir::Files | QDir::Hidden | QDir::System,
                         recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (entries.hasNext()) {
        const QString path = entries.next();
        if (!IsLeftoverTemporaryName(entries.fileName()))
            continue;
        // unlink(2) removes a symbolic link itself, never what it points to.
        if (::unlink(QFile::encodeName(path).constData()) == 0)
            ++removed;
    }
    return removed;
}

// ---- TAtomicFileWriter ----

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

void TAtomicFileWriter::Fail(int error)
{
    Fail(ErrorText(error));
}

void TAtomicFileWriter::Open()
{
    Discard();
    const QFileInfo target(FTargetPath);
    if (target.fileName().isEmpty())
        Fail(QStringLiteral("no file name"));
    if (target.isDir())
        Fail(QStringLiteral("a folder of that name exists"));
    FGroup = TFileCommitGroup::Current();
    FSink = FGroup != nullptr ? &FGroup->Sink() : &SystemFileSink();
    // Hidden, without the target's extension (folder listings by extension never see it), and short.
    const QString pattern =
        target.absolutePath() + QLatin1Char('/') + TemporaryPrefix + QLatin1String("XXXXXX");
    if (const int error = FSink->CreateTemporary(pattern, FTargetPath, FTempPath, FFd); error != 0) {
        FFd = -1;
        FTempPath.clear();
        Fail(error);
    }
}

void TAtomicFileWriter::Write(const char* data, qint64 size)
{
    if (FFd < 0)
        Fail(QStringLiteral("the file is not open"));
    if (const int error = FSink->Write(FFd, data, size); error != 0)
        Fail(error);
    FWritten += size;
    if (FGroup != nullptr && FWritten - FWrittenBackTo >= WritebackStep) {
        FSink->StartWriteback(FFd);
        FWrittenBackTo = FWritten;
    }
}

void TAtomicFileWriter::Commit()
{
    if (FFd < 0)
        Fail(QStringLiteral("the file is not open"));
    const QString target = QFileInfo(FTargetPath).absoluteFilePath();
    if (FGroup != nullptr) {
        FGroup->Adopt(FFd, FTempPath, target, FPermissions);
        FFd = -1;
        FTempPath.clear();
        FWritten = 0;
        FWrittenBackTo = 0;
        return;
    }
    if (const int error = FSink->SetPermissions(FFd, FPermissions); error != 0)
        Fail(QStringLiteral("cannot set the file permissions"));
    // The data must be on disk before the name says the file is there.
    if (const int error = FSink->FlushData(FFd); error != 0)
        Fail(error);
    FSink->Close(FFd);
    FFd = -1;
    if (const int error = FSink->Rename(FTempPath, target); error != 0)
        Fail(error);
    FTempPath.clear();
    FWritten = 0;
    FWrittenBackTo = 0;
    // Makes the rename itself durable.
    FSink->FlushFolder(QFileInfo(target).absolutePath());
}

void TAtomicFileWriter::Discard()
{
    if (FFd >= 0)
        FSink->Close(FFd);
    if (!FTempPath.isEmpty())
        FSink->Remove(FTempPath);
    FFd = -1;
    FTempPath.clear();
    FWritten = 0;
    FWrittenBackTo = 0;
}

void TAtomicFileWriter::WriteFile(const QString& targetPath, const QByteArray& data,
                                  QFileDevice::Permissions permissions)
{
    TAtomicFileWriter writer(targetPath, permissions);
    writer.Open();
    writer.Write(data);
    writer.Commit();
}

// ---- TFileCommitGroup ----

TFileCommitGroup::TScope::TScope(TFileCommitGroup& group) : FPrevious(CurrentGroup)
{
    CurrentGroup = &group;
}

TFileCommitGroup::TScope::~TScope()
{
    CurrentGroup = FPrevious;
}

TFileCommitGroup::TFileCommitGroup(IFileSink& sink, int maxWaiting)
    : FSink(sink), FMaxWaiting(static_cast<size_t>(std::max(1, maxWaiting))), FFlusher([this] { Run(); })
{
}

TFileCommitGroup::~TFileCommitGroup()
{
    Discard();
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FChanged.notify_all();
    FFlusher.join();
}

TFileCommitGroup* TFileCommitGroup::Current()
{
    return CurrentGroup;
}

void TFileCommitGroup::Adopt(int fd, const QString& tempPath, const QString& targetPath,
                             QFileDevice::Permissions permissions)
{
    FSink.StartWriteback(fd);
    {
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [&] { return FWaiting.size() < FMaxWaiting; });
        FWaiting.push_back({fd, tempPath, targetPath, permissions});
    }
    FChanged.notify_all();
}

void TFileCommitGroup::Finish()
{
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [&] { return FWaiting.empty() && !FRoundUnderWay; });
}

void TFileCommitGroup::Discard()
{
    std::deque<TPending> dropped;
    {
        std::lock_guard lock(FMutex);
        dropped.swap(FWaiting);
    }
    FChanged.notify_all();
    for (const TPending& file : dropped) {
        FSink.Close(file.Fd);
        FSink.Remove(file.TempPath);
    }
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [&] { return !FRoundUnderWay; });
}

std::vector<TFileCommitGroup::TOutcome> TFileCommitGroup::TakeOutcomes()
{
    std::vector<TOutcome> outcomes;
    std::lock_guard lock(FMutex);
    outcomes.swap(FOutcomes);
    return outcomes;
}

void TFileCommitGroup::Run()
{
    while (true) {
        std::vector<TPending> round;
        {
            std::unique_lock lock(FMutex);
            FChanged.wait(lock, [&] { return !FWaiting.empty() || FStopping; });
            if (FWaiting.empty())
                return; // stopping
            round.assign(std::make_move_iterator(FWaiting.begin()), std::make_move_iterator(FWaiting.end()));
            FWaiting.clear();
            FRoundUnderWay = true;
        }
        FChanged.notify_all(); // room for the writer
        CommitRound(round);
        {
            std::lock_guard lock(FMutex);
            FRoundUnderWay = false;
        }
        FChanged.notify_all();
    }
}

void TFileCommitGroup::CommitRound(std::vector<TPending>& round)
{
    std::vector<TOutcome> outcomes;
    std::vector<const TPending*> ready;
    std::vector<int> fds;
    for (const TPending& file : round) {
        if (const int error = FSink.SetPermissions(file.Fd, file.Permissions); error != 0) {
            FSink.Close(file.Fd);
            FSink.Remove(file.TempPath);
            outcomes.push_back({file.TargetPath, ErrorText(error)});
            continue;
        }
        ready.push_back(&file);
        fds.push_back(file.Fd);
    }
    // One flush of the file system for the round: each file's own flush would wait for a journal commit of
    // its own. A single file is flushed alone, which on a busy disk does not wait for the others' data. When
    // the round's flush reports an error, each file's own flush tells which one it was.
    const int roundError = fds.size() > 1 ? FSink.FlushFileSystems(fds) : -1;
    std::vector<const TPending*> flushed;
    for (const TPending* file : ready) {
        const int error = roundError == 0 ? 0 : FSink.FlushData(file->Fd);
        FSink.Close(file->Fd);
        if (error != 0) {
            FSink.Remove(file->TempPath);
            outcomes.push_back({file->TargetPath, ErrorText(error)});
        } else {
            flushed.push_back(file);
        }
    }
    // Only now may the names say that the files are there.
    std::set<QString> folders;
    std::vector<TOutcome> committed;
    for (const TPending* file : flushed) {
        if (const int error = FSink.Rename(file->TempPath, file->TargetPath); error != 0) {
            FSink.Remove(file->TempPath);
            outcomes.push_back({file->TargetPath, ErrorText(error)});
            continue;
        }
        folders.insert(QFileInfo(file->TargetPath).absolutePath());
        committed.push_back({file->TargetPath, {}});
    }
    for (const QString& folder : folders)
        FSink.FlushFolder(folder);
    outcomes.insert(outcomes.end(), committed.begin(), committed.end());
    std::lock_guard lock(FMutex);
    FOutcomes.insert(FOutcomes.end(), outcomes.begin(), outcomes.end());
}
