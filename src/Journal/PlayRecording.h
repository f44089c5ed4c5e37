#pragma once

#include "PlayJournal.h"
#include "PlayMetrics.h"

#include <QString>

#include <memory>
#include <mutex>

// The program's recorder: every record goes to the play journal in the application folder and to the
// metrics, whose file is written when one is set. Made by main before anything is shown, so the run's start
// is the first record and its end the last.
//
// Threads: any.
class TPlayRecording : public IPlayRecorder
{
public:
    // The journal's file in the application folder; afterCrash: the previous run did not end in order.
    TPlayRecording(const QString& applicationFolder, bool afterCrash, TPlayJournal::TOptions options = {});
    // Records the run's end and writes what is queued.
    ~TPlayRecording() override;
    TPlayRecording(const TPlayRecording&) = delete;
    TPlayRecording& operator=(const TPlayRecording&) = delete;

    void Record(TJournalRecord record) override;
    // Where the metrics file goes; empty: none (the default).
    void SetMetricsFile(const QString& path);

    TPlayJournal& Journal() { return *FJournal; }
    TPlayMetrics& Metrics() { return *FMetrics; }

    // Starts after a crash that the journal at this path records.
    static qint64 CrashRestarts(const QString& journalPath);

private:
    std::unique_ptr<TPlayMetrics> FMetrics;
    std::unique_ptr<TPlayJournal> FJournal;
    std::mutex FMutex; // guards FMetricsFile
    std::unique_ptr<TMetricsFileWriter> FMetricsFile;
};
