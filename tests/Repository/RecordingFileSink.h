#pragma once

#include "AtomicFile.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <vector>

// The real file system, with every call recorded in order (by temporary file name), a flush that can be
// made to fail for files of one name, and flushes that can be held until released.
class TRecordingFileSink : public IFileSink
{
public:
    struct TEvent
    {
        QString Kind; // create, write, flush, rename, flush-folder
        QStringList
            Paths; // create, write, flush: the temporary files; rename: from, to; flush-folder: folder
    };

    // Flushes of temporary files of this target name fail with EIO.
    void FailFlushOf(const QString& targetName)
    {
        std::lock_guard lock(FMutex);
        FFailing = targetName;
    }
    void HoldFlushes()
    {
        std::lock_guard lock(FMutex);
        FHold = true;
    }
    void ReleaseFlushes()
    {
        {
            std::lock_guard lock(FMutex);
            FHold = false;
        }
        FChanged.notify_all();
    }
    // Whether a flush waits for ReleaseFlushes.
    bool FlushHeld() const
    {
        std::lock_guard lock(FMutex);
        return FHeldFlushes > 0;
    }
    std::vector<TEvent> Events() const
    {
        std::lock_guard lock(FMutex);
        return FEvents;
    }

    int CreateTemporary(const QString& pattern, const QString& targetPath, QString& path, int& fd) override
    {
        const int error = SystemFileSink().CreateTemporary(pattern, targetPath, path, fd);
        if (error == 0) {
            std::lock_guard lock(FMutex);
            FFiles[fd] = path;
            FTargets[fd] = QFileInfo(targetPath).fileName();
            FEvents.push_back({"create", {path}});
        }
        return error;
    }
    int Write(int fd, const char* data, qint64 size) override
    {
        Record("write", {fd});
        return SystemFileSink().Write(fd, data, size);
    }
    void StartWriteback(int fd) override { SystemFileSink().StartWriteback(fd); }
    int FlushData(int fd) override
    {
        if (const int error = Flush({fd}); error != 0)
            return error;
        return SystemFileSink().FlushData(fd);
    }
    int FlushFileSystems(const std::vector<int>& fds) override
    {
        if (const int error = Flush(fds); error != 0)
            return error;
        return SystemFileSink().FlushFileSystems(fds);
    }
    int SetPermissions(int fd, QFileDevice::Permissions permissions) override
    {
        return SystemFileSink().SetPermissions(fd, permissions);
    }
    void Close(int fd) override
    {
        {
            std::lock_guard lock(FMutex);
            FFiles.erase(fd);
            FTargets.erase(fd);
        }
        SystemFileSink().Close(fd);
    }
    int Rename(const QString& from, const QString& to) override
    {
        {
            std::lock_guard lock(FMutex);
            FEvents.push_back({"rename", {from, to}});
        }
        return SystemFileSink().Rename(from, to);
    }
    int FlushFolder(const QString& folder) override
    {
        {
            std::lock_guard lock(FMutex);
            FEvents.push_back({"flush-folder", {folder}});
        }
        return SystemFileSink().FlushFolder(folder);
    }
    void Remove(const QString& path) override { SystemFileSink().Remove(path); }

private:
    void Record(const QString& kind, const std::vector<int>& fds)
    {
        std::lock_guard lock(FMutex);
        QStringList paths;
        for (const int fd : fds)
            paths << FFiles[fd];
        FEvents.push_back({kind, paths});
    }
    // Records the flush unless it fails; EIO when one of the files is of the failing name.
    int Flush(const std::vector<int>& fds)
    {
        std::unique_lock lock(FMutex);
        ++FHeldFlushes;
        FChanged.wait(lock, [&] { return !FHold; });
        --FHeldFlushes;
        QStringList paths;
        for (const int fd : fds) {
            paths << FFiles[fd];
            if (!FFailing.isEmpty() && FTargets[fd] == FFailing)
                return EIO;
        }
        FEvents.push_back({"flush", paths});
        return 0;
    }

    mutable std::mutex FMutex; // guards everything below
    std::condition_variable FChanged;
    std::vector<TEvent> FEvents;
    std::map<int, QString> FFiles;
    std::map<int, QString> FTargets; // the target's file name of each temporary file
    QString FFailing;
    bool FHold = false;
    int FHeldFlushes = 0;
};
