#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

// Monotonic time for the slide clock, and the wait between its ticks. Unlike the wall clock it never jumps,
// so setting the system's time cannot freeze the show or rush through its slides. Injectable, so that tests
// and benchmarks decide when time passes. Safe to use from any thread.
class ISteadyClock
{
public:
    virtual ~ISteadyClock() = default;

    // Milliseconds since some fixed moment.
    virtual std::chrono::milliseconds Now() const = 0;
    // Blocks the calling worker until Now() reaches the moment or stopRequested() holds. stopRequested is
    // tested under the clock's lock: whoever makes it hold calls Wake() afterwards.
    virtual void WaitUntil(std::chrono::milliseconds moment, const std::function<bool()>& stopRequested) = 0;
    // Makes every waiter test its stopRequested again.
    virtual void Wake() = 0;
};

// The machine's monotonic clock.
class TSystemSteadyClock : public ISteadyClock
{
public:
    std::chrono::milliseconds Now() const override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
    void WaitUntil(std::chrono::milliseconds moment, const std::function<bool()>& stopRequested) override
    {
        std::unique_lock lock(FMutex);
        FWakeUp.wait_until(lock, std::chrono::steady_clock::time_point(moment), stopRequested);
    }
    void Wake() override
    {
        // Taken and released so that a waiter between its test and its wait cannot miss the wake-up.
        {
            const std::lock_guard lock(FMutex);
        }
        FWakeUp.notify_all();
    }

private:
    std::mutex FMutex;
    std::condition_variable FWakeUp;
};
