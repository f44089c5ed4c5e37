#include "VitrellePlayer.h"

#include "AbortRequest.h"
#include "Diapositive.h"
#include "Enumerators.h"
#include "Errors.h"
#include "Log.h"
#include "LogErrors.h"
#include "MainThread.h"
#include "ScheduleAction.h"
#include "ScheduleActionList.h"
#include "ScreenPicture.h"
#include "Sequence.h"
#include "Vitrelle.h"
#include "VitrelleDevice.h"
#include "VitrelleForm.h"
#include "VitrelleRepository.h"
#include "VitrelleScheduler.h"
#include "XmlHelpers.h"

#include <QFile>

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <thread>
#include <vector>

using std::chrono::milliseconds;

namespace {
TPlayerServices Checked(TPlayerServices services)
{
    if (!services.SlideViews || !services.ScreenSaver || !services.Clock)
        throw EVitrelleError(QStringLiteral("A player needs slide views, a screen saver and a clock"));
    return services;
}
} // namespace

// A slide on its way from the content to the back view.
struct TVitrellePlayer::TPreparation
{
    QString Id;
    QString TypeName;
    TSlidePageFile Page;
    TSlideAccess Access;
    // The content the slide came from; expired once an update has replaced it.
    std::weak_ptr<const TXmlDocument> Source;
    bool Sourced = false;
};

// A slide's page made on a thread of its own, so that the clock can go on when it takes longer than the
// visible slide's time. Made and freed on the clock's worker; freeing it stops the work and joins.
class TVitrellePlayer::TPageJob
{
public:
    TPageJob(TPreparation preparation, std::function<bool()> stop) : FPreparation(std::move(preparation))
    {
        FThread = std::thread([this, stop = std::move(stop)] { Run(stop); });
    }
    ~TPageJob()
    {
        Cancel();
        FThread.join();
    }
    TPageJob(const TPageJob&) = delete;
    TPageJob& operator=(const TPageJob&) = delete;

    // True once the page is made or has failed; waits at most the time for it.
    bool WaitDone(milliseconds time)
    {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, time, [this] { return FDone; });
    }
    bool Done() const
    {
        const std::lock_guard lock(FMutex);
        return FDone;
    }
    // The page is not wanted any more: its transform stops.
    void Cancel() { FCancelled.store(true); }

    // Once done.
    bool Made() const
    {
        const std::lock_guard lock(FMutex);
        return FMade;
    }
    std::optional<QString> Failure() const
    {
        const std::lock_guard lock(FMutex);
        return FFailure;
    }
    const TPreparation& Preparation() const { return FPreparation; }

private:
    void Run(const std::function<bool()>& stop)
    {
        bool made = false;
        std::optional<QString> failure;
        try {
            made = FPreparation.Page.Make([&] { return FCancelled.load() || stop(); });
        } catch (const EVitrelleError& error) {
            failure = error.Message();
        } catch (const std::exception& error) {
            failure = QString::fromUtf8(error.what());
        }
        {
            const std::lock_guard lock(FMutex);
            FMade = made;
            FFailure = failure;
            FDone = true;
        }
        FChanged.notify_all();
    }

    TPreparation FPreparation; // its page is made on the thread, read by the others once done
    std::atomic<bool> FCancelled{false};
    mutable std::mutex FMutex; // guards the fields below
    std::condition_variable FChanged;
    bool FDone = false;
    bool FMade = false;
    std::optional<QString> FFailure;
    std::thread FThread; // last: started once the rest is made
};

TVitrellePlayer::TVitrellePlayer(TVitrelleDevice* device, TVitrelleRepository& repository,
                                 TPlayerServices services)
    : FDevice(device), FRepository(repository), FServices(Checked(std::move(services)))
{
    VC_ASSERT_MAIN_THREAD();
    FForm = std::make_unique<TVitrelleForm>(FServices.SlideViews);
    FForm->SetOnSlideReady([this] { SlideReady(); });
    FForm->OnClosed = [this] { StopPlaying(false); };
    FCapture = std::make_unique<TScreenPicture>(FServices.ScreensFolder);
    FLink = std::make_unique<TThreadLink>(*this);
    if (TVitrelleScheduler* scheduler = Scheduler())
        scheduler->RegisterSource(this);
}

TVitrellePlayer::~TVitrellePlayer()
{
    // First, so that no scheduled action reaches the player while it goes.
    if (TVitrelleScheduler* scheduler = Scheduler())
        scheduler->UnregisterSource(this);
    JournalSlideLeft(QStringLiteral("program ended"));
    StopPlaying(true);
    if (FLink) {
        FLink->Terminate();
        FServices.Clock->Wake();
        FLink.reset(); // the end handler runs in here
    }
    FForm.reset();
    FSequenceItem.reset();
}

TVitrelleScheduler* TVitrellePlayer::Scheduler() const
{
    return FServices.Scheduler ? FServices.Scheduler() : nullptr;
}

void TVitrellePlayer::SetSlideDuration(qint32 seconds, const QString& where)
{
    const qint32 duration = PlayedSlideDuration(static_cast<qint64>(seconds) * 1000);
    FDefaultDuration.store(duration);
    if (static_cast<qint64>(seconds) * 1000 == duration)
        return;
    const QString text = QStringLiteral("%1: a slide duration of %2 s is out of range; slides play %3 ms")
                             .arg(where.isEmpty() ? GetSourceName() : where, QString::number(seconds),
                                  QString::number(duration));
    {
        // The same value set again (a play scheduled every day) is not reported again.
        const std::lock_guard lock(FReportMutex);
        if (text == FLastDurationReport)
            return;
        FLastDurationReport = text;
    }
    WriteLog(LogSource, 2, text);
}

bool TVitrellePlayer::LoadVitrelle(const QString& id)
{
    VC_ASSERT_MAIN_THREAD();
    if (id.isEmpty() || FState == psPlaying)
        return false;
    if (FState == psLoaded)
        Unload();
    FVitrelle.reset();
    FVitrelle = FRepository.GetVitrelle(id);
    if (!FVitrelle)
        return false;
    FState = psLoaded;
    return true;
}

void TVitrellePlayer::Unload()
{
    VC_ASSERT_MAIN_THREAD();
    if (FState == psPlaying)
        return;
    FSequenceItem.reset();
    FEnumerator = nullptr;
    FState = psIdle;
}

void TVitrellePlayer::StartPlaying()
{
    VC_ASSERT_MAIN_THREAD();
    if (FState != psLoaded)
        return;
    if (!FSequenceItem)
        FSequenceItem = std::make_unique<TVitrelleSequenceItem>(); // the loaded vitrelle itself, in order
    FEnumerator = dynamic_cast<TVitrelleEnumerator*>(FSequenceItem->GetEnumerator(FVitrelle.get()));
    ApplyDeviceSettings();
    if (FDevice != nullptr && FDevice->Monitor)
        FForm->SetMonitor(*FDevice->Monitor);
    FForm->ShowWindow();
    WriteLog(LogSource, 3,
             QStringLiteral("Play vitrelle '%1' on display device '%2'")
                 .arg(FVitrelle->Name, FDevice != nullptr ? FDevice->GetDisplayName() : QString()));
    FState = psPlaying;
    RecordPlayEvent(TStateRecord{JournalDisplay().Name, true, std::nullopt});
    // The window's views are new: whatever an earlier run prepared is not in them.
    FSlideStatus.store(ssPreparing);
    FSequenceDuration.store(FEnumerator != nullptr ? FEnumerator->Duration() : -1);
    if (!FHoldingScreen) {
        FServices.ScreenSaver->Suspend();
        FHoldingScreen = true;
    }
    TThreadLink::StartLink(FLink, *this);
}

bool TVitrellePlayer::Play(const QString& id)
{
    if (!LoadVitrelle(id))
        return false;
    FSequenceItem = std::make_unique<TVitrelleSequenceItem>();
    FEnumerator = nullptr;
    StartPlaying();
    return true;
}

bool TVitrellePlayer::StopPlaying(bool close)
{
    VC_ASSERT_MAIN_THREAD();
    if (FState != psPlaying)
        return true;
    if (FLink && !FLink->Terminated()) {
        FLink->Terminate();
        FServices.Clock->Wake();
    }
    if (close)
        FForm->close(); // comes back here through OnClosed: the clock is asked already
    return true;
}

void TVitrellePlayer::ApplyDeviceSettings()
{
    if ((FState != psIdle && FState != psLoaded) || FDevice == nullptr)
        return;
    FDevice->SetDisplayMode(&FDevice->Settings().DisplayMode());
    FForm->SetFullScreen(FDevice->Settings().FullScreen);
}

bool TVitrellePlayer::MonitorChanged()
{
    VC_ASSERT_MAIN_THREAD();
    if (FDevice == nullptr || !FDevice->Monitor)
        return false;
    FForm->SetMonitor(*FDevice->Monitor);
    if (FState != psPlaying)
        return false;
    const auto current = [this] {
        const std::unique_ptr<TDisplayMode> mode = FDevice->GetCurrentDisplayMode();
        return mode != nullptr ? mode->ToString() : QString();
    };
    const QString before = current();
    FDevice->SetDisplayMode(&FDevice->Settings().DisplayMode());
    return current() != before;
}

// ---- the slide clock ----

void TVitrellePlayer::ThreadExecute()
{
    TThreadLink* link = TThreadLink::Current();
    if (link == nullptr)
        return;
    // An error in a step ends the show; the window stays on the last slide shown.
    LogErrors(LogSource, [&] { RunClock(*link); });
}

void TVitrellePlayer::RunClock(TThreadLink& link)
{
    ISteadyClock& clock = *FServices.Clock;
    // A step handed over after the clock was asked to end does nothing: it may be served by the player's
    // destructor, or after a stop that came during a swap. A step's error comes back as its text, so that no
    // exception object is shared between the two threads.
    const auto onMainThread = [&link](const std::function<void()>& step) {
        std::optional<QString> failure;
        link.Synchronize([&] {
            if (link.Terminated())
                return;
            try {
                step();
            } catch (const EVitrelleError& error) {
                failure = error.Message();
            } catch (const std::exception& error) {
                failure = QString::fromUtf8(error.what());
            }
        });
        if (failure)
            throw EVitrelleError(*failure);
    };
    const auto stopRequested = [&link] { return link.Terminated(); };
    const auto pageStop = [&link] { return link.Terminated() || AbortRequest::Requested(); };

    // Pages of skipped slides, still being made so that they are in the cache the next time round. Freed
    // (stopped and joined) before the clock's work returns.
    std::vector<std::unique_ptr<TPageJob>> background;
    const auto collectBackground = [&] {
        std::erase_if(background, [&](const std::unique_ptr<TPageJob>& job) {
            if (!job->Done())
                return false;
            if (job->Failure())
                WriteLog(LogSource, 1, *job->Failure());
            else if (job->Made())
                onMainThread([&] { DropStalePage(job->Preparation()); });
            return true;
        });
    };

    // Preparing a slide: the main thread takes what the page needs, a thread of the page's own makes it (the
    // transform, the write and its flush), the main thread loads it. The clock waits for the page until the
    // visible slide is due (not at all for the first slide, when none is visible): then this slide is
    // skipped, and its page goes on being made in the background.
    const auto prepareNextSlide = [&](const std::optional<milliseconds>& visibleSince) {
        collectBackground();
        std::optional<TPreparation> preparation;
        onMainThread([&] { preparation = BeginSlide(); });
        if (!preparation)
            return;
        auto job = std::make_unique<TPageJob>(std::move(*preparation), pageStop);
        while (!job->WaitDone(milliseconds(10))) {
            if (pageStop())
                return; // an abandoned page is no failure of the slide
            if (visibleSince && SlideDue(visibleSince, clock.Now())) {
                // One page at a time in the background: a second slow one is given up for this time round.
                if (std::any_of(background.begin(), background.end(),
                                [](const std::unique_ptr<TPageJob>& other) { return !other->Done(); }))
                    job->Cancel();
                background.push_back(std::move(job));
                return;
            }
        }
        if (job->Failure())
            throw EVitrelleError(*job->Failure());
        if (pageStop())
            return;
        onMainThread([&] { FinishSlide(job->Preparation(), job->Made()); });
    };

    prepareNextSlide(std::nullopt);
    std::optional<milliseconds> lastChange; // none: the first test finds the slide due
    // Set while the visible slide is overdue because the one meant to follow it was not ready: the clock then
    // looks often and shows the slide prepared instead as soon as it is ready, rather than a whole slide
    // duration later.
    std::optional<milliseconds> skippedAt;
    milliseconds nextTick = clock.Now() + FServices.Tick;
    while (!link.Terminated()) {
        const milliseconds planned = nextTick;
        clock.WaitUntil(nextTick, stopRequested);
        if (link.Terminated())
            break;
        const milliseconds now = clock.Now();
        // The ticks keep their pace however long the steps take.
        nextTick = std::max(nextTick + FServices.Tick, now);
        const bool ready = FSlideStatus.load() == ssReady;
        if (skippedAt ? ready || SlideDue(skippedAt, now) : SlideDue(lastChange, now)) {
            if (ready) {
                onMainThread([this] {
                    FForm->ShowPreparedSlide();
                    FOnScreenUntilEnd.store(FPreparedUntilEnd.exchange(-1));
                    JournalSwap();
                });
                // The planned moment of the tick, not the moment the swap ended: a late wake-up or a slow
                // hand-over must not make the slide look a little too young at the next tick and hold it for
                // a whole extra tick.
                lastChange = skippedAt ? clock.Now() : planned;
                skippedAt.reset();
                prepareNextSlide(lastChange);
            } else {
                onMainThread([this] {
                    if (FJournalPrepared)
                        JournalMiss(FJournalPrepared->Id, FJournalPreparedLoaded
                                                              ? QStringLiteral("never painted")
                                                              : QStringLiteral("not ready"));
                });
                skippedAt = now;
                prepareNextSlide(skippedAt);
            }
        }
        if (skippedAt)
            nextTick = std::min(nextTick, std::max(clock.Now(), planned) + CatchUpTick);
        FTicks.fetch_add(1);
    }
}

bool TVitrellePlayer::SlideDue(const std::optional<milliseconds>& lastChange, milliseconds now) const
{
    if (!lastChange)
        return true;
    const qint32 sequenceDuration = FSequenceDuration.load();
    qint64 duration = sequenceDuration == -1 ? FDefaultDuration.load() : sequenceDuration;
    // A slide that plays its videos to their end stays that long, within bounds.
    const qint64 untilEnd = FOnScreenUntilEnd.load();
    if (untilEnd >= 0)
        duration = std::min(untilEnd, duration * UntilEndBound);
    return (now - *lastChange).count() >= std::max<qint64>(duration, MinSlideDuration);
}

std::optional<TVitrellePlayer::TPreparation> TVitrellePlayer::BeginSlide()
{
    VC_ASSERT_MAIN_THREAD();
    if (FState != psPlaying || FEnumerator == nullptr)
        return std::nullopt;
    FEnumerator->MoveNext();
    FSequenceDuration.store(FEnumerator->Duration());
    const TDiapositive* slide = FEnumerator->GetCurrent();
    if (slide == nullptr)
        return std::nullopt;
    WriteLog(LogSource, 3,
             QStringLiteral("Vitrelle %1 : preparation of slide '%2' (type '%3')")
                 .arg(FVitrelle->Name, slide->Id, slide->TypeName));
    FJournalPrepared = TJournalSlide{slide->Id, slide->TypeName, {}, {}};
    FJournalPreparedLoaded = false;
    if (slide->DiapositiveType == nullptr) {
        FSlideStatus.store(ssFailed);
        JournalMiss(slide->Id, QStringLiteral("rendering failed"));
        FJournalPrepared.reset();
        WriteLog(LogSource, 1,
                 QStringLiteral("Cannot find type '%1' of slide of ID '%2'").arg(slide->TypeName, slide->Id));
        return std::nullopt;
    }
    FSlideStatus.store(ssPreparing);
    FPreparedUntilEnd.store(-1);
    return TPreparation{slide->Id,
                        slide->TypeName,
                        TSlidePageFile(slide, &FRepository),
                        SlideAccessOf(*slide, FVitrelle->Name, FRepository),
                        slide->Document(),
                        slide->Document() != nullptr};
}

bool TVitrellePlayer::DropStalePage(const TPreparation& preparation)
{
    VC_ASSERT_MAIN_THREAD(); // where updates replace the content
    if (!preparation.Page.Written() || !preparation.Sourced || !preparation.Source.expired())
        return false;
    // The content was updated while the page was made from the old one, and the update has already cleared
    // the cache: the old page must not stay there in place of the new slide's.
    QFile::remove(preparation.Page.Path());
    TSlidePageFile::Forget(preparation.Page.Path());
    WriteLog(LogSource, 3,
             QStringLiteral("Vitrelle %1 : slide '%2' was updated while it was prepared")
                 .arg(FVitrelle ? FVitrelle->Name : QString(), preparation.Id));
    return true;
}

void TVitrellePlayer::FinishSlide(const TPreparation& preparation, bool made)
{
    VC_ASSERT_MAIN_THREAD();
    if (FState != psPlaying)
        return;
    if (made && DropStalePage(preparation)) {
        FSlideStatus.store(ssFailed);
        JournalMiss(preparation.Id, QStringLiteral("updated meanwhile"));
        FJournalPrepared.reset();
        return;
    }
    if (!made || !FForm->LoadPage(preparation.Page.Path(), preparation.Access)) {
        FSlideStatus.store(ssFailed);
        JournalMiss(preparation.Id, QStringLiteral("rendering failed"));
        FJournalPrepared.reset();
        WriteLog(LogSource, 1,
                 QStringLiteral("Slide of ID '%1' and type '%2' has no content")
                     .arg(preparation.Id, preparation.TypeName));
        return;
    }
    FJournalPreparedLoaded = true;
}

void TVitrellePlayer::SlideReady()
{
    if (const ISlideView* back = FForm->SlideStack().Back())
        FPreparedUntilEnd.store(back->UntilEndMs());
    FSlideStatus.store(ssReady);
}

TJournalDisplay TVitrellePlayer::JournalDisplay() const
{
    if (FDevice == nullptr)
        return {};
    return TJournalDisplay{FDevice->GetDisplayName(), FDevice->Monitor ? FDevice->Monitor->Name : QString(),
                           FDevice->Info().GetManufacturer(), FDevice->Info().GetModel(),
                           FDevice->Info().GetSerial()};
}

void TVitrellePlayer::SetDisplayPresent(bool present)
{
    VC_ASSERT_MAIN_THREAD();
    if (!present)
        JournalSlideLeft(QStringLiteral("display lost"));
    FDisplayPresent = present;
}

void TVitrellePlayer::JournalSwap()
{
    VC_ASSERT_MAIN_THREAD();
    JournalSlideLeft(QStringLiteral("next"));
    if (!FJournalPrepared || !FDisplayPresent) {
        FJournalPrepared.reset();
        return;
    }
    FJournalOnScreen = std::move(FJournalPrepared);
    FJournalPrepared.reset();
    FJournalOnScreen->Appeared =
        FServices.WallClock ? FServices.WallClock->Now() : QDateTime::currentDateTime();
    FJournalOnScreen->Since = FServices.Clock->Now();
    if (FCapture->Due(FJournalOnScreen->Since))
        CaptureScreen();
}

void TVitrellePlayer::CaptureScreen()
{
    VC_ASSERT_MAIN_THREAD();
    ISlideView* front = FForm->SlideStack().Front();
    if (FState != psPlaying || front == nullptr)
        return;
    FCapture->Write(JournalDisplay().Name, front->Widget().grab().toImage(), FServices.Clock->Now());
}

void TVitrellePlayer::JournalSlideLeft(const QString& how)
{
    VC_ASSERT_MAIN_THREAD();
    if (!FJournalOnScreen || !FVitrelle)
        return;
    const qint64 shown = (FServices.Clock->Now() - FJournalOnScreen->Since).count();
    RecordPlayEvent(TPlayRecord{JournalDisplay(), FVitrelle->Id, FVitrelle->Name, FJournalOnScreen->Id,
                                FJournalOnScreen->Type, FJournalOnScreen->Appeared,
                                std::max<qint64>(shown, 0), how});
    FJournalOnScreen.reset();
}

void TVitrellePlayer::JournalMiss(const QString& slideId, const QString& reason)
{
    VC_ASSERT_MAIN_THREAD();
    if (!FVitrelle || !FDisplayPresent)
        return;
    RecordPlayEvent(
        TMissRecord{JournalDisplay(), FVitrelle->Id, slideId,
                    FServices.WallClock ? FServices.WallClock->Now() : QDateTime::currentDateTime(), reason});
}

void TVitrellePlayer::ThreadTerminated()
{
    JournalSlideLeft(QStringLiteral("stop"));
    FJournalPrepared.reset();
    RecordPlayEvent(TStateRecord{JournalDisplay().Name, false, std::nullopt});
    FState = psLoaded;
    if (FHoldingScreen) {
        FHoldingScreen = false;
        FServices.ScreenSaver->Resume();
    }
}

// ---- schedule source ----

QString TVitrellePlayer::GetSourceName() const
{
    if (FDevice == nullptr)
        return QStringLiteral("Player");
    return SourceNameOf(FDevice->GetSourceName()); // the device's copy off the main thread
}

QString TVitrellePlayer::SourceNameOf(const QString& displayName)
{
    return QStringLiteral("Player %1").arg(displayName);
}

std::unique_ptr<TScheduleAction> TVitrellePlayer::CreateDefaultAction(qint32 actionCode)
{
    if (actionCode == PlayAction) {
        const QStringList params{SlideDurationParam + QStringLiteral("=10")};
        return TScheduleAction::CreateAction(this, PlayAction, 0, QTime(8, 5), false, &params);
    }
    if (actionCode == StopAction)
        return TScheduleAction::CreateAction(this, StopAction, 0, QTime(22, 55), false);
    return nullptr;
}

QString TVitrellePlayer::GetActionDescription(const TScheduleAction* action) const
{
    if (action == nullptr)
        return {};
    if (action->Action == PlayAction)
        return QStringLiteral("Play vitrelle ID = '%1'").arg(action->ParamValue(VitrelleIdParam));
    if (action->Action == StopAction)
        return QStringLiteral("Stop vitrelle");
    return {};
}

void TVitrellePlayer::FilterActions(TScheduleActionList& actions)
{
    // Play and stop due in one pass: only the later one runs.
    if (actions.Count() == 2)
        actions.Delete(0);
}

bool TVitrellePlayer::ExecuteAction(TScheduleAction* action)
{
    if (action == nullptr)
        return false;
    if (action->Action == PlayAction) {
        const QString id = action->ParamValue(VitrelleIdParam);
        if (id.isEmpty())
            return false;
        const qint32 seconds =
            TextToInt(action->ParamValue(SlideDurationParam)).value_or(DefaultSlideSeconds);
        // The window, its views and the device's name belong to the main thread; the scheduler's lane waits
        // for the outcome.
        bool played = false;
        RunOnMainThread([&] {
            SetSlideDuration(
                seconds, QStringLiteral("%1, scheduled play of vitrelle ID = '%2'").arg(GetSourceName(), id));
            played = Play(id);
        });
        return played;
    }
    if (action->Action == StopAction) {
        bool stopped = false;
        RunOnMainThread([&] { stopped = StopPlaying(true); });
        return stopped;
    }
    return false;
}
