#include "PlayJournal.h"

#include "JournalSchema.h"
#include "Log.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <sqlite3.h>

#include <cassert>

namespace {

// A batch is written early when the queue grows this long, so that a burst costs one transaction.
constexpr size_t BatchLimit = 2000;

// Statements of one batch, prepared once per batch and finalised whatever happens.
class TStatement
{
public:
    TStatement(sqlite3* database, const char* sql)
    {
        if (sqlite3_prepare_v2(database, sql, -1, &FStatement, nullptr) != SQLITE_OK)
            FStatement = nullptr;
    }
    ~TStatement() { sqlite3_finalize(FStatement); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    bool Valid() const { return FStatement != nullptr; }
    TStatement& Bind(int index, const QString& value)
    {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(FStatement, index, utf8.constData(), static_cast<int>(utf8.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    TStatement& Bind(int index, qint64 value)
    {
        sqlite3_bind_int64(FStatement, index, value);
        return *this;
    }
    // SQLITE_DONE or SQLITE_ROW on success.
    int Step() { return sqlite3_step(FStatement); }
    qint64 Int64(int column) const { return sqlite3_column_int64(FStatement, column); }
    void Reset()
    {
        sqlite3_reset(FStatement);
        sqlite3_clear_bindings(FStatement);
    }

private:
    sqlite3_stmt* FStatement = nullptr;
};

QString LastError(sqlite3* database)
{
    return database != nullptr ? QString::fromUtf8(sqlite3_errmsg(database)) : QStringLiteral("no database");
}

bool Execute(sqlite3* database, const char* sql, QString& error)
{
    char* message = nullptr;
    if (sqlite3_exec(database, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error = message != nullptr ? QString::fromUtf8(message) : LastError(database);
    sqlite3_free(message);
    return false;
}

// The moment as stored: UTC milliseconds and the local offset in seconds of that moment.
std::pair<qint64, qint64> Moment(const QDateTime& when)
{
    const QDateTime valid = when.isValid() ? when : QDateTime::currentDateTime();
    return {valid.toMSecsSinceEpoch(), valid.offsetFromUtc()};
}

// The writer of one batch: the statements and the display ids met so far.
class TBatchWriter
{
public:
    explicit TBatchWriter(sqlite3* database)
        : FDatabase(database),
          FDisplayInsert(database, "INSERT INTO displays(name, output, manufacturer, model, serial) "
                                   "VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT DO NOTHING"),
          FDisplaySelect(database, "SELECT id FROM displays WHERE name = ?1 AND output = ?2 AND "
                                   "manufacturer = ?3 AND model = ?4 AND serial = ?5"),
          FVitrelle(database,
                    "INSERT INTO vitrelles(id, name) VALUES(?1, ?2) "
                    "ON CONFLICT(id) DO UPDATE SET name = excluded.name WHERE name <> excluded.name"),
          FPlay(database,
                "INSERT INTO plays(display, vitrelle, slide, slide_type, appeared_ms, utc_offset_s, "
                "duration_ms, ended) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)"),
          FMiss(database, "INSERT INTO misses(display, vitrelle, slide, at_ms, utc_offset_s, reason) "
                          "VALUES(?1, ?2, ?3, ?4, ?5, ?6)"),
          FPower(database, "INSERT INTO power(display, command, origin, outcome, reply, at_ms, utc_offset_s) "
                           "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)"),
          FUpdate(database,
                  "INSERT INTO updates(vitrelle, outcome, files, bytes, message, at_ms, utc_offset_s) "
                  "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)"),
          FRun(database, "INSERT INTO runs(event, after_crash, at_ms, utc_offset_s) VALUES(?1, ?2, ?3, ?4)")
    {
    }

    bool Valid() const
    {
        return FDisplayInsert.Valid() && FDisplaySelect.Valid() && FVitrelle.Valid() && FPlay.Valid() &&
               FMiss.Valid() && FPower.Valid() && FUpdate.Valid() && FRun.Valid();
    }

    bool Write(const TJournalRecord& record)
    {
        return std::visit([this](const auto& item) { return WriteItem(item); }, record);
    }

private:
    static bool Done(int code) { return code == SQLITE_DONE || code == SQLITE_ROW; }

    // The display's row id, made when it is new; -1 on failure.
    qint64 DisplayId(const TJournalDisplay& display)
    {
        const QString key = display.Name + QChar(0) + display.Output + QChar(0) + display.Manufacturer +
                            QChar(0) + display.Model + QChar(0) + display.Serial;
        if (const auto found = FDisplays.constFind(key); found != FDisplays.cend())
            return *found;
        for (TStatement* statement : {&FDisplayInsert, &FDisplaySelect})
            statement->Bind(1, display.Name)
                .Bind(2, display.Output)
                .Bind(3, display.Manufacturer)
                .Bind(4, display.Model)
                .Bind(5, display.Serial);
        const bool inserted = Done(FDisplayInsert.Step());
        FDisplayInsert.Reset();
        const int selected = inserted ? FDisplaySelect.Step() : SQLITE_ERROR;
        const qint64 id = selected == SQLITE_ROW ? FDisplaySelect.Int64(0) : -1;
        FDisplaySelect.Reset();
        if (id >= 0)
            FDisplays.insert(key, id);
        return id;
    }

    bool Run(TStatement& statement)
    {
        const bool done = Done(statement.Step());
        statement.Reset();
        return done;
    }

    bool WriteItem(const TPlayRecord& play)
    {
        const qint64 display = DisplayId(play.Display);
        if (display < 0)
            return false;
        if (!play.VitrelleName.isEmpty() && FVitrelleNames.value(play.VitrelleId) != play.VitrelleName) {
            if (!Run(FVitrelle.Bind(1, play.VitrelleId).Bind(2, play.VitrelleName)))
                return false;
            FVitrelleNames.insert(play.VitrelleId, play.VitrelleName);
        }
        const auto [at, offset] = Moment(play.Appeared);
        return Run(FPlay.Bind(1, display)
                       .Bind(2, play.VitrelleId)
                       .Bind(3, play.SlideId)
                       .Bind(4, play.SlideType)
                       .Bind(5, at)
                       .Bind(6, offset)
                       .Bind(7, play.DurationMs)
                       .Bind(8, play.Ended));
    }

    bool WriteItem(const TMissRecord& miss)
    {
        const qint64 display = DisplayId(miss.Display);
        if (display < 0)
            return false;
        const auto [at, offset] = Moment(miss.When);
        return Run(FMiss.Bind(1, display)
                       .Bind(2, miss.VitrelleId)
                       .Bind(3, miss.SlideId)
                       .Bind(4, at)
                       .Bind(5, offset)
                       .Bind(6, miss.Reason));
    }

    bool WriteItem(const TPowerRecord& power)
    {
        const qint64 display = DisplayId(power.Display);
        if (display < 0)
            return false;
        const auto [at, offset] = Moment(power.When);
        return Run(FPower.Bind(1, display)
                       .Bind(2, power.On ? QStringLiteral("on") : QStringLiteral("off"))
                       .Bind(3, power.Origin)
                       .Bind(4, power.Succeeded ? QStringLiteral("succeeded") : QStringLiteral("failed"))
                       .Bind(5, power.Reply)
                       .Bind(6, at)
                       .Bind(7, offset));
    }

    bool WriteItem(const TUpdateRecord& update)
    {
        const auto [at, offset] = Moment(update.When);
        return Run(FUpdate.Bind(1, update.VitrelleId)
                       .Bind(2, update.Succeeded ? QStringLiteral("succeeded") : QStringLiteral("failed"))
                       .Bind(3, static_cast<qint64>(update.Files))
                       .Bind(4, update.Bytes)
                       .Bind(5, update.Message)
                       .Bind(6, at)
                       .Bind(7, offset));
    }

    bool WriteItem(const TStateRecord&) { return true; } // the metrics' alone

    bool WriteItem(const TRunRecord& run)
    {
        const auto [at, offset] = Moment(run.When);
        return Run(
            FRun.Bind(1, run.Event).Bind(2, qint64{run.AfterCrash ? 1 : 0}).Bind(3, at).Bind(4, offset));
    }

    sqlite3* FDatabase;
    TStatement FDisplayInsert;
    TStatement FDisplaySelect;
    TStatement FVitrelle;
    TStatement FPlay;
    TStatement FMiss;
    TStatement FPower;
    TStatement FUpdate;
    TStatement FRun;
    QHash<QString, qint64> FDisplays;
    QHash<QString, QString> FVitrelleNames;
};

// A file that is no database, or a damaged one: moving it aside is the only way on.
bool IsBroken(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

} // namespace

TPlayJournal::TPlayJournal(const QString& path, TOptions options)
    : FPath(path), FOptions(std::move(options)), FRetentionDays(FOptions.RetentionDays)
{
    FWorker = std::thread([this] { Run(); });
}

TPlayJournal::~TPlayJournal()
{
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FWake.notify_all();
    FWorker.join();
}

void TPlayJournal::Record(TJournalRecord record)
{
    {
        std::lock_guard lock(FMutex);
        if (FStopping)
            return;
        FPending.push_back(std::move(record));
        ++FQueued;
        if (FPending.size() < BatchLimit)
            return;
    }
    FWake.notify_all();
}

void TPlayJournal::Flush()
{
    std::unique_lock lock(FMutex);
    const quint64 target = FQueued;
    const quint64 round = FRounds;
    FFlushWanted = true;
    FWake.notify_all();
    // A paused journal answers after its next attempt, written or not.
    FDone.wait(lock, [&] { return FHandled >= target || FStopping || (FPaused && FRounds > round); });
}

void TPlayJournal::Prune()
{
    {
        std::lock_guard lock(FMutex);
        FPruneWanted = true;
    }
    Flush();
}

void TPlayJournal::SetRetentionDays(int days)
{
    FRetentionDays.store(std::max(days, 1));
}

bool TPlayJournal::Paused() const
{
    std::lock_guard lock(FMutex);
    return FPaused;
}

qint64 TPlayJournal::Written() const
{
    std::lock_guard lock(FMutex);
    return FWritten;
}

QDateTime TPlayJournal::Now() const
{
    return FOptions.Clock ? FOptions.Clock->Now() : QDateTime::currentDateTime();
}

void TPlayJournal::Run()
{
    Open();
    std::unique_lock lock(FMutex);
    for (;;) {
        FWake.wait_for(lock, FOptions.FlushPeriod, [this] {
            return FStopping || FFlushWanted || FPruneWanted || FPending.size() >= BatchLimit;
        });
        std::vector<TJournalRecord> batch;
        batch.swap(FPending);
        const bool prune = FPruneWanted || FLastPruned != Now().date();
        FPruneWanted = false;
        const bool stopping = FStopping;
        lock.unlock();

        QString error;
        bool written = batch.empty();
        if (!written) {
            if (FDatabase == nullptr)
                Open();
            written = FDatabase != nullptr && WriteBatch(batch, error);
        }
        if (written && prune && FDatabase != nullptr)
            PruneNow();

        lock.lock();
        if (written) {
            FHandled += batch.size();
            FWritten += static_cast<qint64>(batch.size());
            if (FPaused)
                WriteLog(LogSource, 3, QStringLiteral("The play journal %1 is written again").arg(FPath));
            FPaused = false;
        } else if (stopping) {
            FHandled += batch.size();
            WriteLog(LogSource, 2,
                     QStringLiteral("The play journal %1 could not keep its last %2 records: %3")
                         .arg(FPath, QString::number(batch.size()), error));
        } else {
            if (!FPaused)
                WriteLog(
                    LogSource, 2,
                    QStringLiteral("The play journal %1 pauses: %2; the show goes on and the journal tries "
                                   "again")
                        .arg(FPath, error));
            FPaused = true;
            // The failed batch goes first again; past the bound the oldest records are given up.
            std::move(FPending.begin(), FPending.end(), std::back_inserter(batch));
            FPending.swap(batch);
            if (FPending.size() > MaxPending) {
                const auto excess = static_cast<std::ptrdiff_t>(FPending.size() - MaxPending);
                FPending.erase(FPending.begin(), FPending.begin() + excess);
                FHandled += static_cast<quint64>(excess);
            }
        }
        FFlushWanted = false;
        ++FRounds;
        FDone.notify_all();
        if (stopping && FPending.empty())
            break;
        if (stopping && !written)
            continue; // the records queued meanwhile get their one attempt
    }
    lock.unlock();
    Close();
}

void TPlayJournal::Open()
{
    QString error;
    if (TryOpen(error))
        return;
    const bool exists = QFileInfo::exists(FPath);
    if (!exists || !IsBroken(FDatabase != nullptr ? sqlite3_extended_errcode(FDatabase) : SQLITE_OK)) {
        Close();
        WriteLog(LogSource, 2, QStringLiteral("The play journal %1 cannot be opened: %2").arg(FPath, error));
        return;
    }
    Close();
    const QString aside = FPath + QStringLiteral(".broken-") +
                          QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss"));
    const bool moved = QFile::rename(FPath, aside);
    QFile::remove(FPath + QStringLiteral("-wal"));
    QFile::remove(FPath + QStringLiteral("-shm"));
    WriteLog(LogSource, 1,
             moved ? QStringLiteral("The play journal %1 is damaged (%2): moved to %3, a new one is started")
                         .arg(FPath, error, aside)
                   : QStringLiteral("The play journal %1 is damaged (%2) and cannot be moved aside")
                         .arg(FPath, error));
    if (moved && !TryOpen(error)) {
        Close();
        WriteLog(LogSource, 2, QStringLiteral("The play journal %1 cannot be opened: %2").arg(FPath, error));
    }
}

bool TPlayJournal::TryOpen(QString& error)
{
    assert(FDatabase == nullptr);
    const QByteArray path = FPath.toUtf8();
    if (sqlite3_open_v2(path.constData(), &FDatabase, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = LastError(FDatabase);
        return false;
    }
    sqlite3_extended_result_codes(FDatabase, 1);
    // A reader (the export tool) holds the database only briefly; the writer waits for it rather than fail.
    sqlite3_busy_timeout(FDatabase, 2000);
    return Execute(FDatabase, JournalSchema::Pragmas, error) &&
           Execute(FDatabase, JournalSchema::Tables, error);
}

void TPlayJournal::Close()
{
    sqlite3_close_v2(FDatabase);
    FDatabase = nullptr;
}

bool TPlayJournal::WriteBatch(const std::vector<TJournalRecord>& batch, QString& error)
{
    if (!Execute(FDatabase, "BEGIN IMMEDIATE", error))
        return false;
    bool ok = true;
    {
        TBatchWriter writer(FDatabase);
        ok = writer.Valid();
        for (size_t i = 0; ok && i < batch.size(); ++i)
            ok = writer.Write(batch[i]);
        if (!ok)
            error = LastError(FDatabase);
    }
    if (ok && Execute(FDatabase, "COMMIT", error))
        return true;
    const int code = sqlite3_extended_errcode(FDatabase);
    QString ignored;
    Execute(FDatabase, "ROLLBACK", ignored);
    // A database damaged under the running program: the next batch starts a new one.
    if (IsBroken(code)) {
        Close();
        Open();
    }
    return false;
}

void TPlayJournal::PruneNow()
{
    const QDateTime now = Now();
    const qint64 limit = now.addDays(-FRetentionDays.load()).toMSecsSinceEpoch();
    QString error;
    bool ok = Execute(FDatabase, "BEGIN IMMEDIATE", error);
    for (const char* sql : JournalSchema::PruneStatements) {
        if (!ok)
            break;
        TStatement statement(FDatabase, sql);
        ok = statement.Valid() && (statement.Bind(1, limit).Step() == SQLITE_DONE);
    }
    if (ok && Execute(FDatabase, "COMMIT", error)) {
        FLastPruned = now.date();
        return;
    }
    if (error.isEmpty())
        error = LastError(FDatabase);
    Execute(FDatabase, "ROLLBACK", error);
    WriteLog(LogSource, 2, QStringLiteral("The play journal %1 could not be pruned: %2").arg(FPath, error));
    FLastPruned = now.date(); // tried again tomorrow, not at every batch
}
