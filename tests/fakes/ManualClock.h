#pragma once

#include "Clock.h"

#include <mutex>

// A clock that stands still until the test moves it; safe to read from worker threads.
class TManualClock : public IClock
{
public:
    explicit TManualClock(QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(8, 0))) : FNow(std::move(now))
    {
    }

    QDateTime Now() const override
    {
        std::lock_guard lock(FMutex);
        return FNow;
    }
    void Set(const QDateTime& now)
    {
        std::lock_guard lock(FMutex);
        FNow = now;
    }
    void AdvanceSeconds(qint64 seconds)
    {
        std::lock_guard lock(FMutex);
        FNow = FNow.addSecs(seconds);
    }

private:
    mutable std::mutex FMutex;
    QDateTime FNow;
};
