#pragma once

#include "Errors.h"
#include "ScheduleActionList.h"
#include "ScheduleSource.h"
#include "ThreadLink.h"

#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// A schedule source that records what the scheduler asks of it. Its filter behaves like the power and play
// sources (the first of exactly two due actions is removed) or like a downloader without a connection.
class TTestSource : public IScheduleSource
{
public:
    enum class TFilter
    {
        KeepAll,
        FirstOfTwo,
        AllWhileOffline
    };

    explicit TTestSource(QString name, TFilter filter = TFilter::KeepAll)
        : Name(std::move(name)), Filter(filter)
    {
    }

    QString GetSourceName() const override { return Noted(Name); }
    std::unique_ptr<TScheduleAction> CreateDefaultAction(qint32 code) override
    {
        if (code != 0 && code != 1)
            return nullptr;
        return TScheduleAction::CreateAction(this, code, 0, code == 0 ? QTime(8, 0) : QTime(23, 0), false);
    }
    QString GetActionDescription(const TScheduleAction* action) const override
    {
        return Noted(action == nullptr ? QString() : QStringLiteral("Test action %1").arg(action->Action));
    }
    void FilterActions(TScheduleActionList& actions) override
    {
        Noted(Name);
        ++FilterCalls;
        if (ThrowInFilter)
            throw EVitrelleError("filter failed");
        if (Filter == TFilter::FirstOfTwo && actions.Count() == 2)
            actions.Delete(0);
        if (Filter == TFilter::AllWhileOffline && Offline)
            actions.Clear();
    }
    bool ExecuteAction(TScheduleAction* action) override
    {
        Noted(Name);
        {
            std::lock_guard lock(Mutex);
            Executed.push_back(action->Action);
            ExecutedOn.push_back(QThread::currentThread());
        }
        if (action->Action == BlockOnCode) {
            // A slow exchange: it waits for the test, or gives up when its lane is asked to stop.
            Blocking = true;
            while (!Released && !WorkerStopRequested())
                QThread::msleep(1);
            Blocking = false;
            if (!Released) {
                SawStop = true;
                if (OnStop)
                    OnStop();
                throw EVitrelleError(QStringLiteral("%1 gave up").arg(Name));
            }
        }
        ++Finished;
        if (action->Action == ThrowOnCode)
            throw EVitrelleError(QStringLiteral("Serial port of %1 is not open").arg(Name));
        return true;
    }

    std::vector<int> ExecutedCodes() const
    {
        std::lock_guard lock(Mutex);
        return Executed;
    }
    std::vector<QThread*> ExecutionThreads() const
    {
        std::lock_guard lock(Mutex);
        return ExecutedOn;
    }

    QString Name; // may be changed between ticks, as a display is renamed
    const TFilter Filter;
    std::atomic<bool> Offline{false}, ThrowInFilter{false};
    std::atomic<int> ThrowOnCode{-1000}, FilterCalls{0};
    // An action of this code blocks until Released, or until its lane is asked to stop (then OnStop runs
    // on the lane and the action raises).
    std::atomic<int> BlockOnCode{-1000}, Finished{0};
    std::atomic<bool> Released{false}, Blocking{false}, SawStop{false};
    std::function<void()> OnStop;
    // Set once the source is unregistered: any later call is a fault of the scheduler.
    std::atomic<bool> Gone{false};
    mutable std::atomic<int> CallsWhileGone{0};

private:
    QString Noted(const QString& answer) const
    {
        if (Gone)
            ++CallsWhileGone;
        return answer;
    }

    mutable std::mutex Mutex;
    std::vector<int> Executed;
    std::vector<QThread*> ExecutedOn;
};

inline std::unique_ptr<TScheduleAction> MakeAction(TTestSource& source, qint32 code, quint8 kind, QTime time,
                                                   bool enabled = true)
{
    return TScheduleAction::CreateAction(&source, code, kind, time, enabled);
}

// December 2026: Thursday 3, Friday 4, Saturday 5, Sunday 6, Monday 7.
inline QDateTime At(int day, int hour, int minute = 0, int second = 0, int month = 12)
{
    return QDateTime(QDate(2026, month, day), QTime(hour, minute, second));
}
