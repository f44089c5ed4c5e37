#pragma once

#include "SteadyClock.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <vector>

// Monotonic time that passes only when the test moves it, so a test decides exactly when the slide clock
// ticks. Free running, every wait returns at once with the time moved to its end: hundreds of slides in
// moments. Safe to use from any thread.
class TManualSteadyClock : public ISteadyClock
{
public:
    explicit TManualSteadyClock(bool freeRunning = false) : FFreeRunning(freeRunning) {}

    std::chrono::milliseconds Now() const override
    {
        std::lock_guard lock(FMutex);
        ++FReads;
        return FNow;
    }

    void WaitUntil(std::chrono::milliseconds moment, const std::function<bool()>& stopRequested) override
    {
        std::unique_lock lock(FMutex);
        ++FWaits;
        if (FFreeRunning) {
            FNow = std::max(FNow, moment);
            return;
        }
        FDeadlines.push_back(moment);
        const auto seen = FSeenWakes.insert(FSeenWakes.end(), FWakes);
        FChanged.wait(lock, [&] {
            *seen = FWakes;
            return FNow >= moment || stopRequested();
        });
        FSeenWakes.erase(seen);
        FDeadlines.erase(std::find(FDeadlines.begin(), FDeadlines.end(), moment));
    }

    void Wake() override
    {
        {
            const std::lock_guard lock(FMutex);
            ++FWakes;
        }
        FChanged.notify_all();
    }

    void Set(std::chrono::milliseconds now)
    {
        {
            std::lock_guard lock(FMutex);
            FNow = now;
        }
        FChanged.notify_all();
    }
    void Advance(std::chrono::milliseconds by)
    {
        {
            std::lock_guard lock(FMutex);
            FNow += by;
        }
        FChanged.notify_all();
    }

    // The number of times the time has been read through Now().
    int Reads() const
    {
        std::lock_guard lock(FMutex);
        return FReads;
    }
    // The number of waits begun so far.
    int Waits() const
    {
        std::lock_guard lock(FMutex);
        return FWaits;
    }
    // The number of workers waiting now that have tested their stop request since the last Wake (a worker
    // woken to end is not counted until it has seen that it should).
    int WaitingAwake() const
    {
        std::lock_guard lock(FMutex);
        return static_cast<int>(std::count(FSeenWakes.begin(), FSeenWakes.end(), FWakes));
    }
    // The earliest moment a worker waits for now; none while nobody waits.
    std::optional<std::chrono::milliseconds> NextDeadline() const
    {
        std::lock_guard lock(FMutex);
        if (FDeadlines.empty())
            return std::nullopt;
        return *std::min_element(FDeadlines.begin(), FDeadlines.end());
    }

private:
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    std::chrono::milliseconds FNow{0};
    const bool FFreeRunning;
    int FWaits = 0;
    mutable int FReads = 0;
    std::vector<std::chrono::milliseconds> FDeadlines;
    std::uint64_t FWakes = 0; // calls of Wake so far
    std::list<std::uint64_t>
        FSeenWakes; // per waiter: the Wake calls it had seen when it last tested its stop
};
