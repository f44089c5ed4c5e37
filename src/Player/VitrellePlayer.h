#pragma once

#include "Clock.h"
#include "PlayRecords.h"
#include "ScheduleSource.h"
#include "ScreenSaver.h"
#include "SlideView.h"
#include "SteadyClock.h"
#include "ThreadLink.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class TScreenPicture;
class TThreadLink;
class TVitrelle;
class TVitrelleDevice;
class TVitrelleEnumerator;
class TVitrelleForm;
class TVitrelleRepository;
class TVitrelleScheduler;
class TVitrelleSequenceItem;

enum TPlayerState : quint8
{
    psIdle = 0,    // no vitrelle
    psLoaded = 1,  // a vitrelle, not playing
    psPlaying = 2, // the slide clock runs (or has been asked to end and has not yet)
};

// The state of the slide prepared in the back view.
enum TSlideStatus : quint8
{
    ssPreparing = 0,
    ssReady = 1,
    ssFailed = 2,
};

// What a player takes from the agent that owns it.
struct TPlayerServices
{
    // Makes the slide window's two views. Required.
    std::shared_ptr<const ISlideViewFactory> SlideViews;
    // Held while a vitrelle plays, so that the display does not blank. Required.
    std::shared_ptr<IScreenSaver> ScreenSaver;
    // The scheduler the player registers with; null (or answering null): none.
    std::function<TVitrelleScheduler*()> Scheduler;
    // The slide clock's period, and the monotonic time it runs by. Required.
    std::chrono::milliseconds Tick{1000};
    std::shared_ptr<ISteadyClock> Clock = std::make_shared<TSystemSteadyClock>();
    // The local time the play journal's records carry; null: the system's.
    std::shared_ptr<const IClock> WallClock = nullptr;
    // Where the picture of what the display shows goes (TScreenPicture); empty: nowhere.
    QString ScreensFolder = QString();
};

// Plays one vitrelle on one display device in its own slide window. The slide clock runs on a worker of its
// own: every tick it decides whether the visible slide is due to change. Steps that touch the content model
// or the window are handed to the main thread (Synchronize). The slow part of preparing a slide, rendering
// its page and writing it to the cache with its flush, runs on a thread of the page's own from a copy of what
// it needs (TSlidePageFile), so a slow template holds neither the main thread nor another display's player.
// Preparing a slide is three steps in order: the main thread moves to the next slide and takes the copy, the
// page is made, the main thread loads it into the back view. The next slide loads in the back view while the
// current one is visible; at the first tick at which the visible one has been shown for its duration, the
// back view is raised when its slide is ready, and the slide after it is prepared in every case (a slide not
// ready by then is skipped). The clock waits for a page until the visible slide is due: a page that takes
// longer is made on in the background (one at a time; a second is given up) and its slide is skipped, so a
// slow template costs its display one skipped slide, and the page is in the cache the next time round. A
// content update that comes while a page is made from the old content skips that slide, and its page is not
// kept in the cache.
//
// A slide plays at least MinSlideDuration (1 s); a shorter duration is logged once (level 2) with where it
// came from. A slide whose page asks to stay until its videos end (ISlideView::UntilEndMs) stays for their
// length instead, at most UntilEndBound times its duration; the journal has the time it was shown.
//
// As a schedule source it offers play (code 0: parameters vitrelleID and diapositiveDuration, in seconds)
// and stop (code 1); ExecuteAction may run on any link's worker (a scheduler's lane) and hands the play and
// the stop to the main thread. Everything else but the clock's work runs on the main thread.
class TVitrellePlayer : public IThread, public IScheduleSource
{
public:
    static constexpr QLatin1StringView LogSource{"TVitrellePlayer"};
    static constexpr qint32 PlayAction = 0;
    static constexpr qint32 StopAction = 1;
    static inline const QString VitrelleIdParam = QStringLiteral("vitrelleID");
    static inline const QString SlideDurationParam = QStringLiteral("diapositiveDuration");
    // Seconds per slide when neither the sequence nor the play action gives one.
    static constexpr qint32 DefaultSlideSeconds = 10;
    // A slide that plays its videos to their end stays at most this many times its duration.
    static constexpr qint64 UntilEndBound = 10;

    // The device may be null (a player without a display: no display mode, no monitor). Registers with the
    // scheduler when there is one. Raises EVitrelleError when a required service is missing.
    TVitrellePlayer(TVitrelleDevice* device, TVitrelleRepository& repository, TPlayerServices services);
    // Stops the clock, closing the window, and waits for the worker while serving its hand-overs (which no
    // longer touch anything once the clock is asked to end).
    ~TVitrellePlayer();

    TVitrellePlayer(const TVitrellePlayer&) = delete;
    TVitrellePlayer& operator=(const TVitrellePlayer&) = delete;

    // The duration of a slide when the vitrelle's sequence gives none; also while playing. Out of range
    // (below 1 s, or beyond what milliseconds in a qint32 hold) it is brought within and logged at level 2
    // with where (the player's name when empty), once for as long as the same report would repeat.
    void SetSlideDuration(qint32 seconds, const QString& where = {});
    // False for an empty id, while playing, or when the repository has no such vitrelle (then psIdle).
    // Errors of the repository's fetch are raised.
    bool LoadVitrelle(const QString& id);
    // Forgets where the loaded vitrelle stopped; psIdle. Not while playing.
    void Unload();
    // In psLoaded only: shows the window on the device's monitor and starts the clock, going on after the
    // last slide prepared when the same vitrelle is played again.
    void StartPlaying();
    // Loads the vitrelle and plays it from its first slide; false when it cannot be loaded or the player is
    // playing.
    bool Play(const QString& id);
    // Asks the clock to end (the state becomes psLoaded once the worker has ended) and closes the window when
    // asked. Never waits. Always true.
    bool StopPlaying(bool close);
    // The device's display mode and full-screen choice, when not playing.
    void ApplyDeviceSettings();
    // The device's monitor has changed (plugged in again, switched back on, moved): the window follows it,
    // and a playing device gets its configured display mode again (a display that comes back often starts
    // in its own preferred mode). True when that changed the mode.
    bool MonitorChanged();
    // The device's monitor has left the desktop (false) or come back (true): while it is away, what the
    // window shows is seen by nobody, and the play journal counts none of it (the slide on screen ends as
    // "display lost").
    void SetDisplayPresent(bool present);
    // Takes the picture of the visible slide now (the operator asks for it); nothing while not playing.
    void CaptureScreen();

    TPlayerState State() const { return FState; }
    TSlideStatus SlideStatus() const { return FSlideStatus.load(); }
    TVitrelle* Vitrelle() const { return FVitrelle.get(); }
    // The id of the slide on screen; empty while none is. Main thread.
    QString SlideOnScreen() const { return FJournalOnScreen ? FJournalOnScreen->Id : QString(); }
    TVitrelleDevice* Device() const { return FDevice; }
    TVitrelleForm& Form() const { return *FForm; }
    // Milliseconds.
    qint32 DefaultDuration() const { return FDefaultDuration.load(); }
    // How often the clock looks while the visible slide is overdue (see RunClock).
    static constexpr std::chrono::milliseconds CatchUpTick{50};
    // Ticks the clock has run through since the player was made (for benchmarks and tests that drive the
    // clock).
    qint64 TickCount() const { return FTicks.load(); }

    // IThread
    void ThreadExecute() override;
    void ThreadTerminated() override;

    // IScheduleSource. GetSourceName: any thread (the device's published name off the main thread).
    QString GetSourceName() const override;
    // The source name of the player of a display with this name.
    static QString SourceNameOf(const QString& displayName);
    std::unique_ptr<TScheduleAction> CreateDefaultAction(qint32 actionCode) override;
    QString GetActionDescription(const TScheduleAction* action) const override;
    void FilterActions(TScheduleActionList& actions) override;
    bool ExecuteAction(TScheduleAction* action) override;

private:
    void RunClock(TThreadLink& link);
    bool SlideDue(const std::optional<std::chrono::milliseconds>& lastChange,
                  std::chrono::milliseconds now) const;
    struct TPreparation;
    class TPageJob;
    std::optional<TPreparation> BeginSlide();
    void FinishSlide(const TPreparation& preparation, bool made);
    // Removes the page made from content that an update has replaced meanwhile; true when it did.
    bool DropStalePage(const TPreparation& preparation);
    void SlideReady();
    TVitrelleScheduler* Scheduler() const;

    // What the play journal is told, on the main thread: the swap that showed the prepared slide (and ended
    // the one before), the end of the slide on screen, a slide that never made it.
    struct TJournalSlide
    {
        QString Id;
        QString Type;
        QDateTime Appeared;
        std::chrono::milliseconds Since{0}; // on the slide clock
    };
    void JournalSwap();
    void JournalSlideLeft(const QString& how);
    void JournalMiss(const QString& slideId, const QString& reason);
    TJournalDisplay JournalDisplay() const;
    std::optional<TJournalSlide> FJournalPrepared; // main thread: the slide in the back view
    bool FJournalPreparedLoaded = false;           // main thread: its page went into the back view
    std::optional<TJournalSlide> FJournalOnScreen; // main thread
    bool FDisplayPresent = true;                   // main thread
    std::unique_ptr<TScreenPicture> FCapture;      // main thread

    TVitrelleDevice* const FDevice;
    TVitrelleRepository& FRepository;
    const TPlayerServices FServices;
    std::shared_ptr<TVitrelle> FVitrelle;
    std::unique_ptr<TVitrelleSequenceItem> FSequenceItem;
    TVitrelleEnumerator* FEnumerator = nullptr; // owned by the sequence item
    std::unique_ptr<TVitrelleForm> FForm;
    TPlayerState FState = psIdle; // main thread
    bool FHoldingScreen = false;  // main thread: the screen saver is suspended for the running clock
    // Shared with the worker.
    std::atomic<TSlideStatus> FSlideStatus{ssPreparing};
    std::atomic<qint32> FDefaultDuration{DefaultSlideSeconds * 1000};
    // The enumerator's duration for the slide prepared last (-1: none), read there on the main thread.
    std::atomic<qint32> FSequenceDuration{-1};
    // What the prepared slide's page asked for once ready, and the visible slide's (ISlideView::UntilEndMs).
    std::atomic<qint64> FPreparedUntilEnd{-1};
    std::atomic<qint64> FOnScreenUntilEnd{-1};
    std::atomic<qint64> FTicks{0};
    std::mutex FReportMutex;
    QString FLastDurationReport; // guarded by FReportMutex
    std::unique_ptr<TThreadLink> FLink;
};
