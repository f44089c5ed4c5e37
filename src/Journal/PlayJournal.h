#pragma once

#include "Clock.h"
#include "PlayRecords.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct sqlite3;

// The play journal: one SQLite database (WAL) of what each display showed, what it missed, the power
// commands, the updates and the program's runs, kept for a retention period and pruned daily.
//
// Threads: Record is called from any thread and only queues the record (it never touches the disk). A worker
// of the journal writes the queue in one transaction per batch, every FlushPeriod and when the queue is long;
// a kill loses at most the batch not written yet. The journal never raises to its callers and never stops the
// show: a database that cannot be opened is moved aside and a new one started (one level-1 line); a write
// that fails (a full disk) pauses the journal (one level-2 line) and keeps the queue, up to MaxPending
// records (the oldest are given up first), until a later batch succeeds.
class TPlayJournal : public IPlayRecorder
{
public:
    static constexpr QLatin1StringView LogSource{"TPlayJournal"};
    static constexpr QLatin1StringView FileName{"PlayJournal.sqlite"};
    static constexpr std::chrono::milliseconds DefaultFlushPeriod{5000};
    static constexpr int DefaultRetentionDays = 400;
    static constexpr size_t MaxPending = 100000;

    struct TOptions
    {
        std::chrono::milliseconds FlushPeriod = DefaultFlushPeriod;
        int RetentionDays = DefaultRetentionDays;
        // The moment retention counts from; null: the system's.
        std::shared_ptr<const IClock> Clock;
    };

    // Opens (or creates) the database at the path and starts the worker. Never raises: see above.
    TPlayJournal(const QString& path, TOptions options);
    // Writes what is queued, then stops the worker.
    ~TPlayJournal();
    TPlayJournal(const TPlayJournal&) = delete;
    TPlayJournal& operator=(const TPlayJournal&) = delete;

    // Any thread; cheap: the record is queued.
    void Record(TJournalRecord record) override;
    // Any thread: waits until everything queued before the call has been written or given up.
    void Flush();
    // Any thread: the retention pass now (it also runs once a day by itself).
    void Prune();
    // Any thread: the days kept from the next pass on (at least 1).
    void SetRetentionDays(int days);

    // Any thread. The journal could not write its last batch (it retries).
    bool Paused() const;
    // Any thread. Records written since the start.
    qint64 Written() const;
    const QString& Path() const { return FPath; }

private:
    void Run();
    // Worker: opens the database, moving a broken one aside.
    void Open();
    bool TryOpen(QString& error);
    void Close();
    // Worker: writes the batch in one transaction; false when it failed (nothing of it written).
    bool WriteBatch(const std::vector<TJournalRecord>& batch, QString& error);
    void PruneNow();
    QDateTime Now() const;

    const QString FPath;
    const TOptions FOptions;
    std::atomic<int> FRetentionDays;
    sqlite3* FDatabase = nullptr; // worker only, after the start

    mutable std::mutex FMutex; // guards the members below
    std::condition_variable FWake;
    std::condition_variable FDone;
    std::vector<TJournalRecord> FPending;
    quint64 FQueued = 0;  // records ever queued
    quint64 FHandled = 0; // of those, written or given up
    quint64 FRounds = 0;  // batches the worker has tried
    bool FFlushWanted = false;
    bool FPruneWanted = false;
    bool FStopping = false;
    bool FPaused = false;
    qint64 FWritten = 0;

    std::optional<QDate> FLastPruned; // worker only

    std::thread FWorker; // last: started once the rest exists
};
