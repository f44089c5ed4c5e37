#include "Errors.h"
#include "LogCapture.h"
#include "ManualClock.h"
#include "TestFiles.h"
#include "TestScheduleSource.h"
#include "VitrelleScheduler.h"

#include <gtest/gtest.h>

namespace {

using TFilter = TTestSource::TFilter;
using TCodes = std::vector<int>;

class Scheduler : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (TTestSource* source : {&Player, &Screen, &Downloader})
            Schedule.RegisterSource(source);
    }

    TScheduleAction* Add(TTestSource& source, qint32 code, quint8 kind, QTime time, bool enabled = true)
    {
        return Schedule.AddAction(MakeAction(source, code, kind, time, enabled));
    }
    void TickAt(const QDateTime& now)
    {
        Clock->Set(now);
        Schedule.Tick();
    }

    std::shared_ptr<TManualClock> Clock = std::make_shared<TManualClock>(At(7, 10)); // Monday 10:00
    TLogCapture Log;
    TTestSource Player{"Player 1", TFilter::FirstOfTwo};
    TTestSource Screen{"Hall screen"};
    TTestSource Downloader{"Vitrelle lobby downloader", TFilter::AllWhileOffline};
    TTempFolder Folder;
    TVitrelleScheduler Schedule{Clock};
};

} // namespace

TEST_F(Scheduler, SourcesAreRegisteredOncePerNameAndDefaultActionsMadeOnce)
{
    TTestSource twin("PLAYER 1");
    Schedule.RegisterSource(&twin);
    Schedule.RegisterSource(&Player); // registered already: nothing to say
    EXPECT_EQ(Log.Lines(),
              QStringList{"[2] TVitrelleScheduler: Schedule source 'PLAYER 1' (TTestSource) is not "
                          "registered: source 'Player 1' has that name already"})
        << "a source left out is never left out silently";
    Log.Clear();
    EXPECT_EQ(Schedule.Sources(), (std::vector<IScheduleSource*>{&Player, &Screen, &Downloader}));
    EXPECT_EQ(Schedule.FindSource("vitrelle LOBBY downloader"), &Downloader);

    TScheduleAction* play = Schedule.GetAction("Player 1", 0);
    ASSERT_NE(play, nullptr);
    EXPECT_FALSE(play->Enabled);
    EXPECT_EQ(play->NextTime, At(7, 8));
    EXPECT_EQ(Schedule.GetAction("player 1", 0), play) << "a name in another case must not double the action";
    EXPECT_EQ(Schedule.GetAction("Player 1", 5), nullptr);
    EXPECT_EQ(Schedule.GetAction("Player 2", 0), nullptr);
    EXPECT_EQ(Log.Lines(),
              QStringList{"[3] TVitrelleScheduler: Action 'Test action 0' for source 'Player 1' is "
                          "scheduled at 08:00:00"});

    Schedule.UnregisterSource(&twin); // never registered: must not take the actions of "Player 1"
    EXPECT_EQ(Schedule.ActionCount(), 1);
}

// ---- The schedule file -----------------------------------------------------------------------------------

namespace {
class UnreadableSchedule : public Scheduler, public ::testing::WithParamInterface<const char*>
{
};
} // namespace

TEST_P(UnreadableSchedule, LeavesTheScheduleAsItWasWithoutAMessage)
{
    Add(Screen, 0, 0, QTime(8, 0));
    Log.Clear();
    EXPECT_FALSE(Schedule.LoadFromFile(TestDataPath(GetParam())));
    ASSERT_EQ(Schedule.ActionCount(), 1);
    EXPECT_EQ(Schedule.Actions().At(0)->Source, &Screen);
    EXPECT_TRUE(Log.Events().empty());
}

INSTANTIATE_TEST_SUITE_P(Files, UnreadableSchedule,
                         ::testing::Values("schedule/missing.xml", "schedule/not_well_formed.xml",
                                           "schedule/foreign_root.xml", "schedule/empty.xml", "schedule"),
                         [](const auto& info) { return CaseName(info.index, info.param); });

TEST_F(Scheduler, LoadsAHandWrittenFileAndDropsUnknownSources)
{
    Add(Screen, 0, 0, QTime(8, 0)); // replaced by the file's schedule
    Log.Clear();
    ASSERT_TRUE(Schedule.LoadFromFile(TestDataPath("schedule/hand_written.xml")));
    const TScheduleActionList& actions = Schedule.Actions();
    ASSERT_EQ(actions.Count(), 2);
    EXPECT_EQ(actions.At(0)->Params, QStringList{"vitrelleID=lobby"}); // sorted by time
    EXPECT_EQ(actions.At(0)->NextTime, At(7, 8, 5));
    EXPECT_FALSE(actions.At(0)->Enabled);
    EXPECT_EQ(actions.At(1)->NextTime, At(7, 22, 55));
    EXPECT_TRUE(actions.At(1)->Enabled);
    EXPECT_EQ(
        Log.Lines(),
        QStringList({"[3] TVitrelleScheduler: Action 'Test action 1' for source 'Player 1' is scheduled at "
                     "22:55:00",
                     "[3] TVitrelleScheduler: Action 'Test action 0' for source 'Player 1' is scheduled at "
                     "08:05:00"}));
}

TEST_F(Scheduler, SavingAndLoadingGiveAnEqualSchedule)
{
    const QStringList params{"vitrelleID=lobby,hall", "diapositiveDuration=10", "title=caf\u00e9 = \u2615"};
    Schedule.AddAction(TScheduleAction::CreateAction(&Player, 0, 1, QTime(8, 5), true, &params));
    Add(Player, 1, 2, QTime(22, 55), false);
    Add(Downloader, 0, 3, QTime(0, 0));
    Add(Screen, -3, 7, QTime(6, 30, 15));
    const QString file = Folder.File("Schedule.xml");
    ASSERT_TRUE(Schedule.SaveToFile(file));
    EXPECT_TRUE(
        ReadFileBytes(file).startsWith("<Schedule><ScheduleAction Source=\"Vitrelle lobby downloader\" "
                                       "Action=\"0\" Periodicity=\"3\" Time=\"00:00:00\" Enabled=\"-1\"/>"
                                       "<ScheduleAction Source=\"Hall screen\""));

    TVitrelleScheduler loaded(Clock);
    for (IScheduleSource* source : Schedule.Sources())
        loaded.RegisterSource(source);
    ASSERT_TRUE(loaded.LoadFromFile(file));
    EXPECT_TRUE(loaded.Equals(&Schedule));

    // A schedule that cannot be written leaves the file as it was.
    const QStringList badName{"not a name=1"};
    Schedule.AddAction(TScheduleAction::CreateAction(&Player, 0, 0, QTime(8, 5), true, &badName));
    const QByteArray before = ReadFileBytes(file);
    EXPECT_THROW(Schedule.SaveToFile(file), EVitrelleError);
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_EQ(Folder.Entries(), QStringList{"Schedule.xml"});
}

// ---- The tick --------------------------------------------------------------------------------------------

TEST_F(Scheduler, APassedActionRunsOnceAtStartUpAndMovesToTomorrow)
{
    TScheduleAction* morning = Add(Screen, 0, 0, QTime(8, 0));
    TScheduleAction* evening = Add(Screen, 1, 0, QTime(23, 0));
    TScheduleAction* disabled = Add(Screen, 2, 0, QTime(7, 0), false);
    Log.Clear();
    Schedule.Tick();
    EXPECT_EQ(Screen.ExecutedCodes(), TCodes{0});
    EXPECT_EQ(morning->NextTime, At(8, 8));
    EXPECT_EQ(evening->NextTime, At(7, 23));
    EXPECT_EQ(Log.Lines(),
              QStringList{"[3] TScheduleAction: Action 'Test action 0' for source 'Hall screen' is "
                          "rescheduled on tomorrow at 08:00:00"});
    TickAt(At(7, 10, 0, 15));
    TickAt(At(7, 23, 0, 0)); // due strictly after its time
    EXPECT_EQ(Screen.ExecutedCodes(), TCodes{0});
    TickAt(At(7, 23, 0, 15));
    TickAt(At(9, 12));
    EXPECT_EQ(Screen.ExecutedCodes(), TCodes({0, 1, 0, 1}));
    EXPECT_EQ(disabled->NextTime, At(7, 7)) << "a disabled action never runs nor moves";
}

TEST_F(Scheduler, OfTwoDueActionsOfASourceOnlyTheLaterRunsAndBothMoveOn)
{
    TScheduleAction* play = Add(Player, 0, 0, QTime(8, 5));
    TScheduleAction* stop = Add(Player, 1, 0, QTime(9, 0));
    Log.Clear();
    Schedule.Tick();
    EXPECT_EQ(Player.ExecutedCodes(), TCodes{1});
    EXPECT_EQ(play->NextTime, At(8, 8, 5));
    EXPECT_EQ(stop->NextTime, At(8, 9));
    EXPECT_EQ(Log.Lines().size(), 2) << "the superseded action is logged as moved on too";
    TickAt(At(7, 10, 0, 15)); // the removed play action is not offered again alone
    TickAt(At(8, 8, 6));
    EXPECT_EQ(Player.ExecutedCodes(), TCodes({1, 0}));
}

TEST_F(Scheduler, AGroupTheFilterHoldsBackWholeStaysDueUntilItRuns)
{
    Downloader.Offline = true;
    TScheduleAction* update = Add(Downloader, 0, 3, QTime(0, 0));
    Schedule.Tick();
    TickAt(At(7, 10, 0, 15));
    EXPECT_EQ(Downloader.FilterCalls, 2);
    EXPECT_TRUE(Downloader.ExecutedCodes().empty());
    EXPECT_EQ(update->NextTime, At(7, 0));
    Downloader.Offline = false;
    TickAt(At(7, 10, 0, 30));
    EXPECT_EQ(Downloader.ExecutedCodes(), TCodes{0});
    EXPECT_EQ(update->NextTime, At(7, 11)) << "hourly: the first hour not before the present moment";
}

TEST_F(Scheduler, FailingActionsAndFiltersAreLoggedAndTheScheduleGoesOn)
{
    Screen.ThrowOnCode = 0;
    TScheduleAction* failing = Add(Screen, 0, 0, QTime(8, 0));
    Add(Screen, 1, 0, QTime(9, 0));
    Player.ThrowInFilter = true;
    TScheduleAction* filtered = Add(Player, 0, 0, QTime(8, 5));
    Log.Clear();
    Schedule.Tick();
    EXPECT_EQ(Screen.ExecutedCodes(), TCodes({0, 1})) << "the next action still runs";
    EXPECT_EQ(failing->NextTime, At(8, 8));
    EXPECT_TRUE(Player.ExecutedCodes().empty());
    EXPECT_EQ(filtered->NextTime, At(7, 8, 5)) << "a failed filter leaves its actions due";
    EXPECT_TRUE(Log.Lines().contains("[1] TTestSource: Serial port of Hall screen is not open"));
    EXPECT_TRUE(Log.Lines().contains("[1] TTestSource: filter failed"));

    Player.ThrowInFilter = false;
    TickAt(At(8, 8, 6));
    EXPECT_EQ(Screen.ExecutedCodes(), TCodes({0, 1, 0}));
    EXPECT_EQ(Player.ExecutedCodes(), TCodes{0});
}

TEST_F(Scheduler, AfterASuspendEachRunMovesOnePeriodAndUnknownKindsRunOnce)
{
    TScheduleAction* daily = Add(Screen, 0, 0, QTime(8, 0));
    TScheduleAction* hourly = Add(Downloader, 0, 3, QTime(0, 30));
    Add(Player, 0, 7, QTime(9, 0));
    TickAt(At(10, 10)); // Thursday: the machine slept since Monday morning
    EXPECT_EQ(hourly->NextTime, At(10, 10, 30)) << "hourly catches up in one run";
    for (int tick = 0; tick < 4; ++tick) {
        Clock->AdvanceSeconds(15);
        Schedule.Tick();
    }
    EXPECT_EQ(Screen.ExecutedCodes(), TCodes({0, 0, 0, 0})) << "Monday, Tuesday, Wednesday, Thursday";
    EXPECT_EQ(daily->NextTime, At(11, 8));
    EXPECT_EQ(Downloader.ExecutedCodes(), TCodes{0});
    EXPECT_EQ(Player.ExecutedCodes(), TCodes{0});
    EXPECT_EQ(Schedule.ActionCount(), 2) << "the action of kind 7 has left the schedule";
}

TEST_F(Scheduler, AnUnregisteredSourceIsNeverCalledAgain)
{
    Add(Screen, 0, 0, QTime(8, 0));
    Add(Player, 0, 0, QTime(8, 5));
    Schedule.UnregisterSource(&Screen);
    Screen.Gone = true;
    EXPECT_EQ(Schedule.ActionCount(), 1);
    Schedule.Tick();
    EXPECT_EQ(Screen.CallsWhileGone, 0);
    EXPECT_EQ(Player.ExecutedCodes(), TCodes{0});
}

TEST_F(Scheduler, CopiesAreDueTodayAndNeverTick)
{
    Add(Screen, 0, 0, QTime(8, 0));
    Add(Player, 1, 0, QTime(22, 55));
    Schedule.Tick(); // moves the 08:00 action to tomorrow
    const auto copy = Schedule.Clone();
    EXPECT_TRUE(copy->Equals(&Schedule));
    EXPECT_EQ(copy->Actions().At(0)->NextTime, At(7, 8));
    EXPECT_FALSE(copy->IsTicking());

    TVitrelleScheduler other(Clock);
    other.RegisterSource(&Screen);
    other.RegisterSource(&Player);
    other.Assign(copy.get());
    EXPECT_TRUE(other.Equals(&Schedule));
    EXPECT_EQ(other.Sources(), (std::vector<IScheduleSource*>{&Screen, &Player})) << "sources are not copied";
    other.Clear();
    EXPECT_EQ(other.ActionCount(), 0);
}

// The Schedule page edits one copy, applies it to the live scheduler and saves another.
TEST_F(Scheduler, ACopyIsEditedAppliedAndSavedWithoutTheLiveSources)
{
    Add(Screen, 0, 0, QTime(8, 0));
    const auto working = Schedule.Clone();
    const auto saved = Schedule.Clone();
    EXPECT_TRUE(working->Sources().empty());
    TScheduleAction* play = working->GetAction("player 1", 0); // made by the live source
    ASSERT_NE(play, nullptr);
    EXPECT_NE(play->Source, &Player) << "a copy holds no source of the live scheduler";
    EXPECT_EQ(play->Source->GetSourceName(), "Player 1");
    EXPECT_EQ(working->GetAction("Player 9", 0), nullptr);
    play->Enabled = true;
    EXPECT_EQ(Schedule.ActionCount(), 1) << "editing the copy leaves the live schedule alone";
    EXPECT_FALSE(working->Equals(&Schedule));

    Schedule.Assign(working.get()); // Apply
    EXPECT_TRUE(working->Equals(&Schedule));
    EXPECT_EQ(Schedule.GetAction("Player 1", 0)->Source, &Player);
    EXPECT_FALSE(saved->Equals(working.get()));
    saved->Assign(working.get()); // Save
    EXPECT_TRUE(saved->Equals(working.get()));

    working->StartTicking();
    working->Tick();
    EXPECT_FALSE(working->IsTicking());
    EXPECT_TRUE(Player.ExecutedCodes().empty()) << "a copy never runs an action";
}

// A display given another name keeps its actions: in the page's copies (also when the page asked for the new
// name first and got a default action), and in the schedule file, which the next start reads.
TEST_F(Scheduler, ARenamedSourceKeepsItsActionsInCopiesAndInTheFile)
{
    Add(Screen, 0, 0, QTime(8, 0));
    Add(Screen, 1, 1, QTime(20, 0));
    Add(Player, 0, 0, QTime(9, 0));
    const QString file = Folder.File("Schedule.xml");
    ASSERT_TRUE(Schedule.SaveToFile(file));
    const auto copy = Schedule.Clone();

    Screen.Name = QStringLiteral("Lobby screen");
    TScheduleAction* fresh = copy->GetAction("Lobby screen", 1);
    ASSERT_NE(fresh, nullptr);
    EXPECT_FALSE(copy->Equals(&Schedule));
    copy->RenameSource("HALL SCREEN", "Lobby screen");
    EXPECT_TRUE(copy->Equals(&Schedule)) << "the renamed source's own actions win over the fresh default";
    EXPECT_EQ(copy->Actions().Find("Lobby screen", 1)->Periodicity.Time, QTime(20, 0));
    Schedule.RenameSource("Hall screen", "Other"); // the live scheduler's sources name themselves
    EXPECT_EQ(Schedule.Actions().At(0)->Source, &Screen);

    const QByteArray before = ReadFileBytes(file);
    EXPECT_FALSE(TVitrelleScheduler::RenameSourcesInFile(file, {{"Nobody", "Somebody"}}));
    EXPECT_FALSE(TVitrelleScheduler::RenameSourcesInFile(Folder.File("none.xml"), {{"Hall screen", "X"}}));
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_TRUE(TVitrelleScheduler::RenameSourcesInFile(
        file, {{"hall screen", "Lobby screen"}, {"Lobby screen", "Not this one"}}));
    Schedule.Clear();
    ASSERT_TRUE(Schedule.LoadFromFile(file));
    EXPECT_EQ(Schedule.ActionCount(), 3) << "no action dropped as one of an unknown source";
    EXPECT_TRUE(copy->Equals(&Schedule));
}

// A copy made before the vitrelle list was reloaded (its downloaders freed and made anew under the same
// names) must neither touch the freed sources nor bring them back into the live scheduler.
TEST_F(Scheduler, ACopyReachesSourcesByNameAfterTheyWereFreed)
{
    auto downloader = std::make_unique<TTestSource>("Vitrelle 7 downloader");
    Schedule.RegisterSource(downloader.get());
    Add(*downloader, 0, 0, QTime(6, 0));
    Add(Screen, 1, 0, QTime(23, 0));
    const auto copy = Schedule.Clone();
    Schedule.UnregisterSource(downloader.get());
    downloader.reset();
    TTestSource renewed("Vitrelle 7 downloader");
    Schedule.RegisterSource(&renewed);

    const QString file = Folder.File("Schedule.xml");
    ASSERT_TRUE(copy->SaveToFile(file));
    EXPECT_TRUE(
        ReadFileBytes(file).contains("<ScheduleAction Source=\"Vitrelle 7 downloader\" Action=\"0\""));
    Schedule.Assign(copy.get());
    EXPECT_TRUE(Schedule.Equals(copy.get()));
    EXPECT_EQ(Schedule.Sources(), (std::vector<IScheduleSource*>{&Player, &Screen, &Downloader, &renewed}));
    Schedule.Tick(); // Monday 10:00: the 06:00 update is due
    EXPECT_EQ(renewed.ExecutedCodes(), TCodes{0});

    // Applied after its source left for good, the copy's action is dropped and nothing calls the source.
    const auto later = Schedule.Clone();
    Schedule.UnregisterSource(&renewed);
    renewed.Gone = true;
    Schedule.Assign(later.get());
    EXPECT_EQ(Schedule.ActionCount(), 1);
    TickAt(At(8, 10));
    EXPECT_EQ(renewed.CallsWhileGone, 0);
    EXPECT_EQ(Screen.ExecutedCodes(), TCodes{1});
}
