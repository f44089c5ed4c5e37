// The play journal beside a bare SQLite insert loop with the same pragmas and tables: rows per second, what
// recording one slide costs its caller (the main thread, in the program), the database's size per million
// plays, and the export tool answering one day out of ten million rows (time, and peak memory against a
// tenth of that day's rows: flat when the rows are streamed).
//   build/bin/JournalBench            (VC_JOURNAL_EXPORT_ROWS=10000000 by default; fewer for a quick look)
#include "JournalSchema.h"
#include "PlayJournal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int Rows = 200000;

double GJournalRate = 0;
double GBareRate = 0;
double GRecordMicros = 0;
double GMiBPerMillion = 0;

TPlayRecord Play(int i, const QDateTime& at)
{
    return TPlayRecord{TJournalDisplay{QStringLiteral("Display %1").arg(i % 4),
                                       QStringLiteral("HDMI-%1").arg(i % 4), QStringLiteral("SAM"),
                                       QStringLiteral("LS32"), QStringLiteral("H4ZN")},
                       QStringLiteral("menu"),
                       QStringLiteral("Menu"),
                       QStringLiteral("s%1").arg(i % 40),
                       QStringLiteral("Picture"),
                       at,
                       10000,
                       QStringLiteral("next")};
}

qint64 DatabaseBytes(const QString& path)
{
    return QFileInfo(path).size() + QFileInfo(path + "-wal").size();
}

void Journal(benchmark::State& state)
{
    for (auto _ : state) {
        QTemporaryDir folder;
        const QString path = folder.filePath(QString(TPlayJournal::FileName));
        const QDateTime start = QDateTime::currentDateTime();
        QElapsedTimer timer;
        timer.start();
        qint64 recordNs = 0;
        {
            TPlayJournal journal(path, {});
            for (int i = 0; i < Rows; ++i) {
                const TPlayRecord record = Play(i, start.addMSecs(i * 10000LL));
                QElapsedTimer call;
                call.start();
                journal.Record(record);
                recordNs += call.nsecsElapsed();
            }
            journal.Flush();
        }
        const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        GJournalRate = Rows / seconds;
        GRecordMicros = static_cast<double>(recordNs) / Rows / 1000.0;
        GMiBPerMillion = static_cast<double>(DatabaseBytes(path)) / (1024.0 * 1024.0) * (1e6 / Rows);
        state.counters["rows_per_s"] = GJournalRate;
        state.counters["record_us"] = GRecordMicros;
        state.counters["MiB_per_million"] = GMiBPerMillion;
    }
}
BENCHMARK(Journal)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// The same rows straight into SQLite: one transaction per 2000 rows, prepared statements, the display as a
// known id (the journal looks it up once per batch and display).
void BareSqlite(benchmark::State& state)
{
    for (auto _ : state) {
        QTemporaryDir folder;
        const QByteArray path = folder.filePath(QStringLiteral("bare.sqlite")).toUtf8();
        const QDateTime start = QDateTime::currentDateTime();
        QElapsedTimer timer;
        timer.start();
        sqlite3* database = nullptr;
        sqlite3_open(path.constData(), &database);
        sqlite3_exec(database, JournalSchema::Pragmas, nullptr, nullptr, nullptr);
        sqlite3_exec(database, JournalSchema::Tables, nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(
            database,
            "INSERT INTO plays(display, vitrelle, slide, slide_type, appeared_ms, utc_offset_s, "
            "duration_ms, ended) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
            -1, &insert, nullptr);
        for (int i = 0; i < Rows; ++i) {
            if (i % 2000 == 0)
                sqlite3_exec(database, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            const TPlayRecord record = Play(i, start.addMSecs(i * 10000LL));
            const QByteArray vitrelle = record.VitrelleId.toUtf8();
            const QByteArray slide = record.SlideId.toUtf8();
            const QByteArray type = record.SlideType.toUtf8();
            const QByteArray ended = record.Ended.toUtf8();
            sqlite3_bind_int64(insert, 1, i % 4 + 1);
            sqlite3_bind_text(insert, 2, vitrelle.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 3, slide.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 4, type.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(insert, 5, record.Appeared.toMSecsSinceEpoch());
            sqlite3_bind_int64(insert, 6, record.Appeared.offsetFromUtc());
            sqlite3_bind_int64(insert, 7, record.DurationMs);
            sqlite3_bind_text(insert, 8, ended.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
            if (i % 2000 == 1999 || i == Rows - 1)
                sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr);
        }
        sqlite3_finalize(insert);
        sqlite3_close(database);
        GBareRate = Rows / (static_cast<double>(timer.nsecsElapsed()) / 1e9);
        state.counters["rows_per_s"] = GBareRate;
    }
}
BENCHMARK(BareSqlite)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

struct TExportRun
{
    double Seconds = 0;
    double PeakMiB = 0;
    qint64 Lines = 0;
};

// The export tool over the folder, its output counted; time and peak resident memory of the child.
TExportRun RunExport(const QString& folder, const QStringList& arguments)
{
    QTemporaryDir scratch;
    const QString outPath = scratch.filePath(QStringLiteral("out.csv"));
    QElapsedTimer timer;
    timer.start();
    std::fflush(stdout); // or the child prints what is buffered again
    const pid_t child = ::fork();
    if (child == 0) {
        FILE* out = std::freopen(outPath.toLocal8Bit().constData(), "w", stdout);
        (void)out;
        std::vector<QByteArray> storage{QByteArrayLiteral(VC_PLAYS_EXECUTABLE), "--folder",
                                        folder.toLocal8Bit()};
        for (const QString& argument : arguments)
            storage.push_back(argument.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& argument : storage)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    TExportRun run;
    run.Seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    run.PeakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    QFile file(outPath);
    if (file.open(QIODevice::ReadOnly))
        while (!file.readLine().isEmpty())
            ++run.Lines;
    return run;
}

// Ten million plays over 100 days, four displays; one day's export against a tenth of a day's.
void ExportOneDay()
{
    const qint64 total = qEnvironmentVariableIsSet("VC_JOURNAL_EXPORT_ROWS")
                             ? qEnvironmentVariable("VC_JOURNAL_EXPORT_ROWS").toLongLong()
                             : 10000000;
    QTemporaryDir folder;
    const QString path = QDir(folder.path()).filePath(QString(TPlayJournal::FileName));
    sqlite3* database = nullptr;
    sqlite3_open(path.toUtf8().constData(), &database);
    sqlite3_exec(database, JournalSchema::Pragmas, nullptr, nullptr, nullptr);
    sqlite3_exec(database, JournalSchema::Tables, nullptr, nullptr, nullptr);
    sqlite3_exec(database,
                 "INSERT INTO displays(name, output, manufacturer, model, serial) VALUES"
                 "('Bar', 'HDMI-1', 'SAM', 'LS32', ''), ('Lobby', 'HDMI-2', 'SAM', 'LS32', ''),"
                 "('Menu', 'DP-1', 'SAM', 'LS32', ''), ('Door', 'DP-2', 'SAM', 'LS32', '');"
                 "INSERT INTO vitrelles(id, name) VALUES('menu', 'Menu');",
                 nullptr, nullptr, nullptr);
    const QDateTime first(QDate(2026, 1, 1), QTime(0, 0));
    const qint64 step = 100LL * 24 * 3600 * 1000 / total; // 100 days
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(database,
                       "INSERT INTO plays(display, vitrelle, slide, slide_type, appeared_ms, utc_offset_s, "
                       "duration_ms, ended) VALUES(?1, 'menu', ?2, 'Picture', ?3, 3600, ?4, 'next')",
                       -1, &insert, nullptr);
    QElapsedTimer timer;
    timer.start();
    const qint64 base = first.toMSecsSinceEpoch();
    for (qint64 i = 0; i < total; ++i) {
        if (i % 50000 == 0)
            sqlite3_exec(database, "BEGIN", nullptr, nullptr, nullptr);
        const QByteArray slide = "s" + QByteArray::number(i % 40);
        sqlite3_bind_int64(insert, 1, i % 4 + 1);
        sqlite3_bind_text(insert, 2, slide.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(insert, 3, base + i * step);
        sqlite3_bind_int64(insert, 4, step * 4);
        sqlite3_step(insert);
        sqlite3_reset(insert);
        if (i % 50000 == 49999 || i == total - 1)
            sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(database, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close(database);
    std::printf("Filled %lld plays in %.1f s (%.0f MiB)\n", static_cast<long long>(total),
                static_cast<double>(timer.elapsed()) / 1000.0,
                static_cast<double>(DatabaseBytes(path)) / (1024.0 * 1024.0));

    const TExportRun day = RunExport(folder.path(), {"--from", "2026-02-10", "--to", "2026-02-10"});
    const TExportRun hours =
        RunExport(folder.path(), {"--from", "2026-02-10T10:00", "--to", "2026-02-10T12:24"}); // a tenth
    const TExportRun hourly =
        RunExport(folder.path(), {"--from", "2026-02-10", "--to", "2026-02-10", "--hourly"});
    std::printf("\nExport of one day out of %lld plays (VitrellePlays, CSV to a file)\n",
                static_cast<long long>(total));
    std::printf("  %-26s %10s %10s %12s\n", "", "lines", "seconds", "peak MiB");
    std::printf("  %-26s %10lld %10.2f %12.1f\n", "one day", static_cast<long long>(day.Lines), day.Seconds,
                day.PeakMiB);
    std::printf("  %-26s %10lld %10.2f %12.1f\n", "a tenth of that day", static_cast<long long>(hours.Lines),
                hours.Seconds, hours.PeakMiB);
    std::printf("  %-26s %10lld %10.2f %12.1f\n", "the day, --hourly", static_cast<long long>(hourly.Lines),
                hourly.Seconds, hourly.PeakMiB);
    std::printf("  peak memory, day / tenth of day: %.2f (flat: about 1)\n",
                hours.PeakMiB > 0 ? day.PeakMiB / hours.PeakMiB : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nPlay journal against bare SQLite (same pragmas and tables, %d plays)\n", Rows);
    std::printf("  rows per second: journal %.0f, bare %.0f, ratio %.2f (goal >= 0.8)\n", GJournalRate,
                GBareRate, GBareRate > 0 ? GJournalRate / GBareRate : 0.0);
    std::printf("  caller's cost per recorded slide: %.2f us (goal <= 50 us)\n", GRecordMicros);
    std::printf("  database size: %.1f MiB per million plays\n", GMiBPerMillion);
    ExportOneDay();
    return 0;
}
