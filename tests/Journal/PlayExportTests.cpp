// The export tool as an operator runs it, over a journal the program wrote.
#include "PlayJournal.h"
#include "TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sqlite3.h>

namespace {

struct TRun
{
    int ExitCode = -1;
    QString Out;
    QString Error;
};

TRun RunPlays(const QStringList& arguments)
{
    QProcess tool;
    tool.start(QStringLiteral(VC_PLAYS_EXECUTABLE), arguments);
    tool.waitForFinished(30000);
    return TRun{tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
                QString::fromUtf8(tool.readAllStandardOutput()),
                QString::fromUtf8(tool.readAllStandardError())};
}

const QTimeZone Paris(3600);

TPlayRecord Play(const QString& display, const QString& vitrelle, const QString& slide, QTime at,
                 qint64 durationMs, QDate day = QDate(2026, 12, 7))
{
    return TPlayRecord{TJournalDisplay{display, QStringLiteral("HDMI-1"), QStringLiteral("SAM"),
                                       QStringLiteral("LS32"), QString()},
                       vitrelle,
                       vitrelle == QLatin1String("menu") ? QStringLiteral("Menu, winter")
                                                         : QStringLiteral("Lobby"),
                       slide,
                       QStringLiteral("Picture"),
                       QDateTime(day, at, Paris),
                       durationMs,
                       QStringLiteral("next")};
}

class PlayExport : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TPlayJournal journal(Folder.File(QString(TPlayJournal::FileName)), {});
        journal.Record(Play("Bar", "menu", "s1", QTime(9, 59, 50), 20000)); // crosses 10:00
        journal.Record(Play("Bar", "menu", "s2", QTime(10, 0, 10), 10000));
        journal.Record(Play("Lobby", "lobby", "l1", QTime(10, 30), 15000));
        journal.Record(Play("Bar", "menu", "s1", QTime(9, 0), 10000, QDate(2026, 12, 8)));
    }

    QStringList Lines(const TRun& run) const { return run.Out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    QString FolderPath() const { return Folder.Path(); }

    TTempFolder Folder;
};

} // namespace

TEST_F(PlayExport, SelectsByDayDisplayAndVitrelle)
{
    struct TCase
    {
        QStringList Arguments;
        QStringList Slides; // in order
    };
    const TCase cases[] = {
        {{}, {"s1", "s2", "l1", "s1"}},
        {{"--from", "2026-12-07", "--to", "2026-12-07"}, {"s1", "s2", "l1"}},
        {{"--from", "2026-12-07T10:00+01:00"}, {"s2", "l1", "s1"}},
        {{"--to", "2026-12-07T10:00:10+01:00"}, {"s1"}},
        {{"--display", "lobby"}, {"l1"}},
        {{"--vitrelle", "menu", "--to", "2026-12-07"}, {"s1", "s2"}},
    };
    for (const TCase& test : cases) {
        const TRun run = RunPlays(QStringList{"--folder", FolderPath()} + test.Arguments);
        ASSERT_EQ(run.ExitCode, 0) << run.Error.toStdString();
        const QStringList lines = Lines(run);
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lines.first(),
                  "display,output,manufacturer,model,serial,vitrelle_id,vitrelle_name,slide_id,"
                  "slide_type,appeared,appeared_utc,duration_ms,ended");
        QStringList slides;
        for (qsizetype i = 1; i < lines.size(); ++i)
            slides << lines[i].section(QStringLiteral(",Picture,"), 0, 0).section(QLatin1Char(','), -1);
        EXPECT_EQ(slides, test.Slides) << test.Arguments.join(' ').toStdString();
    }
    const TRun all =
        RunPlays({"--folder", FolderPath(), "--display", "Bar", "--to", "2026-12-07T10:00+01:00"});
    EXPECT_EQ(Lines(all).value(1), "Bar,HDMI-1,SAM,LS32,,menu,\"Menu, winter\",s1,Picture,"
                                   "2026-12-07T09:59:50.000+01:00,2026-12-07T08:59:50.000Z,20000,next");
}

TEST_F(PlayExport, HourlySplitsAPlayAtTheHourAndJsonCarriesTheSameRows)
{
    const TRun run = RunPlays({"--folder", FolderPath(), "--hourly", "--to", "2026-12-07"});
    ASSERT_EQ(run.ExitCode, 0) << run.Error.toStdString();
    EXPECT_EQ(Lines(run), (QStringList{"hour,display,vitrelle_id,vitrelle_name,slide_id,plays,seconds",
                                       "2026-12-07T09:00:00.000+01:00,Bar,menu,\"Menu, winter\",s1,1,10.000",
                                       "2026-12-07T10:00:00.000+01:00,Bar,menu,\"Menu, winter\",s1,0,10.000",
                                       "2026-12-07T10:00:00.000+01:00,Bar,menu,\"Menu, winter\",s2,1,10.000",
                                       "2026-12-07T10:00:00.000+01:00,Lobby,lobby,Lobby,l1,1,15.000"}));

    const TRun json = RunPlays({"--folder", FolderPath(), "--format", "json"});
    ASSERT_EQ(json.ExitCode, 0) << json.Error.toStdString();
    QJsonParseError error{};
    const QJsonArray rows = QJsonDocument::fromJson(json.Out.toUtf8(), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.Out.toStdString();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0].toObject()["vitrelle_name"].toString(), "Menu, winter");
    EXPECT_EQ(rows[0].toObject()["duration_ms"].toInteger(), 20000);
}

TEST_F(PlayExport, RefusesWhatItCannotAnswerWithAClearMessage)
{
    struct TCase
    {
        QStringList Arguments;
        int ExitCode;
        const char* Message;
    };
    const TTempFolder empty;
    const TCase cases[] = {
        {{"--from", "yesterday"}, 2, "no ISO 8601 day"},
        {{"--to", "2026-02-30"}, 2, "no ISO 8601 day"},
        {{"--format", "xml"}, 2, "unknown format"},
        {{"--display", "Kitchen"}, 1, "knows no display 'Kitchen'"},
        {{"--folder", empty.Path()}, 1, "No play journal at"},
    };
    for (const TCase& test : cases) {
        QStringList arguments = test.Arguments;
        if (!arguments.contains("--folder"))
            arguments = QStringList{"--folder", FolderPath()} + arguments;
        const TRun run = RunPlays(arguments);
        EXPECT_EQ(run.ExitCode, test.ExitCode) << test.Arguments.join(' ').toStdString();
        EXPECT_TRUE(run.Error.contains(QLatin1String(test.Message))) << run.Error.toStdString();
        EXPECT_TRUE(run.Out.isEmpty());
    }

    // A writer that keeps the database to itself: the tool says so instead of waiting for ever.
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(Folder.File(QString(TPlayJournal::FileName)).toUtf8().constData(), &holder),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; DELETE FROM runs;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const TRun locked = RunPlays({"--folder", FolderPath()});
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(locked.ExitCode, 1);
    EXPECT_TRUE(locked.Error.contains(QLatin1String("is locked by another program")))
        << locked.Error.toStdString();
}
