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
    // file. Called on the tick worker as well as on the main thread.
    virtual QString GetSourceName() const = 0;
    // A new disabled action of this source for the code, with the source's default time and periodicity;
    // null for a code the source has no action for.
    virtual std::unique_ptr<TScheduleAction> CreateDefaultAction(qint32 actionCode) = 0;
    // A short text naming what the action does, for the log; null is allowed.
    virtual QString GetActionDescription(const TScheduleAction* action) const = 0;
    // Runs on the tick worker with this source's due actions; may remove actions from the list (never free
    // them). Must not call the scheduler nor hand work over to the main thread: the scheduler holds its lock.
    virtual void FilterActions(TScheduleActionList& actions) = 0;
    // Carries the action out on the main thread; true when it succeeded.
    virtual bool ExecuteAction(TScheduleAction* action) = 0;

protected:
    ~IScheduleSource() = default;
};

// The class name of the object behind a source ("TVitrellePlayer"), the log's source for the errors of its
// actions.
QString SourceClassName(const IScheduleSource& source);
