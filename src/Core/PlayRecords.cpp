#include "PlayRecords.h"

#include <mutex>

namespace {
std::mutex RecorderMutex;
std::shared_ptr<IPlayRecorder> Recorder; // guarded by RecorderMutex
} // namespace

void SetPlayRecorder(std::shared_ptr<IPlayRecorder> recorder)
{
    std::lock_guard lock(RecorderMutex);
    Recorder = std::move(recorder);
}

std::shared_ptr<IPlayRecorder> PlayRecorder()
{
    std::lock_guard lock(RecorderMutex);
    return Recorder;
}

void RecordPlayEvent(TJournalRecord record)
{
    if (const std::shared_ptr<IPlayRecorder> recorder = PlayRecorder())
        recorder->Record(std::move(record));
}
