#include "EventWait.h"
#include "FakeSleepInhibitor.h"
#include "LogCapture.h"
#include "ManualClock.h"
#include "TestFiles.h"
#include "TestScheduleSource.h"
#include "ThreadLink.h"
#include "VitrelleScheduler.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

using TFilter = TTestSource::TFilter;

} // namespace

TEST(SchedulerThread, ActionsRunOnTheSourcesLaneAndAFailureDoesNotStopTheTicks)
{
    TLogCapture log;
    auto clock = std::make_shared<TManualClock>(At(7, 10));
    auto inhibitor = std::make_shared<TFakeSleepInhibitor>();
    TTestSource screen("Hall screen");
    screen.ThrowOnCode = 0;
    TVitrelleScheduler scheduler(clock, inhibitor, std::chrono::milliseconds(5));
    scheduler.RegisterSource(&screen);
    scheduler.AddAction(MakeAction(screen, 0, 0, QTime(8, 0)));

    scheduler.StartTicking();
    EXPECT_TRUE(scheduler.IsTicking());
    ASSERT_TRUE(ServeEventsUntil([&] { return log.Contains("rescheduled on tomorrow at 08:00:00"); }));
    EXPECT_TRUE(log.Contains("TTestSource [1] : Serial port of Hall screen is not open"));
    clock->Set(At(8, 8, 0, 1));
    ASSERT_TRUE(ServeEventsUntil([&] { return screen.ExecutedCodes().size() == 2; }))
        << "the worker went on ticking";
    const std::vector<QThread*> threads = screen.ExecutionThreads();
    for (QThread* thread : threads) {
        EXPECT_NE(thread, QCoreApplication::instance()->thread());
        EXPECT_EQ(thread, threads.front()) << "one lane per source";
    }
    EXPECT_GE(inhibitor->Calls, 2);

    scheduler.StopTicking();
    EXPECT_FALSE(scheduler.IsTicking());
    scheduler.StartTicking(); // a new worker after a stop
    clock->Set(At(9, 8, 0, 1));
    ASSERT_TRUE(ServeEventsUntil([&] { return screen.ExecutedCodes().size() == 3; }));
}

TEST(SchedulerThread, DestroyingTheSchedulerStopsTheRunningActionAndServesItsHandOver)
{
    TLogCapture log;
    auto clock = std::make_shared<TManualClock>(At(7, 10));
    TTestSource screen("Hall screen");
    screen.BlockOnCode = 0;
    bool handedOver = false;
    // A stopped exchange still hands its last word to the main thread, which the destructor serves.
    screen.OnStop = [&handedOver] { RunOnMainThread([&handedOver] { handedOver = true; }); };
    QElapsedTimer elapsed;
    {
        TVitrelleScheduler scheduler(clock);
        scheduler.RegisterSource(&screen);
        scheduler.AddAction(MakeAction(screen, 0, 0, QTime(8, 0)));
        scheduler.StartTicking();
        ASSERT_TRUE(ServeEventsUntil([&] { return screen.Blocking.load(); }));
        elapsed.start();
    }
    EXPECT_LT(elapsed.elapsed(), 2000);
    EXPECT_TRUE(screen.SawStop);
    EXPECT_TRUE(handedOver);
    EXPECT_EQ(screen.ExecutedCodes(), std::vector<int>{0});
    EXPECT_TRUE(log.Contains("Hall screen gave up"));
}

// The main thread registers, unregisters, assigns, clears and loads while the worker ticks every
// millisecond with actions due at every tick. Run under ThreadSanitizer and AddressSanitizer.
TEST(SchedulerThread, ChangesFromTheMainThreadWhileTicking)
{
    TLogCapture log(2); // the information lines of thousands of moves are of no interest here
    TTempFolder folder;
    auto clock = std::make_shared<TManualClock>(At(7, 10));
    TTestSource player("Player 1", TFilter::FirstOfTwo);
    std::vector<std::unique_ptr<TTestSource>> gone;
    TVitrelleScheduler scheduler(clock, nullptr, std::chrono::milliseconds(1));
    scheduler.RegisterSource(&player);
    scheduler.AddAction(MakeAction(player, 0, 3, QTime(8, 5)));
    scheduler.AddAction(MakeAction(player, 1, 3, QTime(8, 35)));
    const QString file = folder.File("Schedule.xml");
    ASSERT_TRUE(scheduler.SaveToFile(file));
    scheduler.StartTicking();

    std::unique_ptr<TTestSource> downloader;
    for (int round = 0; round < 300; ++round) {
        clock->AdvanceSeconds(3600);
        if (!downloader) {
            downloader = std::make_unique<TTestSource>(QStringLiteral("Vitrelle %1 downloader").arg(round),
                                                       TFilter::AllWhileOffline);
            downloader->Offline = round % 3 == 0;
            scheduler.RegisterSource(downloader.get());
            scheduler.AddAction(MakeAction(*downloader, 0, 3, QTime(0, 0)));
        } else if (round % 4 == 1) {
            scheduler.UnregisterSource(downloader.get());
            downloader->Gone = true;
            gone.push_back(std::move(downloader));
        }
        switch (round % 10) {
        case 2:
            scheduler.Assign(scheduler.Clone().get());
            break;
        case 5:
            scheduler.GetAction("player 1", 0);
            break;
        case 7:
            scheduler.LoadFromFile(file);
            break;
        case 9:
            scheduler.Clear();
            scheduler.GetAction("Player 1", 1);
            break;
        default:
            break;
        }
        ServeEventsUntil([] { return false; }, 1);
    }
    scheduler.StopTicking();

    EXPECT_FALSE(player.ExecutedCodes().empty());
    ASSERT_FALSE(gone.empty());
    for (const auto& source : gone)
        EXPECT_EQ(source->CallsWhileGone, 0) << source->Name.toStdString();
}
