#include "ActionPeriodicity.h"
#include "EventWait.h"
#include "LogCapture.h"
#include "ManualClock.h"
#include "ScheduleRunState.h"
#include "TestFiles.h"
#include "TestScheduleSource.h"
#include "VitrelleScheduler.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using TCodes = std::vector<int>;
using namespace std::chrono_literals;

// The largest lateness of a 10 ms timer on the main thread while it is watched.
class TTimerWatch
{
public:
    TTimerWatch()
    {
        FTimer.setTimerType(Qt::PreciseTimer);
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout,
                         [this] { FLatest = std::max(FLatest, FSince.restart() - 10); });
        FSince.start();
        FTimer.start();
    }
    qint64 LatestMs() const { return FLatest; }

private:
    QTimer FTimer;
    QElapsedTimer FSince;
    qint64 FLatest = 0;
};

enum class TEnd
{
    Released,     // the slow exchange answers at last
    Applied,      // the operator applies the schedule meanwhile (every action due today again)
    Unregistered, // its display is removed meanwhile
    Stopped       // the program ends meanwhile
};

struct TSlowCase
{
    const char* Name;
    TEnd End;
};

class SlowAction : public ::testing::TestWithParam<TSlowCase>
{
};

} // namespace

// One display's slow exchange holds its own lane only: the main thread keeps serving events, another
// source's due action runs meanwhile, and the slow action's outcome (its reschedule, the next action of the
// same source) arrives when it ends. A removal or a stop meanwhile returns as soon as the action gives up.
TEST_P(SlowAction, HoldsOnlyItsOwnLane)
{
    TLogCapture log;
    auto clock = std::make_shared<TManualClock>(At(7, 10)); // Monday 10:00
    TTestSource slow("Slow screen");
    TTestSource fast("Fast screen");
    slow.BlockOnCode = 0;
    TVitrelleScheduler scheduler(clock, nullptr, 5ms);
    scheduler.RegisterSource(&slow);
    scheduler.RegisterSource(&fast);
    TScheduleAction* blocking = scheduler.AddAction(MakeAction(slow, 0, 0, QTime(8, 0)));
    TScheduleAction* after = scheduler.AddAction(MakeAction(slow, 1, 0, QTime(9, 0)));

    scheduler.StartTicking();
    ASSERT_TRUE(ServeEventsUntil([&] { return slow.Blocking.load(); }));
    const TTimerWatch watch;
    scheduler.AddAction(MakeAction(fast, 0, 0, QTime(9, 30)));
    ASSERT_TRUE(ServeEventsUntil([&] {
        return log.Contains("Action 'Test action 0' for source 'Fast screen' is rescheduled");
    })) << "another source's action runs while the slow one holds its lane";
    ServeEventsUntil([] { return false; }, 400); // dozens of ticks while the lane is busy
    // Generous for a loaded machine: held by the slow action, the timer would wait for all of it.
    EXPECT_LT(watch.LatestMs(), 300) << "the main thread went on serving its events";
    EXPECT_EQ(slow.ExecutedCodes(), TCodes{0}) << "a busy lane's due actions are neither run twice nor early";
    EXPECT_EQ(slow.FilterCalls, 1) << "a busy source is left out of the tick";
    EXPECT_FALSE(log.Contains("for source 'Slow screen' is rescheduled"));
    EXPECT_TRUE(scheduler.ActionsRunning());

    QElapsedTimer elapsed;
    elapsed.start();
    switch (GetParam().End) {
    case TEnd::Released:
        slow.Released = true;
        ASSERT_TRUE(ServeEventsUntil([&] { return !scheduler.ActionsRunning(); }));
        EXPECT_EQ(slow.ExecutedCodes(), TCodes({0, 1})) << "in their order, one at a time";
        EXPECT_EQ(blocking->NextTime, At(8, 8));
        EXPECT_EQ(after->NextTime, At(8, 9));
        break;
    case TEnd::Applied:
        scheduler.Assign(scheduler.Clone().get());
        slow.Released = true;
        // The 09:00 action had not run yet: its replacement runs at a later tick; the 08:00 one has.
        ASSERT_TRUE(ServeEventsUntil([&] { return slow.ExecutedCodes().size() >= 2; }));
        ServeEventsUntil([] { return false; }, 100);
        EXPECT_EQ(slow.ExecutedCodes(), TCodes({0, 1}));
        EXPECT_EQ(scheduler.Actions().Find("Slow screen", 0)->NextTime, At(8, 8));
        break;
    case TEnd::Unregistered:
        scheduler.UnregisterSource(&slow);
        slow.Gone = true;
        EXPECT_LT(elapsed.elapsed(), 1000);
        EXPECT_TRUE(slow.SawStop);
        EXPECT_EQ(scheduler.ActionCount(), 1);
        clock->Set(At(8, 9, 0, 1));
        ServeEventsUntil([] { return false; }, 50);
        EXPECT_EQ(slow.CallsWhileGone, 0);
        EXPECT_EQ(slow.ExecutedCodes(), TCodes{0});
        break;
    case TEnd::Stopped:
        scheduler.StopTicking();
        EXPECT_LT(elapsed.elapsed(), 1000);
        EXPECT_TRUE(slow.SawStop);
        EXPECT_FALSE(scheduler.ActionsRunning());
        EXPECT_EQ(slow.ExecutedCodes(), TCodes{0}) << "nothing more starts once the stop is asked";
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Ends, SlowAction,
                         ::testing::Values(TSlowCase{"released", TEnd::Released},
                                           TSlowCase{"applied", TEnd::Applied},
                                           TSlowCase{"unregistered", TEnd::Unregistered},
                                           TSlowCase{"stopped", TEnd::Stopped}),
                         [](const auto& info) { return CaseName(info.index, info.param.Name); });

// ---- No replay at a restart ------------------------------------------------------------------------------

namespace {

enum class TRestart
{
    NewScheduler,    // the program starts again and reads the same files
    BrokenStateFile, // ... and the state file is damaged
    AppliedCopy      // no restart: the Schedule page applies its copy
};

struct TRestartCase
{
    const char* Name;
    quint8 Kind;
    QTime Time;
    QDateTime First;   // the first run's tick
    QDateTime Restart; // the tick after the restart
    int RunsFirst;
    int RunsAtRestart;
    TRestart Way = TRestart::NewScheduler;
};

class Restart : public ::testing::TestWithParam<TRestartCase>
{
};

} // namespace

TEST_P(Restart, RunsOnlyWhatHasNotRunSince)
{
    const TRestartCase& param = GetParam();
    TLogCapture log;
    TTempFolder folder;
    const QString scheduleFile = folder.File("Schedule.xml");
    const QString stateFile = TScheduleRunState::PathBeside(scheduleFile);
    auto clock = std::make_shared<TManualClock>(param.First);
    TTestSource screen("Hall screen");
    const auto start = [&](TVitrelleScheduler& scheduler) {
        scheduler.RegisterSource(&screen);
        scheduler.UseStateFile(stateFile); // as the agent does, before the schedule
        ASSERT_TRUE(scheduler.LoadFromFile(scheduleFile));
    };
    {
        TVitrelleScheduler writer(clock);
        writer.RegisterSource(&screen);
        writer.AddAction(MakeAction(screen, 0, param.Kind, param.Time));
        ASSERT_TRUE(writer.SaveToFile(scheduleFile));
    }

    auto first = std::make_unique<TVitrelleScheduler>(clock);
    start(*first);
    first->Tick();
    ASSERT_EQ(screen.ExecutedCodes().size(), size_t(param.RunsFirst));
    if (param.RunsFirst > 0) {
        EXPECT_TRUE(ReadFileBytes(stateFile).contains("Source=\"Hall screen\" Action=\"0\""));
    }

    clock->Set(param.Restart);
    log.Clear();
    if (param.Way == TRestart::AppliedCopy) {
        first->Assign(first->Clone().get());
        first->Tick();
    } else {
        first.reset();
        if (param.Way == TRestart::BrokenStateFile)
            folder.Write(QStringLiteral("ScheduleState.xml"), "<ScheduleState><Ran Source=");
        TVitrelleScheduler second(clock);
        start(second);
        second.Tick();
        if (param.Way == TRestart::BrokenStateFile) {
            EXPECT_TRUE(log.Contains("Cannot read")) << log.Lines().join('\n').toStdString();
        }
    }
    EXPECT_EQ(screen.ExecutedCodes().size(), size_t(param.RunsFirst + param.RunsAtRestart));
    if (param.RunsFirst > 0 && param.RunsAtRestart == 0) {
        EXPECT_TRUE(log.Contains("for source 'Hall screen' ran at ")) << log.Lines().join('\n').toStdString();
    }
}

// December 2026: Monday 7, Tuesday 8, Friday 11.
INSTANTIATE_TEST_SUITE_P(
    Cases, Restart,
    ::testing::Values(TRestartCase{"daily ran, later that day", TActionPeriodicity::EveryDay, QTime(8, 0),
                                   At(7, 10), At(7, 10, 30), 1, 0},
                      TRestartCase{"daily due later that day", TActionPeriodicity::EveryDay, QTime(23, 0),
                                   At(7, 10), At(7, 23, 30), 0, 1},
                      TRestartCase{"daily ran, the next day", TActionPeriodicity::EveryDay, QTime(8, 0),
                                   At(7, 10), At(8, 9), 1, 1},
                      TRestartCase{"hourly ran, same hour", TActionPeriodicity::EveryHour, QTime(0, 15),
                                   At(7, 10, 20), At(7, 11), 1, 0},
                      TRestartCase{"hourly ran, next hour", TActionPeriodicity::EveryHour, QTime(0, 15),
                                   At(7, 10, 20), At(7, 11, 20), 1, 1},
                      TRestartCase{"weekdays ran on a Friday", TActionPeriodicity::MondayToFriday,
                                   QTime(8, 0), At(11, 10), At(11, 12), 1, 0},
                      TRestartCase{"broken state file", TActionPeriodicity::EveryDay, QTime(8, 0), At(7, 10),
                                   At(7, 10, 30), 1, 1, TRestart::BrokenStateFile},
                      TRestartCase{"applied copy", TActionPeriodicity::EveryDay, QTime(8, 0), At(7, 10),
                                   At(7, 10, 30), 1, 0, TRestart::AppliedCopy}),
    [](const auto& info) { return CaseName(info.index, info.param.Name); });
