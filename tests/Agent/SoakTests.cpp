#include "Soak.h"

#include <QProcess>

#include <gtest/gtest.h>

// Two simulated days on two displays against a server that fails one request in ten and hangs on one in
// fifty, with new content every day: every due action runs exactly once, at the first pass after it is due,
// the shows go on, failed updates leave the cache as it was and successful ones leave no old files behind.
TEST(Soak, TwoDaysAgainstAFlakyServerRunEveryDueActionOnce)
{
    TSoakOptions options;
    options.Days = 2;
    options.Flaky = {0.10, 0.02, std::chrono::milliseconds(1500), 7};
    options.Tolerance = options.Step;
    TSoak soak(options, {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)});
    soak.Start();
    std::vector<qint64> cacheFiles;
    soak.RunSimulated([&](int) { cacheFiles.push_back(soak.CacheFiles()); });
    soak.Finish();

    const TSoakReport report = soak.Report();
    EXPECT_TRUE(report.Faults.isEmpty()) << report.Faults.join("\n").toStdString();
    EXPECT_EQ(report.Total.Due, 2 * (8 + 48));
    EXPECT_EQ(report.Total.Run, report.Total.Due);
    // 60-second slides from 07:00 to 20:00 on one display and from 07:30 to 19:00 on the other.
    EXPECT_GT(report.Swaps, 2 * (13 + 11) * 60 * 9 / 10);
    EXPECT_GT(report.ServerFailures + report.ServerHangs, 0);
    EXPECT_GT(report.UpdatesFailed, 0) << "the server's failures reach the updates";
    EXPECT_GT(report.UpdatesSucceeded, report.UpdatesFailed);
    // The play journal has one row per slide swap (each slide's row is written when it leaves the screen,
    // the last ones at the stop), one per device power command and one per update, none doubled or lost.
    EXPECT_EQ(report.JournalPlays, report.Swaps);
    EXPECT_EQ(report.JournalPowers, report.ByKind.at("display power").Run);
    EXPECT_EQ(report.JournalUpdatesSucceeded, report.UpdatesSucceeded);
    EXPECT_EQ(report.JournalUpdatesFailed, report.UpdatesFailed);
    // The export tool says the same: a line per play in CSV (after its header), an object per play in JSON,
    // and the hours' plays add up to them.
    const auto exported = [&](const QStringList& arguments) {
        QProcess tool;
        tool.start(QStringLiteral(VC_PLAYS_EXECUTABLE),
                   QStringList{"--folder", report.JournalFolder} + arguments);
        EXPECT_TRUE(tool.waitForFinished(60000));
        EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().constData();
        return tool.readAllStandardOutput();
    };
    EXPECT_EQ(exported({}).count('\n') - 1, report.Swaps);
    EXPECT_EQ(exported({"--format", "json"}).count("\n{"), report.Swaps);
    QProcess hourly;
    hourly.start(QStringLiteral(VC_PLAYS_EXECUTABLE), {"--folder", report.JournalFolder, "--hourly"});
    ASSERT_TRUE(hourly.waitForFinished(60000));
    qint64 hourlyPlays = 0;
    for (const QByteArray& line : hourly.readAllStandardOutput().split('\n').mid(1))
        hourlyPlays += line.split(',').value(5).toLongLong();
    EXPECT_EQ(hourlyPlays, report.Swaps);
    ASSERT_EQ(cacheFiles.size(), 2u);
    EXPECT_EQ(cacheFiles[1], cacheFiles[0]) << "each day's content replaces the day before's";
}
