#pragma once

#include <QString>

#include "Clock.h"
#include "ScheduleActionList.h"
#include "ScheduleRunState.h"
#include "ScheduleSource.h"
#include "SleepInhibitor.h"
#include "ThreadLink.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

class TXmlDocument;
class TXmlNode;

// The weekly schedule: the registered sources and their actions, the schedule file, and a tick on a worker
// thread that hands each source's due actions to that source's lane and moves them on once they have run.
//
// Copies (Clone) are for editing: they carry no source pointers. Their actions name their sources, which are
// looked up by name in the live scheduler when needed, so a copy made before a source was freed can neither
// call it nor bring it back into the live scheduler. A copy never ticks; it must not be used once its live
// scheduler is gone.
//
// Threads: everything but the tick and the lanes is called on the main thread. The tick runs on its worker
// and calls FilterActions there (holding the scheduler's lock). Each registered source has a lane, a worker
// of its own made on the main thread when the source first has something to run: the source's due actions of
// one tick run there one at a time, in time order, with ExecuteAction (holding no lock), while other sources'
// actions run on their lanes in parallel and the main thread goes on serving events. A source whose lane is
// still busy is left out of the tick: its due actions stay due and are offered again at a later tick. The
// actions a lane ran, and those the source's filter dropped beside them, move on when the lane's work has
// ended. Actions and sources may be registered, unregistered, added, replaced and cleared meanwhile; an
// action or source removed meanwhile is never touched by that work again (a running action works on a copy).
class TVitrelleScheduler : public IThread
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TVitrelleScheduler"};

    static constexpr std::chrono::milliseconds DefaultTickPeriod{15000};

    // The clock is required (EVitrelleError without one); a null inhibitor holds nothing.
    explicit TVitrelleScheduler(std::shared_ptr<const IClock> clock,
                                std::shared_ptr<ISleepInhibitor> inhibitor = nullptr,
                                std::chrono::milliseconds tickPeriod = DefaultTickPeriod);
    // Stops the tick worker and every lane and waits for them, serving their hand-overs meanwhile.
    ~TVitrelleScheduler();

    TVitrelleScheduler(const TVitrelleScheduler&) = delete;
    TVitrelleScheduler& operator=(const TVitrelleScheduler&) = delete;

    // Ignored for null, a source registered already, and by copies; a source whose name (any letter case) is
    // registered already is ignored with a level-2 line.
    void RegisterSource(IScheduleSource* source);
    // Removes the source and frees its actions. An action of the source that is running is asked to stop
    // (WorkerStopRequested() turns true on its lane) and waited for, serving its lane's hand-overs; after it
    // returns nothing calls the source. Not from within an action of that source.
    void UnregisterSource(IScheduleSource* source);
    // The first registered source with this name, compared without regard to letter case. A copy answers
    // with its stand-in for the live scheduler's source of that name (null when the live one has none).
    IScheduleSource* FindSource(const QString& name) const;
    // The registered sources; empty for a copy.
    std::vector<IScheduleSource*> Sources() const;
    bool IsCopy() const { return FLive != nullptr; }

    // Takes the action over, due today at its time of day, and logs it.
    TScheduleAction* AddAction(std::unique_ptr<TScheduleAction> action);
    // The source's action with the code, created with the source's defaults when there is none yet; null
    // for an unknown source or code. The action stays the scheduler's: the tick may move it on or free it.
    TScheduleAction* GetAction(const QString& sourceName, qint32 actionCode);
    void Clear();

    // Copies of a source's actions, next times included, under its name: for a source about to be replaced
    // by another of the same name (a vitrelle's downloader when the list is loaded again), which takes them
    // over with RestoreActions.
    struct TKeptActions
    {
        QString SourceName;
        std::vector<std::unique_ptr<TScheduleAction>> Actions;
    };
    TKeptActions KeepActionsOf(const IScheduleSource* source) const;
    // Gives kept actions to the source now registered under their name, next times as they were, except the
    // codes that source has actions for already. Dropped when no source has the name, and by copies.
    void RestoreActions(TKeptActions kept);
    // Copies other's actions, each due today at its time of day; in the live scheduler, one that has run at
    // or after that moment (the run state) moves on to its next occurrence instead. Their sources are found
    // by name among this scheduler's own: the live scheduler drops an action whose source is no longer
    // registered, a copy keeps it under its name. The sources themselves are never copied.
    void Assign(const TVitrelleScheduler* other);
    // A source of the live scheduler has been renamed (a display given another name): a copy's actions of
    // the old name stand for the new one from now on; where the copy holds actions under the new name
    // already, those of the old name win. Nothing for the live scheduler, whose sources say their own names.
    void RenameSource(const QString& oldName, const QString& newName);
    // Renames the sources of a schedule file's actions (names compared without regard to letter case),
    // changing nothing else in the file. False, the file untouched, when it is missing, broken or names
    // none of them. Atomic; raises the file layer's errors.
    using TRenames = std::vector<std::pair<QString, QString>>;
    static bool RenameSourcesInFile(const QString& path, const TRenames& renames);
    // The run state's records of renamed sources follow them (in memory and in the state file), so that an
    // Apply of the Schedule page does not run again under the new name what ran today under the old one.
    // Raises the file layer's errors. Nothing for a copy.
    void RenameRunRecords(const TRenames& renames);
    // A copy for editing, bound to the live scheduler (a copy's copy is bound to the same one); it never
    // ticks.
    std::unique_ptr<TVitrelleScheduler> Clone() const;
    // Same actions in the same order (sources compared by name); next times do not count.
    bool Equals(const TVitrelleScheduler* other) const;

    // False, with the schedule unchanged and nothing logged, for a missing, unparsable or foreign file.
    // Actions of sources that are not registered are dropped. Each action is due today at its time of day,
    // unless the run state records that it ran at or after that moment (before a restart): it then moves on
    // to its next occurrence instead of running again.
    bool LoadFromFile(const QString& path);

    // Where the moments at which actions start are recorded (TScheduleRunState: read now, written by the
    // lanes after each action); without a file they are kept in memory only. Call before LoadFromFile.
    void UseStateFile(const QString& path);
    // Atomic: the file is replaced whole or left as it was. Raises the file layer's errors.
    bool SaveToFile(const QString& path) const;

    // Starts the tick worker (a new one when an earlier run has ended); the first tick runs at once. Nothing
    // for a copy.
    void StartTicking();
    // Stops the tick worker and every lane and waits for their end, serving their hand-overs. A running
    // action is asked to stop, the rest of its group does not start, and the group moves on as after any
    // run; a group its lane has not taken yet stays due. Not from within an action.
    void StopTicking();
    bool IsTicking() const;

    // One pass over the actions at the clock's present moment: hands each source's due actions to its lane.
    // On the tick worker it returns at once. Called directly on the main thread (tests, tools) it then
    // serves the main thread's events, except user input, until no lane has work left (the tick worker's
    // included), so the pass's outcome is known when it returns. Nothing for a copy.
    void Tick();
    // True while a lane has work handed over by a tick that has not ended.
    bool ActionsRunning() const;

    // Direct access for schedulers that do not tick (copies, tests); a ticking one changes it meanwhile.
    const TScheduleActionList& Actions() const { return FActions; }
    qsizetype ActionCount() const;

    void ThreadExecute() override;
    void ThreadTerminated() override {}

private:
    struct TSourceGroup;
    class TNamedSource;
    class TLane;

    TVitrelleScheduler(const TVitrelleScheduler& live, std::chrono::milliseconds tickPeriod);
    // A copy's stand-in for the source of this name, made on first use.
    IScheduleSource* NamedSourceLocked(const QString& name) const;
    // The exact name under which the live scheduler has a source of this name (any letter case); empty
    // when none.
    QString RegisteredName(const QString& name) const;

    // Renames the Source attributes of the file's actions; whether any was renamed.
    static bool RenameSources(TXmlDocument& document, const TXmlNode& root, const TRenames& renames);
    IScheduleSource* FindSourceLocked(const QString& name) const;
    bool IsRegisteredLocked(const IScheduleSource* source) const;
    TScheduleAction* AddActionLocked(std::unique_ptr<TScheduleAction> action);
    // Adds the action, due today at its time of day, and logs it; the list is left unsorted.
    TScheduleAction* ScheduleActionLocked(std::unique_ptr<TScheduleAction> action);
    void FilterGroupLocked(TSourceGroup& group);
    // An enabled action that the run state says has run at or after its due moment moves on past that
    // run; false for one of an invalid kind, which runs once and must leave the schedule.
    bool SkipWhatRanLocked(TScheduleAction* action);
    // A lane's work: runs its actions, then moves on those of its group that are still in the schedule.
    void RunGroup(TLane& lane, std::vector<TScheduleAction*> toRun, std::vector<TScheduleAction*> due);
    // The removed actions leave the lanes' groups; Forget... all of them for a schedule replaced whole.
    void ForgetRemovedLocked();
    void ForgetAllLocked();
    // Main thread: starts the worker of each lane that has work and none yet.
    void StartLanes();
    TLane* LaneLocked(const IScheduleSource* source) const;
    // Main thread: asks the lanes of the sources to stop, all at once, then waits for each in turn.
    void StopLanes(const std::vector<const IScheduleSource*>& sources);
    // Main thread: stops the lane and waits for its worker, serving its hand-overs; it can run again later.
    void JoinLane(TLane& lane);
    bool StopRequested(const TThreadLink& link);

    const TVitrelleScheduler* const FLive = nullptr; // copies only: the live scheduler
    const std::shared_ptr<const IClock> FClock;
    const std::shared_ptr<ISleepInhibitor> FInhibitor;
    const std::chrono::milliseconds FTickPeriod;

    mutable std::mutex FMutex; // guards the actions (list and content), the sources and the lanes' state
    TScheduleActionList FActions{true};
    std::vector<IScheduleSource*> FSources;                           // live scheduler only
    mutable std::vector<std::unique_ptr<TNamedSource>> FNamedSources; // copies only
    // One per registered source (live scheduler only); freed on the main thread only.
    std::unordered_map<const IScheduleSource*, std::unique_ptr<TLane>> FLanes;
    std::condition_variable FLaneWake; // with FMutex: work for a lane, or a lane asked to stop

    TScheduleRunState FRunState;

    std::mutex FWaitMutex; // guards FStopRequested
    std::condition_variable FWakeUp;
    bool FStopRequested = false;

    std::unique_ptr<TThreadLink> FLink;
};
