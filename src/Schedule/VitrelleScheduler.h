#pragma once

#include <QString>

#include "Clock.h"
#include "ScheduleActionList.h"
#include "ScheduleSource.h"
#include "SleepInhibitor.h"
#include "ThreadLink.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

class TVitrelleCenterAgent;
class TXmlDocument;
class TXmlNode;

// The weekly schedule: the registered sources and their actions, the schedule file, and a tick on a worker
// thread that runs the due actions on the main thread and moves them on.
//
// Copies (Clone) are for editing: they carry no source pointers. Their actions name their sources, which are
// looked up by name in the live scheduler when needed, so a copy made before a source was freed can neither
// call it nor bring it back into the live scheduler. A copy never ticks; it must not be used once its live
// scheduler is gone.
//
// Threads: everything but the tick is called on the main thread. The tick runs on its worker and calls
// FilterActions there (holding the scheduler's lock), ExecuteAction on the main thread through the link's
// hand-over (holding no lock). Actions and sources may be registered, unregistered, added, replaced and
// cleared while a tick runs; an action or source removed meanwhile is never touched by that tick again.
class TVitrelleScheduler : public IThread
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TVitrelleScheduler"};

    static constexpr std::chrono::milliseconds DefaultTickPeriod{15000};

    // The clock is required (EVitrelleError without one); a null inhibitor holds nothing.
    TVitrelleScheduler(TVitrelleCenterAgent* agent, std::shared_ptr<const IClock> clock,
                       std::shared_ptr<ISleepInhibitor> inhibitor = nullptr,
                       std::chrono::milliseconds tickPeriod = DefaultTickPeriod);
    // Stops the tick worker and waits for it, serving its hand-overs meanwhile.
    ~TVitrelleScheduler();

    TVitrelleScheduler(const TVitrelleScheduler&) = delete;
    TVitrelleScheduler& operator=(const TVitrelleScheduler&) = delete;

    TVitrelleCenterAgent* Agent() const { return FAgent; }

    // Ignored for null and for a name (any letter case) that is already registered, and by copies.
    void RegisterSource(IScheduleSource* source);
    // Removes the source and frees its actions; after it returns, no tick calls the source.
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
    // Copies other's actions, each due today at its time of day. Their sources are found by name among this
    // scheduler's own: the live scheduler drops an action whose source is no longer registered, a copy keeps
    // it under its name. The sources themselves are never copied.
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
    // A copy for editing, bound to the live scheduler (a copy's copy is bound to the same one); it never
    // ticks.
    std::unique_ptr<TVitrelleScheduler> Clone() const;
    // Same actions in the same order (sources compared by name); next times do not count.
    bool Equals(const TVitrelleScheduler* other) const;

    // False, with the schedule unchanged and nothing logged, for a missing, unparsable or foreign file.
    // Actions of sources that are not registered are dropped.
    bool LoadFromFile(const QString& path);
    // Atomic: the file is replaced whole or left as it was. Raises the file layer's errors. Sources are
    // written under their names, or under the other name renames gives for one (the name a source will have
    // when the file is next read).
    bool SaveToFile(const QString& path, const TRenames& renames = {}) const;

    // Starts the tick worker (a new one when an earlier run has ended); the first tick runs at once. Nothing
    // for a copy.
    void StartTicking();
    // Stops the tick worker and waits for its end, serving its hand-overs. Not from within an action.
    void StopTicking();
    bool IsTicking() const;

    // One pass over the actions at the clock's present moment. Runs on the tick worker, or directly on the
    // main thread while the worker does not tick. Nothing for a copy.
    void Tick();

    // Direct access for schedulers that do not tick (copies, tests); a ticking one changes it meanwhile.
    const TScheduleActionList& Actions() const { return FActions; }
    qsizetype ActionCount() const;

    void ThreadExecute() override;
    void ThreadTerminated() override {}

private:
    struct TSourceGroup;
    class TNamedSource;

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
    void RunAction(TScheduleAction* action);
    void ExecuteCurrentAction();
    bool StopRequested(const TThreadLink& link);

    TVitrelleCenterAgent* FAgent;
    const TVitrelleScheduler* const FLive = nullptr; // copies only: the live scheduler
    const std::shared_ptr<const IClock> FClock;
    const std::shared_ptr<ISleepInhibitor> FInhibitor;
    const std::chrono::milliseconds FTickPeriod;

    mutable std::mutex FMutex; // guards the actions (list and content), the sources and the tick's sets
    TScheduleActionList FActions{true};
    std::vector<IScheduleSource*> FSources;                           // live scheduler only
    mutable std::vector<std::unique_ptr<TNamedSource>> FNamedSources; // copies only
    TScheduleAction* FCurrentAction = nullptr;
    // The actions the running tick works on; an action freed meanwhile leaves this set first.
    std::unordered_set<const TScheduleAction*> FTickActions;

    std::mutex FWaitMutex; // guards FStopRequested
    std::condition_variable FWakeUp;
    bool FStopRequested = false;

    std::unique_ptr<TThreadLink> FLink;
};
