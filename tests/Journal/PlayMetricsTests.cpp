#include "LogCapture.h"
#include "PlayMetrics.h"
#include "TestFiles.h"

#include <QFile>

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;

TJournalDisplay Display(const QString& name)
{
    return TJournalDisplay{name, QStringLiteral("HDMI-1"), QString(), QString(), QString()};
}

QStringList Samples(const QByteArray& text)
{
    QStringList samples;
    for (const QByteArray& line : text.split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            samples << QString::fromUtf8(line);
    return samples;
}

} // namespace

// What the monitoring reads after a morning: counters per display and vitrelle, the power state only from a
// command that succeeded, names that could break the format escaped.
TEST(PlayMetrics, CountsWhatTheRecordsTellInTheTextFormat)
{
    const QDateTime started = QDateTime::fromSecsSinceEpoch(1765180800);
    TPlayMetrics metrics(started, 2);
    const QString bar = QStringLiteral("Bar \"north\"\\1");
    for (int i = 0; i < 3; ++i)
        metrics.Observe(TPlayRecord{Display(bar), "menu", "Menu", "s1", "Picture", started.addSecs(10 * i),
                                    10000, "next"});
    metrics.Observe(TMissRecord{Display(bar), "menu", "s2", started, "not ready"});
    metrics.Observe(TPowerRecord{Display("Lobby"), true, "schedule", true, QString(), started});
    metrics.Observe(TPowerRecord{Display("Lobby"), false, "operator", false, "timeout", started});
    metrics.Observe(TUpdateRecord{"menu", true, 2, 100, QString(), started.addSecs(60)});
    metrics.Observe(TUpdateRecord{"menu", false, 0, 0, "503", started.addSecs(120)});
    metrics.SetPlaying(bar, true);

    const QStringList samples = Samples(metrics.Text());
    const QString barLabel = QStringLiteral("{display=\"Bar \\\"north\\\"\\\\1\"}");
    for (const QString& expected : QStringList{
             "vitrelle_slides_shown_total" + barLabel + " 3",
             "vitrelle_slides_skipped_total" + barLabel + " 1", "vitrelle_display_playing" + barLabel + " 1",
             "vitrelle_display_power_state" + barLabel + " -1",
             "vitrelle_display_last_swap_timestamp_seconds" + barLabel + " 1765180830.000",
             QStringLiteral("vitrelle_display_power_state{display=\"Lobby\"} 1"),
             QStringLiteral("vitrelle_serial_exchanges_failed_total{display=\"Lobby\"} 1"),
             QStringLiteral("vitrelle_updates_total{vitrelle=\"menu\",outcome=\"succeeded\"} 1"),
             QStringLiteral("vitrelle_updates_total{vitrelle=\"menu\",outcome=\"failed\"} 1"),
             QStringLiteral(
                 "vitrelle_last_successful_update_timestamp_seconds{vitrelle=\"menu\"} 1765180860.000"),
             QStringLiteral("vitrelle_start_time_seconds 1765180800.000"),
             QStringLiteral("vitrelle_crash_restarts_total 2")})
        EXPECT_TRUE(samples.contains(expected)) << expected.toStdString() << "\n"
                                                << samples.join('\n').toStdString();
}

TEST(PlayMetrics, TheFileIsRewrittenWholeEveryPeriodAndAnUnwritablePathIsLoggedOnce)
{
    TTempFolder folder;
    TPlayMetrics metrics(QDateTime::currentDateTime(), 0);
    const QString path = folder.File("vitrelle.prom");
    {
        TMetricsFileWriter writer(metrics, path, 20ms);
        metrics.SetPlaying(QStringLiteral("Bar"), true);
        // A later round writes what changed after the first.
        QByteArray content;
        for (int i = 0; i < 500 && !content.contains("vitrelle_display_playing{display=\"Bar\"} 1"); ++i) {
            std::this_thread::sleep_for(10ms);
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                content = file.readAll();
        }
        EXPECT_TRUE(content.contains("vitrelle_display_playing{display=\"Bar\"} 1")) << content.constData();
    }
    EXPECT_EQ(folder.Entries(), QStringList{"vitrelle.prom"}) << "no temporary file left";

    TLogCapture log;
    {
        // Its first round, then its last one when it goes.
        TMetricsFileWriter writer(metrics, folder.File("missing/folder/vitrelle.prom"), 10ms);
    }
    EXPECT_EQ(log.Lines().filter(QStringLiteral("cannot be written")).size(), 1)
        << log.Lines().join('\n').toStdString();
}
