#pragma once

#include "PlayJournal.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

// The figures the operators' monitoring reads (Prometheus text format, for node_exporter's textfile
// collector): per display its power state as last known, whether it plays, the slides shown and skipped and
// the time of its last swap, the failed serial exchanges; per vitrelle the updates by outcome and the time of
// the last good one; the program's start time and the restarts that followed a crash.
//
// Threads: any; every member takes the lock.
class TPlayMetrics
{
public:
    TPlayMetrics(QDateTime started, qint64 crashRestarts);

    // What a journal record tells: a play is a slide shown, a miss one skipped, a power command the power
    // state (when it succeeded) or a failed serial exchange, an update its outcome.
    void Observe(const TJournalRecord& record);
    void SetPlaying(const QString& display, bool playing);
    // -1: not known.
    void SetPowerState(const QString& display, int on);

    // The text-format exposition, names as Prometheus conventions want them.
    QByteArray Text() const;

private:
    struct TDisplay
    {
        int Power = -1;
        bool Playing = false;
        qint64 Shown = 0;
        qint64 Skipped = 0;
        qint64 SerialFailures = 0;
        qint64 LastSwapMs = 0;
    };
    struct TVitrelle
    {
        qint64 Succeeded = 0;
        qint64 Failed = 0;
        qint64 LastSuccessMs = 0;
    };

    mutable std::mutex FMutex;
    const QDateTime FStarted;
    const qint64 FCrashRestarts;
    std::map<QString, TDisplay> FDisplays;
    std::map<QString, TVitrelle> FVitrelles;
};

// Writes the metrics' text atomically to a file every period on a worker of its own, until destroyed (a last
// time then). A file that cannot be written is logged once at level 2 until it can be again.
class TMetricsFileWriter
{
public:
    static constexpr QLatin1StringView LogSource{"TMetricsFileWriter"};
    static constexpr std::chrono::milliseconds DefaultPeriod{15000};

    TMetricsFileWriter(const TPlayMetrics& metrics, QString path,
                       std::chrono::milliseconds period = DefaultPeriod);
    ~TMetricsFileWriter();
    TMetricsFileWriter(const TMetricsFileWriter&) = delete;
    TMetricsFileWriter& operator=(const TMetricsFileWriter&) = delete;

private:
    void Run();
    void WriteNow();

    const TPlayMetrics& FMetrics;
    const QString FPath;
    const std::chrono::milliseconds FPeriod;
    bool FFailing = false; // worker only
    std::mutex FMutex;
    std::condition_variable FWake;
    bool FStopping = false;
    std::thread FWorker;
};
