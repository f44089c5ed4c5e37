#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// The file-system calls behind an atomic write, in one place, so that a test can record their order or make
// one of them fail. Every call returns 0 or an errno value; none raises.
class IFileSink
{
public:
    virtual ~IFileSink() = default;

    // Creates a new empty file named after the pattern (its trailing "XXXXXX" replaced), which is to become
    // targetPath; its path in path.
    virtual int CreateTemporary(const QString& pattern, const QString& targetPath, QString& path,
                                int& fd) = 0;
    virtual int Write(int fd, const char* data, qint64 size) = 0;
    // Starts writing the file's pages to disk and returns without waiting: a later flush then has less to
    // wait for, and files started together reach the disk in one journal commit.
    virtual void StartWriteback(int fd) = 0;
    // Returns once the file's data, and what is needed to read it back, is on disk.
    virtual int FlushData(int fd) = 0;
    // Returns once the data of every file of the file systems that hold these files is on disk: one journal
    // commit for many files. An error says that some file may not be; which one, only FlushData tells.
    virtual int FlushFileSystems(const std::vector<int>& fds) = 0;
    virtual int SetPermissions(int fd, QFileDevice::Permissions permissions) = 0;
    virtual void Close(int fd) = 0;
    // Replaces to atomically.
    virtual int Rename(const QString& from, const QString& to) = 0;
    // Makes the renames done in the folder durable.
    virtual int FlushFolder(const QString& folder) = 0;
    virtual void Remove(const QString& path) = 0;
};

// The real file system.
IFileSink& SystemFileSink();

// Temporary files of the program are named ".vctmp." and six letters or digits, whatever the target's
// name: the name stays short (a long target name would push it past the file system's limit) and is
// recognisable, so that what a crash left behind can be found and removed.
bool IsLeftoverTemporaryName(const QString& fileName);
// Removes the program's temporary files left in the folder (and its sub-folders when recursive; symbolic
// links to folders are not followed) by a run that ended before it could remove them. Call it at start-up,
// before anything writes there. Returns how many were removed.
int RemoveLeftoverTemporaryFiles(const QString& folder, bool recursive);

class TFileCommitGroup;

// Writes a file so that it appears whole or not at all: the bytes go to a hidden temporary file in the
// target's folder, which is renamed over the target only by Commit(), after its data is on disk. A writer
// destroyed without Commit() removes its temporary file and leaves the target untouched. Errors are raised as
// EFileError.
//
// On a thread where a TFileCommitGroup is current (TFileCommitGroup::TScope), Commit() hands the written file
// to that group instead, which flushes, renames and reports it later together with others.
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
    [[noreturn]] void Fail(int error);

    QString FTargetPath;
    QFileDevice::Permissions FPermissions;
    TFileCommitGroup* FGroup = nullptr; // the group current when the file was opened
    IFileSink* FSink = nullptr;
    int FFd = -1;
    QString FTempPath;
    qint64 FWritten = 0;
    qint64 FWrittenBackTo = 0; // bytes whose writeback has been started
};

// Commits many written files at a time: a flusher thread takes every file handed over since its last round,
// flushes each file's data (their writeback started when they were handed over, so the journal commits them
// together), renames them only then, and flushes each folder once for the round. The thread that writes the
// files goes on with the next ones meanwhile.
//
// The group and its scope belong to one writing thread; the outcomes are taken there.
class TFileCommitGroup
{
public:
    // What became of one file: committed (Error empty) or not (its temporary file removed).
    struct TOutcome
    {
        QString TargetPath;
        QString Error;
    };

    // Makes the group current on the constructing thread for the scope's lifetime.
    class TScope
    {
    public:
        explicit TScope(TFileCommitGroup& group);
        ~TScope();
        TScope(const TScope&) = delete;
        TScope& operator=(const TScope&) = delete;

    private:
        TFileCommitGroup* FPrevious;
    };

    // At most maxWaiting files wait for their round; a writer handing over one more waits for room (which
    // also bounds the open files).
    explicit TFileCommitGroup(IFileSink& sink = SystemFileSink(), int maxWaiting = 64);
    // Discards what has not been committed, then ends the flusher.
    ~TFileCommitGroup();

    TFileCommitGroup(const TFileCommitGroup&) = delete;
    TFileCommitGroup& operator=(const TFileCommitGroup&) = delete;

    static TFileCommitGroup* Current();
    IFileSink& Sink() const { return FSink; }

    // Takes a completely written temporary file (and its descriptor) to be committed as targetPath.
    void Adopt(int fd, const QString& tempPath, const QString& targetPath,
               QFileDevice::Permissions permissions);
    // Returns when every file handed over has been committed or has failed.
    void Finish();
    // Removes the files still waiting for their round (their targets stay as they were); a round under way
    // is completed first.
    void Discard();
    // The outcomes reported since the last call, in commit order.
    std::vector<TOutcome> TakeOutcomes();

private:
    struct TPending
    {
        int Fd;
        QString TempPath;
        QString TargetPath;
        QFileDevice::Permissions Permissions;
    };

    void Run();
    void CommitRound(std::vector<TPending>& round);

    IFileSink& FSink;
    const size_t FMaxWaiting;
    std::mutex FMutex; // guards the fields below
    std::condition_variable FChanged;
    std::deque<TPending> FWaiting;
    bool FRoundUnderWay = false;
    bool FStopping = false;
    std::vector<TOutcome> FOutcomes;
    std::thread FFlusher; // last: started when everything else exists
};
