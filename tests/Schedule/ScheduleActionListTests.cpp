#include "Errors.h"
#include "ManualClock.h"
#include "ScheduleActionList.h"
#include "TestScheduleSource.h"
#include "VitrelleScheduler.h"

#include <gtest/gtest.h>

namespace {

class ActionList : public ::testing::Test
{
protected:
    TScheduleAction* Add(TTestSource& source, qint32 code, QTime time, const QDateTime& next = {})
    {
        TScheduleAction* action = List.Add(MakeAction(source, code, 0, time));
        if (next.isValid())
            action->NextTime = next;
        return action;
    }

    TTestSource Player{"Player 1"};
    TTestSource Device{"Hall screen"};
    TScheduleActionList List{true};
};

} // namespace

TEST_F(ActionList, FindComparesNamesWithCaseWhileTheSchedulerDoesNot)
{
    Add(Player, 0, QTime(8, 5));
    TScheduleAction* stop = Add(Player, 1, QTime(22, 55));
    EXPECT_EQ(List.Find("Player 1", 1), stop);
    EXPECT_EQ(List.Find("player 1", 1), nullptr);
    EXPECT_EQ(List.Find("Player 1", 2), nullptr);
    TVitrelleScheduler scheduler(std::make_shared<TManualClock>());
    scheduler.RegisterSource(&Player);
    EXPECT_EQ(scheduler.FindSource("player 1"), &Player);

    List.RemoveSourceActions("player 1");
    EXPECT_EQ(List.Count(), 2);
    List.RemoveSourceActions("Player 1");
    EXPECT_EQ(List.Count(), 0);
    EXPECT_THROW(List.At(0), EOutOfRange);
}

TEST_F(ActionList, EqualsIsOrderSensitiveAndAssignGivesCopiesDueToday)
{
    Add(Player, 0, QTime(8, 5), At(9, 8, 5));
    Add(Device, 1, QTime(23, 0), At(1, 23, 0));
    TScheduleActionList copy(true);
    copy.Add(MakeAction(Device, 7, 3, QTime(1, 0))); // replaced
    copy.Assign(&List, QDate(2026, 12, 7));
    ASSERT_TRUE(copy.Equals(&List));
    EXPECT_NE(copy.At(0), List.At(0));
    EXPECT_EQ(copy.At(0)->NextTime, At(7, 8, 5));
    EXPECT_EQ(copy.At(1)->NextTime, At(7, 23, 0));
    EXPECT_EQ(List.At(0)->NextTime, At(9, 8, 5)) << "the original keeps its time";

    TScheduleActionList reversed(false);
    reversed.Add(List.At(1));
    reversed.Add(List.At(0));
    EXPECT_FALSE(List.Equals(&reversed));
    reversed.Clear(); // a non-owning list frees nothing
    copy.Delete(1);
    EXPECT_FALSE(List.Equals(&copy));
    EXPECT_THROW(reversed.Add(MakeAction(Player, 1, 0, QTime(9, 0))), EVitrelleError);
}

TEST_F(ActionList, SortsByNextTimeKeepingTheOrderOfEqualTimes)
{
    TScheduleAction* a = Add(Player, 0, QTime(8, 5), At(8, 8, 5));
    TScheduleAction* b = Add(Player, 1, QTime(22, 55), At(7, 22, 55));
    TScheduleAction* c = Add(Device, 0, QTime(8, 0), At(8, 8, 5));
    TScheduleAction* d = Add(Device, 1, QTime(7, 0), At(7, 7, 0));
    List.SortByTime();
    const std::vector<TScheduleAction*> sorted(List.begin(), List.end());
    EXPECT_EQ(sorted, std::vector<TScheduleAction*>({d, b, a, c}));
}
