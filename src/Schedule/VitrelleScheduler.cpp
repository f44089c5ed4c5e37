#include "VitrelleScheduler.h"

#include "AbortRequest.h"
#include "Errors.h"
#include "Log.h"
#include "LogErrors.h"
#include "MainThread.h"
#include "ScheduleXml.h"
#include "XmlHelpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <algorithm>

namespace {

// A lane that takes longer than this to stop is logged.
constexpr qint64 SlowStopMs = 1000;

template <typename T> bool Holds(const std::vector<T*>& items, const T* item)
{
    return std::find(items.begin(), items.end(), item) != items.end();
}

} // namespace

// The due actions of one source in one tick.
struct TVitrelleScheduler::TSourceGroup
{
    IScheduleSource* Source = nullptr;
    std::vector<TScheduleAction*> Due;   // in list order
    std::vector<TScheduleAction*> ToRun; // what the source's filter left of Due
    bool Filtered = false;               // the filter was asked and answered
};

// A copy's stand-in for a source: it carries the name only and asks the live scheduler for the source of that
// name whenever the source itself is needed, so it can never reach a source that has been freed.
class TVitrelleScheduler::TNamedSource final : public IScheduleSource
{
public:
    TNamedSource(const TVitrelleScheduler& live, QString name) : FLive(live), FName(std::move(name)) {}

    QString GetSourceName() const override { return FName; }
    std::unique_ptr<TScheduleAction> CreateDefaultAction(qint32 actionCode) override
    {
        IScheduleSource* source = FLive.FindSource(FName);
        if (source == nullptr)
            return nullptr;
        std::unique_ptr<TScheduleAction> action = source->CreateDefaultAction(actionCode);
        if (action != nullptr)
            action->Source = this; // the copy's action must not keep the live source
        return action;
    }
    QString GetActionDescription(const TScheduleAction* action) const override
    {
        IScheduleSource* source = FLive.FindSource(FName);
        return source != nullptr ? source->GetActionDescription(action) : QString();
    }
    // A copy never ticks: nothing of it is filtered or run.
    void FilterActions(TScheduleActionList& actions) override { actions.Clear(); }
    bool ExecuteAction(TScheduleAction*) override { return false; }

    void Rename(QString name) { FName = std::move(name); }

private:
    const TVitrelleScheduler& FLive;
    QString FName;
};

// A source's lane: the worker on which that source's actions run, one group at a time. Its worker is made on
// the main thread (a link's rule) when the source first has work, and waits for more until it is stopped.
class TVitrelleScheduler::TLane final : public IThread
{
public:
    TLane(TVitrelleScheduler& owner, const IScheduleSource* source) : Source(source), FOwner(owner) {}

    void ThreadExecute() override
    {
        const TThreadLink* link = TThreadLink::Current();
        std::unique_lock lock(FOwner.FMutex);
        while (true) {
            // A stop notifies (Stopping); the link's own flag is looked at now and then besides.
            FOwner.FLaneWake.wait_for(lock, std::chrono::seconds(1), [&] {
                return HasWork || Stopping || (link != nullptr && link->Terminated());
            });
            if (Stopping || (link != nullptr && link->Terminated()))
                return; // work not started stays due; the stop clears it
            if (!HasWork)
                continue;
            HasWork = false;
            std::vector<TScheduleAction*> toRun = std::move(ToRun);
            std::vector<TScheduleAction*> due = std::move(Due);
            lock.unlock();
            FOwner.RunGroup(*this, std::move(toRun), std::move(due));
            lock.lock();
        }
    }
    void ThreadTerminated() override {}

    const IScheduleSource* const Source;
    std::unique_ptr<TThreadLink> Link; // main thread only

    // Guarded by the owner's FMutex.
    bool ThreadUp = false; // its worker has been started and not stopped since
    bool Busy = false;     // from the hand-over of a group until that group has moved on
    bool HasWork = false;  // a group handed over and not taken yet
    bool Stopping = false; // asked to end
    std::vector<TScheduleAction*> ToRun, Due;
    // The group's actions still in the schedule; an action freed meanwhile leaves this set first.
    std::unordered_set<const TScheduleAction*> Live;

private:
    TVitrelleScheduler& FOwner;
};

TVitrelleScheduler::TVitrelleScheduler(std::shared_ptr<const IClock> clock,
                                       std::shared_ptr<ISleepInhibitor> inhibitor,
                                       std::chrono::milliseconds tickPeriod)
    : FClock(std::move(clock)),
      FInhibitor(inhibitor ? std::move(inhibitor) : std::make_shared<TNoSleepInhibitor>()),
      FTickPeriod(tickPeriod), FLink(std::make_unique<TThreadLink>(*this))
{
    if (!FClock)
        throw EVitrelleError(QStringLiteral("The scheduler needs a clock"));
}

TVitrelleScheduler::TVitrelleScheduler(const TVitrelleScheduler& live, std::chrono::milliseconds tickPeriod)
    : FLive(&live), FClock(live.FClock), FInhibitor(live.FInhibitor), FTickPeriod(tickPeriod),
      FLink(std::make_unique<TThreadLink>(*this))
{
}

TVitrelleScheduler::~TVitrelleScheduler()
{
    StopTicking();
}

void TVitrelleScheduler::RegisterSource(IScheduleSource* source)
{
    if (source == nullptr || IsCopy())
        return;
    const QString name = source->GetSourceName();
    QString holder;
    {
        std::lock_guard lock(FMutex);
        const IScheduleSource* registered = FindSourceLocked(name);
        if (registered == nullptr) {
            FSources.push_back(source);
            FLanes[source] = std::make_unique<TLane>(*this, source);
            return;
        }
        if (registered == source)
            return;
        holder = registered->GetSourceName();
    }
    // Its actions would never run and the schedule would give them to the other source: say so.
    WriteLog(LogSource, 2,
             QStringLiteral("Schedule source '%1' (%2) is not registered: source '%3' has that name already")
                 .arg(name, SourceClassName(*source), holder));
}

void TVitrelleScheduler::UnregisterSource(IScheduleSource* source)
{
    if (source == nullptr)
        return;
    std::unique_ptr<TLane> lane;
    {
        std::lock_guard lock(FMutex);
        // By identity rather than by name: a source whose name changed, or an unregistered one sharing a
        // registered source's name, must neither leave actions behind nor take another source's actions.
        FActions.RemoveActionsOf(source);
        std::erase(FSources, source);
        ForgetRemovedLocked();
        const auto found = FLanes.find(source);
        if (found != FLanes.end()) {
            lane = std::move(found->second);
            FLanes.erase(found);
        }
    }
    if (lane)
        JoinLane(*lane);
}

IScheduleSource* TVitrelleScheduler::FindSource(const QString& name) const
{
    if (IsCopy()) {
        const QString registered = FLive->RegisteredName(name);
        if (registered.isEmpty())
            return nullptr;
        std::lock_guard lock(FMutex);
        return NamedSourceLocked(registered);
    }
    std::lock_guard lock(FMutex);
    return FindSourceLocked(name);
}

QString TVitrelleScheduler::RegisteredName(const QString& name) const
{
    std::lock_guard lock(FMutex);
    const IScheduleSource* source = FindSourceLocked(name);
    return source != nullptr ? source->GetSourceName() : QString();
}

IScheduleSource* TVitrelleScheduler::NamedSourceLocked(const QString& name) const
{
    for (const std::unique_ptr<TNamedSource>& source : FNamedSources)
        if (source->GetSourceName().compare(name, Qt::CaseInsensitive) == 0)
            return source.get();
    FNamedSources.push_back(std::make_unique<TNamedSource>(*FLive, name));
    return FNamedSources.back().get();
}

IScheduleSource* TVitrelleScheduler::FindSourceLocked(const QString& name) const
{
    for (IScheduleSource* source : FSources)
        if (source->GetSourceName().compare(name, Qt::CaseInsensitive) == 0)
            return source;
    return nullptr;
}

bool TVitrelleScheduler::IsRegisteredLocked(const IScheduleSource* source) const
{
    return Holds(FSources, source);
}

std::vector<IScheduleSource*> TVitrelleScheduler::Sources() const
{
    std::lock_guard lock(FMutex);
    return FSources;
}

qsizetype TVitrelleScheduler::ActionCount() const
{
    std::lock_guard lock(FMutex);
    return FActions.Count();
}

TScheduleAction* TVitrelleScheduler::AddAction(std::unique_ptr<TScheduleAction> action)
{
    if (action == nullptr)
        return nullptr;
    std::lock_guard lock(FMutex);
    return AddActionLocked(std::move(action));
}

TScheduleAction* TVitrelleScheduler::AddActionLocked(std::unique_ptr<TScheduleAction> action)
{
    TScheduleAction* added = ScheduleActionLocked(std::move(action));
    FActions.SortByTime();
    return added;
}

TScheduleAction* TVitrelleScheduler::ScheduleActionLocked(std::unique_ptr<TScheduleAction> action)
{
    TScheduleAction* added = FActions.Add(std::move(action));
    added->ResetNextTime(FClock->Now().date());
    WriteLog(TVitrelleScheduler::LogSource, 3,
             QStringLiteral("Action '%1' for source '%2' is scheduled at %3")
                 .arg(added->Source->GetActionDescription(added), added->Source->GetSourceName(),
                      TimeOfDayToText(added->NextTime.time())));
    return added;
}

TScheduleAction* TVitrelleScheduler::GetAction(const QString& sourceName, qint32 actionCode)
{
    {
        std::lock_guard lock(FMutex);
        if (TScheduleAction* found = FActions.Find(sourceName, actionCode))
            return found;
    }
    // Sources are registered and unregistered on this thread only, so the one found stays registered while
    // it is used here, outside the lock (it builds the action with its own code).
    IScheduleSource* source = FindSource(sourceName);
    if (source == nullptr)
        return nullptr;
    {
        // The name may have been given in another letter case: the source's action must not be doubled.
        std::lock_guard lock(FMutex);
        if (TScheduleAction* found = FActions.Find(source->GetSourceName(), actionCode))
            return found;
    }
    std::unique_ptr<TScheduleAction> action = source->CreateDefaultAction(actionCode);
    if (action == nullptr)
        return nullptr;
    std::lock_guard lock(FMutex);
    return AddActionLocked(std::move(action));
}

void TVitrelleScheduler::Clear()
{
    std::lock_guard lock(FMutex);
    FActions.Clear();
    ForgetAllLocked();
}

TVitrelleScheduler::TKeptActions TVitrelleScheduler::KeepActionsOf(const IScheduleSource* source) const
{
    TKeptActions kept;
    if (source == nullptr)
        return kept;
    kept.SourceName = source->GetSourceName();
    std::lock_guard lock(FMutex);
    for (const TScheduleAction* action : FActions) {
        if (action->Source != source)
            continue;
        std::unique_ptr<TScheduleAction> copy = action->Clone();
        copy->NextTime = action->NextTime;
        kept.Actions.push_back(std::move(copy));
    }
    return kept;
}

void TVitrelleScheduler::RestoreActions(TKeptActions kept)
{
    if (IsCopy() || kept.Actions.empty())
        return;
    std::lock_guard lock(FMutex);
    IScheduleSource* source = FindSourceLocked(kept.SourceName);
    if (source == nullptr)
        return;
    for (std::unique_ptr<TScheduleAction>& action : kept.Actions) {
        if (FActions.Find(source->GetSourceName(), action->Action) != nullptr)
            continue;
        action->Source = source;
        FActions.Add(std::move(action));
    }
    FActions.SortByTime();
}

void TVitrelleScheduler::Assign(const TVitrelleScheduler* other)
{
    if (other == nullptr)
        return;
    // Each copy is given the source of the same name here: other may be a copy whose names stand for sources
    // that were freed since, and its own sources must never come into this scheduler.
    const QDate today = FClock->Now().date();
    std::vector<std::pair<QString, std::unique_ptr<TScheduleAction>>> copies;
    {
        std::lock_guard lock(other->FMutex);
        for (const TScheduleAction* action : other->FActions) {
            std::unique_ptr<TScheduleAction> copy = action->Clone();
            copy->ResetNextTime(today);
            copies.emplace_back(action->Source->GetSourceName(), std::move(copy));
        }
    }
    TScheduleActionList actions(true);
    std::lock_guard lock(FMutex);
    for (auto& [name, copy] : copies) {
        IScheduleSource* source = IsCopy() ? NamedSourceLocked(name) : FindSourceLocked(name);
        if (source == nullptr)
            continue; // no source of that name is registered any more
        copy->Source = source;
        // Applying an edited schedule is no reason to run again what ran today.
        if (!IsCopy() && !SkipWhatRanLocked(copy.get()))
            continue;
        actions.Add(std::move(copy));
    }
    FActions = std::move(actions);
    ForgetAllLocked();
}

void TVitrelleScheduler::RenameSource(const QString& oldName, const QString& newName)
{
    if (!IsCopy() || newName.isEmpty())
        return;
    std::lock_guard lock(FMutex);
    TNamedSource* from = nullptr;
    TNamedSource* to = nullptr;
    for (const std::unique_ptr<TNamedSource>& source : FNamedSources) {
        if (source->GetSourceName().compare(oldName, Qt::CaseInsensitive) == 0)
            from = source.get();
        else if (source->GetSourceName().compare(newName, Qt::CaseInsensitive) == 0)
            to = source.get();
    }
    if (from == nullptr)
        return;
    if (to != nullptr) {
        // Two stand-ins must not share a name: the new name's actions join the renamed source, except the
        // codes it has already.
        const auto hasCode = [this, from](qint32 code) {
            return std::any_of(FActions.begin(), FActions.end(), [from, code](const TScheduleAction* action) {
                return action->Source == from && action->Action == code;
            });
        };
        std::vector<TScheduleAction*> joining;
        for (TScheduleAction* action : FActions)
            if (action->Source == to)
                joining.push_back(action);
        for (TScheduleAction* action : joining) {
            if (hasCode(action->Action))
                FActions.Remove(action);
            else
                action->Source = from;
        }
        std::erase_if(FNamedSources,
                      [to](const std::unique_ptr<TNamedSource>& source) { return source.get() == to; });
    }
    from->Rename(newName);
}

bool TVitrelleScheduler::RenameSourcesInFile(const QString& path, const TRenames& renames)
{
    TXmlDocument document;
    if (!LoadXmlFile(document, path, QString(), nullptr))
        return false;
    const TXmlNode root = document.DocumentElement();
    if (root.IsNull() || root.Name().compare(ScheduleXml::RootElement, Qt::CaseInsensitive) != 0)
        return false;
    if (!RenameSources(document, root, renames))
        return false;
    document.SaveToFile(path);
    return true;
}

void TVitrelleScheduler::RenameRunRecords(const TRenames& renames)
{
    if (!IsCopy())
        FRunState.RenameSources(renames);
}

bool TVitrelleScheduler::RenameSources(TXmlDocument& document, const TXmlNode& root, const TRenames& renames)
{
    bool renamed = false;
    for (const TXmlNode& node : root.SelectNodes(QStringLiteral("./") + ScheduleXml::ActionElement)) {
        const QString source = GetAttributeValue(node, ScheduleXml::SourceAttribute);
        // The first rename that matches: A to B and B to C move A to B, not to C.
        const auto match = std::find_if(renames.begin(), renames.end(), [&source](const auto& rename) {
            return source.compare(rename.first, Qt::CaseInsensitive) == 0;
        });
        if (match != renames.end() && !match->second.isEmpty()) {
            SetAttributeValue(&document, node, ScheduleXml::SourceAttribute, match->second);
            renamed = true;
        }
    }
    return renamed;
}

std::unique_ptr<TVitrelleScheduler> TVitrelleScheduler::Clone() const
{
    std::unique_ptr<TVitrelleScheduler> copy(new TVitrelleScheduler(IsCopy() ? *FLive : *this, FTickPeriod));
    copy->Assign(this);
    return copy;
}

bool TVitrelleScheduler::Equals(const TVitrelleScheduler* other) const
{
    if (other == nullptr)
        return false;
    if (other == this)
        return true;
    std::scoped_lock lock(FMutex, other->FMutex);
    return FActions.Equals(&other->FActions);
}

bool TVitrelleScheduler::LoadFromFile(const QString& path)
{
    TXmlDocument document;
    if (!LoadXmlFile(document, path, QString(), nullptr)) // a missing or broken schedule is no error
        return false;
    const TXmlNode root = document.DocumentElement();
    if (root.IsNull() || root.Name().compare(ScheduleXml::RootElement, Qt::CaseInsensitive) != 0)
        return false;
    // Read everything first, so that an error of the XML layer leaves the schedule as it was.
    std::vector<std::unique_ptr<TScheduleAction>> loaded;
    for (const TXmlNode& node : root.SelectNodes(QStringLiteral("./") + ScheduleXml::ActionElement))
        if (std::unique_ptr<TScheduleAction> action = TScheduleAction::LoadFromXML(node, this))
            loaded.push_back(std::move(action));
    std::lock_guard lock(FMutex);
    FActions.Clear();
    ForgetAllLocked();
    // Sorted once at the end: a sort per action makes a large schedule load in quadratic time.
    for (std::unique_ptr<TScheduleAction>& action : loaded) {
        TScheduleAction* added = ScheduleActionLocked(std::move(action));
        if (!SkipWhatRanLocked(added))
            FActions.Remove(added);
    }
    FActions.SortByTime();
    return true;
}

void TVitrelleScheduler::UseStateFile(const QString& path)
{
    FRunState.Open(path);
}

bool TVitrelleScheduler::SkipWhatRanLocked(TScheduleAction* action)
{
    if (!action->Enabled)
        return true;
    const std::optional<QDateTime> ran = FRunState.LastRun(*action);
    // A run recorded in the future (the clock was set back since) proves nothing about today.
    if (!ran || *ran > FClock->Now() || action->NextTime > *ran)
        return true;
    WriteLog(LogSource, 3,
             QStringLiteral("Action '%1' for source '%2' ran at %3 already")
                 .arg(action->Source->GetActionDescription(action), action->Source->GetSourceName(),
                      ran->toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))));
    // Just after the run: an hourly action moves to its first hour after it.
    const QDateTime after = ran->addMSecs(1);
    for (int step = 0; step < 8 && !(action->NextTime > *ran); ++step)
        if (!action->Reschedule(after))
            return false;
    return true;
}

bool TVitrelleScheduler::SaveToFile(const QString& path) const
{
    TXmlDocument document;
    const TXmlNode root = document.CreateDocumentElement(ScheduleXml::RootElement);
    {
        std::lock_guard lock(FMutex);
        for (const TScheduleAction* action : FActions)
            action->SaveToXML(&document, root);
    }
    document.SaveToFile(path);
    return true;
}

void TVitrelleScheduler::StartTicking()
{
    if (IsCopy())
        return;
    {
        std::lock_guard lock(FWaitMutex);
        FStopRequested = false;
    }
    TThreadLink::StartLink(FLink, *this);
}

void TVitrelleScheduler::StopTicking()
{
    {
        std::lock_guard lock(FWaitMutex);
        FStopRequested = true;
    }
    FWakeUp.notify_all();
    FLink.reset(); // asks the worker to end and waits for it while serving its hand-overs
    std::vector<const IScheduleSource*> sources;
    {
        std::lock_guard lock(FMutex);
        for (const auto& [source, lane] : FLanes)
            sources.push_back(source);
    }
    StopLanes(sources);
}

TVitrelleScheduler::TLane* TVitrelleScheduler::LaneLocked(const IScheduleSource* source) const
{
    const auto found = FLanes.find(source);
    return found != FLanes.end() ? found->second.get() : nullptr;
}

void TVitrelleScheduler::StopLanes(const std::vector<const IScheduleSource*>& sources)
{
    VC_ASSERT_MAIN_THREAD();
    std::vector<TLane*> asked;
    {
        std::lock_guard lock(FMutex);
        for (const IScheduleSource* source : sources) {
            if (TLane* lane = LaneLocked(source)) {
                lane->Stopping = true;
                asked.push_back(lane);
            }
        }
    }
    FLaneWake.notify_all();
    // Every lane is asked first, so that their actions give up together rather than one after another.
    // Nothing runs on this thread in between, so the lanes found are still there.
    for (TLane* lane : asked)
        if (lane->Link)
            lane->Link->Terminate();
    for (const IScheduleSource* source : sources) {
        // Found again: a hand-over served while waiting for an earlier lane may have unregistered a source.
        TLane* lane = nullptr;
        {
            std::lock_guard lock(FMutex);
            lane = LaneLocked(source);
        }
        if (lane != nullptr)
            JoinLane(*lane);
    }
}

void TVitrelleScheduler::JoinLane(TLane& lane)
{
    VC_ASSERT_MAIN_THREAD();
    {
        std::lock_guard lock(FMutex);
        lane.Stopping = true;
    }
    FLaneWake.notify_all();
    QElapsedTimer waited;
    waited.start();
    lane.Link.reset(); // asks the worker to end and waits for it while serving its hand-overs
    // An action that does not give up promptly holds the removal of its source, or the program's end.
    if (waited.elapsed() > SlowStopMs)
        WriteLog(LogSource, 2,
                 QStringLiteral("The action of source '%1' took %2 ms to stop")
                     .arg(lane.Source->GetSourceName(), QString::number(waited.elapsed())));
    std::lock_guard lock(FMutex);
    lane.Stopping = false;
    lane.ThreadUp = false;
    lane.HasWork = false;
    lane.Busy = false;
    lane.ToRun.clear();
    lane.Due.clear();
    lane.Live.clear(); // what it had not run stays due
}

void TVitrelleScheduler::StartLanes()
{
    VC_ASSERT_MAIN_THREAD();
    std::vector<TLane*> starting;
    {
        std::lock_guard lock(FMutex);
        for (const auto& [source, lane] : FLanes) {
            if (lane->HasWork && !lane->ThreadUp) {
                lane->ThreadUp = true;
                starting.push_back(lane.get());
            }
        }
    }
    for (TLane* lane : starting)
        TThreadLink::StartLink(lane->Link, *lane);
}

bool TVitrelleScheduler::ActionsRunning() const
{
    std::lock_guard lock(FMutex);
    return std::any_of(FLanes.begin(), FLanes.end(), [](const auto& entry) { return entry.second->Busy; });
}

void TVitrelleScheduler::ForgetRemovedLocked()
{
    for (const auto& [source, lane] : FLanes)
        std::erase_if(lane->Live,
                      [this](const TScheduleAction* action) { return !FActions.Contains(action); });
}

void TVitrelleScheduler::ForgetAllLocked()
{
    for (const auto& [source, lane] : FLanes)
        lane->Live.clear();
}

bool TVitrelleScheduler::IsTicking() const
{
    return FLink != nullptr && FLink->Started() && !FLink->Ended();
}

bool TVitrelleScheduler::StopRequested(const TThreadLink& link)
{
    std::lock_guard lock(FWaitMutex);
    return FStopRequested || link.Terminated();
}

void TVitrelleScheduler::ThreadExecute()
{
    TThreadLink* link = TThreadLink::Current();
    if (link == nullptr)
        return;
    // A failure must not end the schedule: the next tick may well succeed.
    while (!StopRequested(*link)) {
        LogErrors(LogSource, [this] { FInhibitor->KeepSystemAwake(); });
        LogErrors(LogSource, [this] { Tick(); });
        std::unique_lock lock(FWaitMutex);
        FWakeUp.wait_for(lock, FTickPeriod, [&] { return FStopRequested || link->Terminated(); });
    }
}

void TVitrelleScheduler::Tick()
{
    // A copy never ticks; once the program is asked to end nothing new starts.
    if (IsCopy() || AbortRequest::Requested())
        return;
    const bool direct = OnMainThread();
    const QDateTime now = FClock->Now();
    bool handed = false;
    bool startLanes = false;
    {
        std::lock_guard lock(FMutex);
        std::vector<TSourceGroup> groups;
        for (TScheduleAction* action : FActions) {
            if (!action->Enabled || !(action->NextTime < now))
                continue;
            auto group = std::find_if(groups.begin(), groups.end(),
                                      [action](const TSourceGroup& g) { return g.Source == action->Source; });
            if (group == groups.end())
                group = groups.insert(groups.end(), TSourceGroup{action->Source, {}, {}, false});
            group->Due.push_back(action);
        }
        for (TSourceGroup& group : groups) {
            const auto found = FLanes.find(group.Source);
            if (found == FLanes.end() || found->second->Busy)
                continue; // still running its last group: offered again at a later tick
            TLane& lane = *found->second;
            FilterGroupLocked(group);
            // A failed filter, or a group held back whole (no connection for a download), stays due.
            if (!group.Filtered || group.ToRun.empty())
                continue;
            TScheduleActionList toRun(false);
            for (TScheduleAction* action : group.ToRun)
                toRun.Add(action);
            toRun.SortByTime();
            lane.ToRun.assign(toRun.begin(), toRun.end());
            lane.Due = group.Due;
            lane.Live = std::unordered_set<const TScheduleAction*>(group.Due.begin(), group.Due.end());
            lane.HasWork = true;
            lane.Busy = true;
            handed = true;
            startLanes = startLanes || !lane.ThreadUp;
        }
    }
    if (handed) {
        FLaneWake.notify_all();
        if (startLanes)
            RunOnMainThread([this] { StartLanes(); }); // a link is made on the main thread only
    }
    if (!direct)
        return;
    // Also what the tick worker handed over meanwhile: whoever ticks directly wants the outcome of what was
    // due.
    while (ActionsRunning()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(1);
    }
}

void TVitrelleScheduler::FilterGroupLocked(TSourceGroup& group)
{
    if (!IsRegisteredLocked(group.Source))
        return; // never call a source that is not (or no longer) registered
    TScheduleActionList offered(false);
    for (TScheduleAction* action : group.Due)
        offered.Add(action);
    if (!LogErrors(SourceClassName(*group.Source), [&] { group.Source->FilterActions(offered); }))
        return; // neither run nor moved on: offered again at the next tick
    // Only the group's own actions, each once, in the order the filter left them (by sets: a large schedule
    // can have thousands due at once).
    std::unordered_set<const TScheduleAction*> own(group.Due.begin(), group.Due.end());
    for (TScheduleAction* action : offered)
        if (own.erase(action) > 0)
            group.ToRun.push_back(action);
    group.Filtered = true;
}

void TVitrelleScheduler::RunGroup(TLane& lane, std::vector<TScheduleAction*> toRun,
                                  std::vector<TScheduleAction*> due)
{
    // What ran: the schedule's action (compared, never touched, once it may be gone) and the copy that ran.
    std::vector<std::pair<const TScheduleAction*, std::unique_ptr<TScheduleAction>>> ran;
    for (TScheduleAction* action : toRun) {
        if (WorkerStopRequested())
            break; // the source is being unregistered, or the program ends
        IScheduleSource* source = nullptr;
        std::unique_ptr<TScheduleAction> copy;
        {
            // The main thread may have removed the action or its source since the hand-over.
            std::lock_guard lock(FMutex);
            if (!lane.Live.contains(action) || !IsRegisteredLocked(action->Source))
                continue;
            source = action->Source;
            // The source works on a copy: the schedule may free or replace the action meanwhile.
            copy = action->Clone();
            copy->NextTime = action->NextTime;
        }
        const QDateTime started = FClock->Now();
        // A failing action is logged and the schedule goes on: one unplugged cable must not stop every later
        // action.
        LogErrors(SourceClassName(*source), [&] { source->ExecuteAction(copy.get()); });
        // An action cut short by a stop has not run: a restart runs it again.
        if (!WorkerStopRequested()) {
            LogErrors(LogSource, [&] {
                FRunState.Record(source->GetSourceName(), copy->Action, copy->Periodicity.Time, started);
            });
            ran.emplace_back(action, std::move(copy));
        }
    }

    std::lock_guard lock(FMutex);
    // An action replaced while it ran (the Schedule page applied its copy, due today at its time) must not
    // run again through its replacement: the replacement moves on past this run.
    std::vector<TScheduleAction*> spent;
    for (const auto& [action, copy] : ran) {
        if (lane.Live.contains(action))
            continue;
        for (TScheduleAction* other : FActions)
            if (other->Source == copy->Source && other->Action == copy->Action &&
                other->Periodicity.Time == copy->Periodicity.Time && !SkipWhatRanLocked(other))
                spent.push_back(other);
    }
    for (TScheduleAction* action : spent)
        FActions.Remove(action); // an invalid kind runs once
    const QDateTime rescheduleTime = FClock->Now();
    // What a filter removed from the group is superseded and moves on with it.
    for (TScheduleAction* action : due) {
        if (lane.Live.erase(action) == 0)
            continue;
        if (!action->Reschedule(rescheduleTime))
            FActions.Remove(action); // an invalid kind runs once
    }
    lane.Live.clear();
    lane.Busy = false;
}
