#pragma once

#include <QString>

#include <memory>

class TScheduleAction;
class TScheduleActionList;

// An object on which actions can be scheduled (the agent, a display device, a player, a vitrelle
// downloader). The scheduler never owns a source: the source's owner keeps it alive while it is registered.
class IScheduleSource
{
public:
    // Identifies the source in the scheduler (unique without regard to letter case) and in the schedule
    // file. Called on any of the scheduler's threads: the main thread, the tick worker, the source's lane.
    virtual QString GetSourceName() const = 0;
    // A new disabled action of this source for the code, with the source's default time and periodicity;
    // null for a code the source has no action for.
    virtual std::unique_ptr<TScheduleAction> CreateDefaultAction(qint32 actionCode) = 0;
    // A short text naming what the action does, for the log; null is allowed.
    virtual QString GetActionDescription(const TScheduleAction* action) const = 0;
    // Runs on the tick worker with this source's due actions; may remove actions from the list (never free
    // them). Must not call the scheduler nor hand work over to the main thread: the scheduler holds its lock.
    virtual void FilterActions(TScheduleActionList& actions) = 0;
    // Carries the action out on the source's lane, never the main thread: a worker of the scheduler's on
    // which this source's actions run one at a time and in order, while other sources' actions run on their
    // own lanes. Blocks the lane until the action's work is done; true when it succeeded. The action is the
    // scheduler's copy, valid during the call only. Main-thread work goes through RunOnMainThread; a wait on
    // something slow asks WorkerStopRequested() at least every tenth of a second and gives up when it says so
    // (the source is being unregistered, the scheduler stopped, or the program ends). Tests may call it on
    // the main thread.
    virtual bool ExecuteAction(TScheduleAction* action) = 0;

protected:
    ~IScheduleSource() = default;
};

// The class name of the object behind a source ("TVitrellePlayer"), the log's source for the errors of its
// actions.
QString SourceClassName(const IScheduleSource& source);
