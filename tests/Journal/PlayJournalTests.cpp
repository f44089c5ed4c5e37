#include "LogCapture.h"
#include "ManualClock.h"
#include "PlayJournal.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// The database as the export tool sees it: read-only, beside the writer.
class TReader
{
public:
    explicit TReader(const QString& path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &FDatabase, SQLITE_OPEN_READONLY, nullptr) !=
            SQLITE_OK)
            ADD_FAILURE() << "cannot open " << path.toStdString();
    }
    ~TReader() { sqlite3_close_v2(FDatabase); }

    // The rows of the query, columns joined with '|'.
    QStringList Rows(const char* sql) const
    {
        QStringList rows;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(FDatabase, sql, -1, &statement, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sql << ": " << sqlite3_errmsg(FDatabase);
            return rows;
        }
        while (sqlite3_step(statement) == SQLITE_ROW) {
            QStringList columns;
            for (int i = 0; i < sqlite3_column_count(statement); ++i)
                columns << QString::fromUtf8(
                    reinterpret_cast<const char*>(sqlite3_column_text(statement, i)));
            rows << columns.join(QLatin1Char('|'));
        }
        sqlite3_finalize(statement);
        return rows;
    }
    qint64 Count(const char* table) const
    {
        const QStringList rows =
            Rows(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table)).toUtf8());
        return rows.isEmpty() ? -1 : rows.first().toLongLong();
    }

private:
    sqlite3* FDatabase = nullptr;
};

const TJournalDisplay Lobby{QStringLiteral("Lobby"), QStringLiteral("HDMI-1"), QStringLiteral("SAM"),
                            QStringLiteral("LS32"), QStringLiteral("H4ZN")};

TPlayRecord Play(int slide, const QDateTime& at, qint64 duration = 10000)
{
    return TPlayRecord{Lobby,
                       QStringLiteral("menu"),
                       QStringLiteral("Menu"),
                       QStringLiteral("s%1").arg(slide),
                       QStringLiteral("Picture"),
                       at,
                       duration,
                       QStringLiteral("next")};
}

TPlayJournal::TOptions Options(std::shared_ptr<const IClock> clock = nullptr)
{
    TPlayJournal::TOptions options;
    options.FlushPeriod = 50ms;
    options.Clock = std::move(clock);
    return options;
}

// Runs the body in a child process and gives its exit status; the body's own failures end it with 1.
int InChild(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

} // namespace

TEST(PlayJournal, KeepsEveryKindOfRecordWithItsUtcMomentAndLocalOffset)
{
    TTempFolder folder;
    const QString path = folder.File(QString(TPlayJournal::FileName));
    const QDateTime appeared(QDate(2026, 7, 1), QTime(9, 30), QTimeZone(2 * 3600));
    {
        TPlayJournal journal(path, Options());
        // From several threads at once, as the displays' swaps, the serial workers and the lanes record.
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&journal, appeared, t] {
                for (int i = 0; i < 250; ++i)
                    journal.Record(Play(t * 1000 + i, appeared));
            });
        for (std::thread& thread : threads)
            thread.join();
        journal.Record(TMissRecord{Lobby, QStringLiteral("menu"), QStringLiteral("s9"), appeared,
                                   QStringLiteral("not ready")});
        journal.Record(TPowerRecord{Lobby, true, QStringLiteral("schedule"), false, QStringLiteral("timeout"),
                                    appeared});
        journal.Record(TUpdateRecord{QStringLiteral("menu"), true, 3, 4096, QString(), appeared});
        journal.Record(TRunRecord{QStringLiteral("start"), true, appeared});
        journal.Flush();
        EXPECT_EQ(journal.Written(), 1004);

        // Read while the writer holds its database open.
        const TReader reader(path);
        EXPECT_EQ(reader.Count("plays"), 1000);
        EXPECT_EQ(reader.Rows("SELECT name, output, manufacturer, model, serial FROM displays"),
                  QStringList{"Lobby|HDMI-1|SAM|LS32|H4ZN"})
            << "one display row, however many plays";
        EXPECT_EQ(
            reader.Rows("SELECT vitrelle, slide, slide_type, appeared_ms, utc_offset_s, duration_ms, ended "
                        "FROM plays WHERE slide = 's3'"),
            QStringList{
                QStringLiteral("menu|s3|Picture|%1|7200|10000|next").arg(appeared.toMSecsSinceEpoch())});
        EXPECT_EQ(reader.Rows("SELECT * FROM vitrelles"), QStringList{"menu|Menu"});
        EXPECT_EQ(reader.Rows("SELECT slide, reason FROM misses"), QStringList{"s9|not ready"});
        EXPECT_EQ(reader.Rows("SELECT command, origin, outcome, reply FROM power"),
                  QStringList{"on|schedule|failed|timeout"});
        EXPECT_EQ(reader.Rows("SELECT vitrelle, outcome, files, bytes FROM updates"),
                  QStringList{"menu|succeeded|3|4096"});
        EXPECT_EQ(reader.Rows("SELECT event, after_crash FROM runs"), QStringList{"start|1"});
    }
    // What is queued when the program ends is written before it goes.
    {
        TPlayJournal journal(path, Options());
        journal.Record(TRunRecord{QStringLiteral("end"), false, appeared});
    }
    EXPECT_EQ(TReader(path).Rows("SELECT event FROM runs ORDER BY id"), (QStringList{"start", "end"}));
}

TEST(PlayJournal, PrunesWhatIsOlderThanTheRetentionOnceADay)
{
    TTempFolder folder;
    const QString path = folder.File(QString(TPlayJournal::FileName));
    auto clock = std::make_shared<TManualClock>(QDateTime(QDate(2026, 12, 8), QTime(12, 0)));
    TPlayJournal::TOptions options = Options(clock);
    options.RetentionDays = 400;
    TPlayJournal journal(path, options);
    const QDateTime now = clock->Now();
    journal.Record(Play(1, now.addDays(-401)));
    journal.Record(Play(2, now.addDays(-399)));
    journal.Record(
        TPowerRecord{Lobby, false, QStringLiteral("operator"), true, QString(), now.addDays(-500)});
    journal.Record(
        TUpdateRecord{QStringLiteral("menu"), false, 0, 0, QStringLiteral("503"), now.addDays(-1)});
    journal.Flush();
    journal.Prune();
    const TReader reader(path);
    EXPECT_EQ(reader.Rows("SELECT slide FROM plays"), QStringList{"s2"});
    EXPECT_EQ(reader.Count("power"), 0);
    EXPECT_EQ(reader.Count("updates"), 1);

    // The next day's first batch prunes by itself.
    clock->AdvanceSeconds(2 * 24 * 3600);
    journal.Record(Play(3, clock->Now()));
    journal.Flush();
    EXPECT_EQ(reader.Rows("SELECT slide FROM plays ORDER BY id"), QStringList{"s3"});
}

struct TBrokenCase
{
    const char* Name;
    // Spoils the database file at the path.
    std::function<void(const QString&)> Spoil;
};

class BrokenJournal : public ::testing::TestWithParam<TBrokenCase>
{
};

// A database that no longer opens costs its records, never the show: it is moved aside, a new one starts.
TEST_P(BrokenJournal, IsMovedAsideAndANewOneStarted)
{
    TTempFolder folder;
    const QString path = folder.File(QString(TPlayJournal::FileName));
    {
        TPlayJournal journal(path, Options());
        for (int i = 0; i < 500; ++i)
            journal.Record(Play(i, QDateTime::currentDateTime()));
    }
    GetParam().Spoil(path);

    TLogCapture log;
    {
        TPlayJournal journal(path, Options());
        journal.Record(Play(1000, QDateTime::currentDateTime()));
        journal.Flush();
        EXPECT_EQ(journal.Written(), 1);
        EXPECT_FALSE(journal.Paused());
    }
    EXPECT_EQ(TReader(path).Rows("SELECT slide FROM plays"), QStringList{"s1000"});
    EXPECT_EQ(TReader(path).Rows("PRAGMA integrity_check"), QStringList{"ok"});
    const QStringList aside = QDir(folder.Path()).entryList({QStringLiteral("*.broken-*")});
    EXPECT_EQ(aside.size(), 1) << "the damaged file is kept for whoever wants to look at it";
    EXPECT_EQ(log.Lines().filter(QStringLiteral("[1]")).size(), 1) << log.Lines().join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Files, BrokenJournal,
                         ::testing::Values(TBrokenCase{"NotADatabase",
                                                       [](const QString& path) {
                                                           QFile file(path);
                                                           ASSERT_TRUE(file.open(QIODevice::WriteOnly |
                                                                                 QIODevice::Truncate));
                                                           file.write(QByteArray(8192, 'x'));
                                                       }},
                                           TBrokenCase{"HeaderOverwritten",
                                                       [](const QString& path) {
                                                           QFile file(path);
                                                           ASSERT_TRUE(file.open(QIODevice::ReadWrite));
                                                           file.write(QByteArray(100, '\x7f'));
                                                       }}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A full disk pauses the journal with one line and keeps its records until the disk has room again; the
// records are neither lost nor written twice. The child's file size limit stands for the full disk.
TEST(PlayJournal, AFullDiskPausesTheJournalAndItCatchesUpLater)
{
    TTempFolder folder;
    const QString path = folder.File(QString(TPlayJournal::FileName));
    const int status = InChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        TLogCapture log;
        TPlayJournal journal(path, Options());
        journal.Record(Play(0, QDateTime::currentDateTime()));
        journal.Flush(); // the tables exist
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t unlimited = limit.rlim_cur;
        limit.rlim_cur = static_cast<rlim_t>(QFileInfo(path).size() + QFileInfo(path + "-wal").size());
        ::setrlimit(RLIMIT_FSIZE, &limit);
        for (int i = 1; i <= 3000; ++i)
            journal.Record(Play(i, QDateTime::currentDateTime()));
        journal.Flush();
        journal.Flush();
        if (!journal.Paused())
            return 2;
        limit.rlim_cur = unlimited;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        journal.Flush();
        if (journal.Paused() || journal.Written() != 3001)
            return 3;
        const QStringList lines = log.Lines();
        if (lines.filter(QStringLiteral("pauses")).size() != 1 ||
            lines.filter(QStringLiteral("written again")).size() != 1)
            return 4;
        return 0;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: never paused, 3: did not catch up, 4: not one line each";
    const TReader reader(path);
    EXPECT_EQ(reader.Count("plays"), 3001);
    EXPECT_EQ(reader.Rows("SELECT count(DISTINCT slide) FROM plays"), QStringList{"3001"});
}

// Killed at random moments while it writes: the database always opens whole, and everything the journal
// had reported written before the kill is still there.
TEST(PlayJournal, AKillLosesAtMostTheBatchNotWrittenYet)
{
    TTempFolder folder;
    const QString path = folder.File(QString(TPlayJournal::FileName));
    qint64 before = 0;
    const int kills = qEnvironmentVariableIntValue("VC_CRASH_KILLS") > 0
                          ? qEnvironmentVariableIntValue("VC_CRASH_KILLS")
                          : 10;
    for (int kill = 0; kill < kills; ++kill) {
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipe[0]);
            TPlayJournal journal(path, Options());
            for (int i = 0;; ++i) {
                journal.Record(Play(i, QDateTime::currentDateTime()));
                if (i % 200 == 199) {
                    journal.Flush();
                    const qint64 written = journal.Written();
                    [[maybe_unused]] const ssize_t sent = ::write(pipe[1], &written, sizeof written);
                }
            }
        }
        ::close(pipe[1]);
        // Once it has written its first batch, at a random moment after.
        qint64 value = 0;
        const bool started = ::read(pipe[0], &value, sizeof value) == sizeof value;
        std::this_thread::sleep_for(std::chrono::milliseconds(QRandomGenerator::global()->bounded(0, 300)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ASSERT_TRUE(started);
        qint64 reported = value;
        while (::read(pipe[0], &value, sizeof value) == sizeof value)
            reported = value;
        ::close(pipe[0]);

        const TReader reader(path);
        ASSERT_EQ(reader.Rows("PRAGMA integrity_check"), QStringList{"ok"}) << "after kill " << kill;
        const qint64 rows = reader.Count("plays");
        EXPECT_GE(rows, before + reported) << "after kill " << kill;
        before = rows;
    }
}
