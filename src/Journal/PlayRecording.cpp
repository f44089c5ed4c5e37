#include "PlayRecording.h"

#include <QDir>

#include <sqlite3.h>

TPlayRecording::TPlayRecording(const QString& applicationFolder, bool afterCrash,
                               TPlayJournal::TOptions options)
{
    const QString path = QDir(applicationFolder).filePath(QString(TPlayJournal::FileName));
    const QDateTime started = QDateTime::currentDateTime();
    FMetrics = std::make_unique<TPlayMetrics>(started, CrashRestarts(path) + (afterCrash ? 1 : 0));
    FJournal = std::make_unique<TPlayJournal>(path, std::move(options));
    Record(TRunRecord{QStringLiteral("start"), afterCrash, started});
    // On disk before the show starts: a run killed in its first seconds still counts as a run.
    FJournal->Flush();
}

TPlayRecording::~TPlayRecording()
{
    Record(TRunRecord{QStringLiteral("end"), false, QDateTime::currentDateTime()});
    {
        std::lock_guard lock(FMutex);
        FMetricsFile.reset(); // writes a last time
    }
    FJournal.reset(); // writes what is queued
}

void TPlayRecording::Record(TJournalRecord record)
{
    FMetrics->Observe(record);
    FJournal->Record(std::move(record));
}

void TPlayRecording::SetMetricsFile(const QString& path)
{
    std::lock_guard lock(FMutex);
    FMetricsFile.reset();
    if (!path.isEmpty())
        FMetricsFile = std::make_unique<TMetricsFileWriter>(*FMetrics, path);
}

qint64 TPlayRecording::CrashRestarts(const QString& journalPath)
{
    sqlite3* database = nullptr;
    qint64 count = 0;
    if (sqlite3_open_v2(journalPath.toUtf8().constData(), &database, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(database,
                               "SELECT count(*) FROM runs WHERE event = 'start' AND after_crash = 1", -1,
                               &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            count = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close_v2(database); // a missing or damaged journal counts none; the journal itself deals with it
    return count;
}
