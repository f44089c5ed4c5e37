#include "LogCapture.h"
#include "ManualClock.h"
#include "ScheduleAction.h"
#include "TestFiles.h"
#include "TestScheduleSource.h"
#include "VitrelleScheduler.h"

#include <QTimeZone>

#include <gtest/gtest.h>

#include <ctime>

namespace {

struct TRescheduleCase
{
    const char* Name;
    quint8 Kind;
    QDateTime Next, Now, Expected;
    const char* Word;
};

const TRescheduleCase RescheduleCases[] = {
    {"daily Friday", 0, At(4, 8), At(4, 9), At(5, 8), "tomorrow"},
    {"daily Sunday", 0, At(6, 8), At(6, 9), At(7, 8), "tomorrow"},
    {"daily run late", 0, At(4, 8), At(6, 20), At(5, 8), "tomorrow"}, // from the next time, not from now
    {"Monday to Friday, Thursday", 1, At(3, 8), At(3, 9), At(4, 8), "tomorrow"},
    {"Monday to Friday, Friday", 1, At(4, 8), At(4, 9), At(7, 8), "Monday"},
    {"Monday to Friday, Saturday", 1, At(5, 8), At(5, 9), At(7, 8), "Monday"},
    {"Monday to Friday, Sunday", 1, At(6, 8), At(6, 9), At(7, 8), "Monday"},
    {"Monday to Saturday, Friday", 2, At(4, 8), At(4, 9), At(5, 8), "tomorrow"},
    {"Monday to Saturday, Saturday", 2, At(5, 8), At(5, 9), At(7, 8), "Monday"},
    {"Monday to Saturday, Sunday", 2, At(6, 8), At(6, 9), At(7, 8), "tomorrow"},
    {"hourly", 3, At(7, 10), At(7, 13, 20), At(7, 14), ""},
    {"hourly, exactly on the hour", 3, At(7, 10), At(7, 13), At(7, 13), ""},
    {"hourly after a three-day suspend", 3, At(4, 10, 30), At(7, 13, 20), At(7, 13, 30), ""},
};

class Reschedule : public ::testing::TestWithParam<TRescheduleCase>
{
protected:
    TLogCapture Log;
    TTestSource Source{"Lobby screen"};
};

} // namespace

TEST_P(Reschedule, MovesByThePeriodicityAndLogsTheWord)
{
    const TRescheduleCase& c = GetParam();
    auto action = MakeAction(Source, 0, c.Kind, c.Next.time());
    action->NextTime = c.Next;
    ASSERT_TRUE(action->Reschedule(c.Now));
    EXPECT_EQ(action->NextTime, c.Expected);
    EXPECT_EQ(Log.Lines(),
              QStringList{QStringLiteral("[3] TScheduleAction: Action 'Test action 0' for source "
                                         "'Lobby screen' is rescheduled on %1 at %2")
                              .arg(QString::fromUtf8(c.Word), c.Expected.toString("HH:mm:ss"))});
}

INSTANTIATE_TEST_SUITE_P(Table, Reschedule, ::testing::ValuesIn(RescheduleCases),
                         [](const auto& info) { return CaseName(info.index, info.param.Name); });

TEST(ScheduleAction, AnInvalidKindIsNotRescheduled)
{
    TLogCapture log;
    TTestSource source("Lobby screen");
    for (const quint8 kind : {quint8(4), quint8(7), TActionPeriodicity::Unset}) {
        auto action = MakeAction(source, 0, kind, QTime(8, 0));
        action->NextTime = At(4, 8);
        EXPECT_FALSE(action->Reschedule(At(4, 9))) << int(kind);
        EXPECT_EQ(action->NextTime, At(4, 8));
    }
    EXPECT_TRUE(log.Events().empty());
}

TEST(ScheduleAction, AWeekPatternActionSetOnAFreeDayWaitsForItsNextDay)
{
    TTestSource source("Lobby screen");
    auto weekdays = MakeAction(source, 0, TActionPeriodicity::MondayToFriday, QTime(8, 0));
    auto withSaturday = MakeAction(source, 0, TActionPeriodicity::MondayToSaturday, QTime(8, 0));
    weekdays->ResetNextTime(QDate(2026, 12, 5)); // Saturday
    withSaturday->ResetNextTime(QDate(2026, 12, 5));
    EXPECT_EQ(weekdays->NextTime, At(7, 8));
    EXPECT_EQ(withSaturday->NextTime, At(5, 8));
    withSaturday->ResetNextTime(QDate(2026, 12, 6)); // Sunday
    EXPECT_EQ(withSaturday->NextTime, At(7, 8));
}

TEST(ScheduleAction, EqualsIgnoresNextTimeAndSecondsButNothingElse)
{
    TTestSource source("Lobby screen"), other("Hall screen");
    const QStringList params{"vitrelleID=Lobby", "diapositiveDuration=10"};
    const QStringList otherCase{"vitrelleID=lobby", "diapositiveDuration=10"};
    const QStringList otherOrder{"diapositiveDuration=10", "vitrelleID=Lobby"};
    const auto make = [&](TTestSource& s, qint32 code, quint8 kind, QTime time, bool enabled,
                          const QStringList* p) {
        return TScheduleAction::CreateAction(&s, code, kind, time, enabled, p);
    };
    const auto base = make(source, 0, 0, QTime(8, 5), true, &params);
    auto later = base->Clone();
    later->NextTime = At(1, 1, 0, 0, 1);
    EXPECT_TRUE(base->Equals(later.get()));
    EXPECT_TRUE(base->Equals(make(source, 0, 0, QTime(8, 5, 59), true, &params).get()));

    EXPECT_FALSE(base->Equals(make(other, 0, 0, QTime(8, 5), true, &params).get()));
    EXPECT_FALSE(base->Equals(make(source, 1, 0, QTime(8, 5), true, &params).get()));
    EXPECT_FALSE(base->Equals(make(source, 0, 1, QTime(8, 5), true, &params).get()));
    EXPECT_FALSE(base->Equals(make(source, 0, 0, QTime(8, 6), true, &params).get()));
    EXPECT_FALSE(base->Equals(make(source, 0, 0, QTime(8, 5), false, &params).get()));
    EXPECT_FALSE(base->Equals(make(source, 0, 0, QTime(8, 5), true, &otherCase).get()));
    EXPECT_FALSE(base->Equals(make(source, 0, 0, QTime(8, 5), true, &otherOrder).get()));
    EXPECT_FALSE(base->Equals(nullptr));
}

// ---- XML form ------------------------------------------------------------------------------------------

namespace {

struct TLoadCase
{
    const char* Name;
    const char* Element;
    const char *Source, *Action, *Kind, *Time, *Enabled; // null: attribute missing
    const char* Children;
    const char* Expected;          // "code kind time on|off params", or "none"
    const char* Message = nullptr; // the one log line expected, if any
};

const TLoadCase LoadCases[] = {
    {"complete", "ScheduleAction", "Player 1", "1", "2", "22:55:00", "-1",
     "<vitrelleID>12</vitrelleID><diapositiveDuration>10</diapositiveDuration>",
     "1 2 22:55 on vitrelleID=12|diapositiveDuration=10"},
    {"source in another case", "ScheduleAction", "PLAYER 1", "0", "0", "08:00", "-1", "", "0 0 08:00 on "},
    {"element in another case", "scheduleaction", "Player 1", "0", "0", "08:00", "-1", "", "0 0 08:00 on "},
    {"unknown source", "ScheduleAction", "Player 9", "0", "0", "08:00", "-1", "", "none"},
    {"no source", "ScheduleAction", nullptr, "0", "0", "08:00", "-1", "", "none"},
    {"another element", "Action", "Player 1", "0", "0", "08:00", "-1", "", "none"},
    {"negative code", "ScheduleAction", "Player 1", "-5", "0", "08:00", "-1", "", "-5 0 08:00 on "},
    {"huge code", "ScheduleAction", "Player 1", "99999999999", "0", "08:00", "-1", "", "-1 0 08:00 on "},
    {"code not a number", "ScheduleAction", "Player 1", "on", "0", "08:00", "-1", "", "-1 0 08:00 on "},
    {"no code", "ScheduleAction", "Player 1", nullptr, "0", "08:00", "-1", "", "-1 0 08:00 on "},
    {"unknown kind", "ScheduleAction", "Player 1", "0", "7", "08:00", "-1", "", "0 7 08:00 on "},
    {"kind not a number", "ScheduleAction", "Player 1", "0", "daily", "08:00", "-1", "", "0 255 08:00 on "},
    {"time in twelve hours", "ScheduleAction", "Player 1", "0", "0", "8:05:00 PM", "-1", "", "0 0 20:05 on "},
    {"time with dots", "ScheduleAction", "Player 1", "0", "0", "20.05.00", "-1", "", "0 0 20:05 on "},
    {"time not a time", "ScheduleAction", "Player 1", "0", "0", "8h", "-1", "", "0 0 00:00 off ",
     "[2] TScheduleAction: Cannot read the time of day '8h' of the ScheduleAction element in line 1 (source "
     "'Player 1', action 0): the action is disabled"},
    {"time out of range", "ScheduleAction", "Player 1", "1", "0", "25:00", "-1", "", "1 0 00:00 off ",
     "[2] TScheduleAction: Cannot read the time of day '25:00' of the ScheduleAction element in line 1 "
     "(source 'Player 1', action 1): the action is disabled"},
    {"no time", "ScheduleAction", "Player 1", "0", "0", nullptr, "-1", "", "0 0 00:00 off ",
     "[2] TScheduleAction: Cannot read the time of day '' of the ScheduleAction element in line 1 (source "
     "'Player 1', action 0): the action is disabled"},
    {"enabled yes", "ScheduleAction", "Player 1", "0", "0", "08:00", "yes", "", "0 0 08:00 off "},
    {"enabled TRUE", "ScheduleAction", "Player 1", "0", "0", "08:00", "TRUE", "", "0 0 08:00 on "},
    {"enabled 2", "ScheduleAction", "Player 1", "0", "0", "08:00", "2", "", "0 0 08:00 on "},
    {"enabled missing", "ScheduleAction", "Player 1", "0", "0", "08:00", nullptr, "", "0 0 08:00 off "},
    {"duplicate parameter", "ScheduleAction", "Player 1", "0", "0", "08:00", "-1", "<a>1</a><b>2</b><a>3</a>",
     "0 0 08:00 on a=3|b=2"},
    {"empty parameter", "ScheduleAction", "Player 1", "0", "0", "08:00", "-1", "<a>1</a><b/><a></a>",
     "0 0 08:00 on "},
    {"text and comments", "ScheduleAction", "Player 1", "0", "0", "08:00", "-1",
     "\n  <!-- id --><a>x, y = z</a>\n", "0 0 08:00 on a=x, y = z"},
};

QByteArray ElementXml(const TLoadCase& c)
{
    QByteArray xml = QByteArray("<") + c.Element;
    const std::pair<const char*, const char*> attributes[] = {{"Source", c.Source},
                                                              {"Action", c.Action},
                                                              {"Periodicity", c.Kind},
                                                              {"Time", c.Time},
                                                              {"Enabled", c.Enabled}};
    for (const auto& [name, value] : attributes)
        if (value != nullptr)
            xml += QByteArray(" ") + name + "=\"" + value + "\"";
    return xml + ">" + c.Children + "</" + c.Element + ">";
}

QString Describe(const TScheduleAction* action)
{
    if (action == nullptr)
        return "none";
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(QString::number(action->Action), QString::number(action->Periodicity.Kind),
             action->Periodicity.Time.toString("HH:mm"), action->Enabled ? "on" : "off",
             action->Params.join('|'));
}

class LoadAction : public ::testing::TestWithParam<TLoadCase>
{
protected:
    TLogCapture Log;
    TTestSource Source{"Player 1"};
    TVitrelleScheduler Scheduler{std::make_shared<TManualClock>()};
};

} // namespace

TEST_P(LoadAction, ReadsWithFallbacksAndReportsUnreadableTimes)
{
    Scheduler.RegisterSource(&Source);
    TXmlDocument document;
    ASSERT_TRUE(document.LoadFromBytes(ElementXml(GetParam())));
    const auto action = TScheduleAction::LoadFromXML(document.DocumentElement(), &Scheduler);
    EXPECT_EQ(Describe(action.get()), GetParam().Expected);
    const char* message = GetParam().Message;
    EXPECT_EQ(Log.Lines(), message != nullptr ? QStringList{QString::fromUtf8(message)} : QStringList());
}

INSTANTIATE_TEST_SUITE_P(Inputs, LoadAction, ::testing::ValuesIn(LoadCases),
                         [](const auto& info) { return CaseName(info.index, info.param.Name); });

TEST(ScheduleAction, SavesAttributesInOrderAndParametersAsElementText)
{
    TTestSource source("Player 1");
    TVitrelleScheduler scheduler(std::make_shared<TManualClock>());
    scheduler.RegisterSource(&source);
    const QStringList params{"vitrelleID=lobby,hall", "title=a=b & <c> caf\u00e9 \u2615", "=orphan",
                             "no separator", "empty="};
    auto action = TScheduleAction::CreateAction(&source, -5, 0, QTime(8, 5), true, &params);

    TXmlDocument document;
    const TXmlNode root = document.CreateDocumentElement("Schedule");
    ASSERT_TRUE(action->SaveToXML(&document, root));
    EXPECT_EQ(
        document.SaveToBytes(),
        "<Schedule><ScheduleAction Source=\"Player 1\" Action=\"-5\" Periodicity=\"0\" Time=\"08:05:00\" "
        "Enabled=\"-1\"><vitrelleID>lobby,hall</vitrelleID><title>a=b &amp; &lt;c&gt; caf\xc3\xa9 "
        "\xe2\x98\x95</title><empty/></ScheduleAction></Schedule>");
    const auto loaded = TScheduleAction::LoadFromXML(root.ChildElements().at(0), &scheduler);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->Params, QStringList({"vitrelleID=lobby,hall", "title=a=b & <c> caf\u00e9 \u2615"}));
    EXPECT_EQ(TScheduleAction::LoadFromXML(root.ChildElements().at(0), nullptr), nullptr);
}

// ---- Daylight-saving changes ---------------------------------------------------------------------------

namespace {

// Runs the test in the Europe/Paris zone (clocks go forward at 02:00 on 29 March 2026 and back at 03:00 on
// 25 October 2026), whatever the zone of the machine.
class ParisTime : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FHadZone = qEnvironmentVariableIsSet("TZ");
        FSavedZone = qgetenv("TZ");
        qputenv("TZ", "Europe/Paris");
        tzset();
        ASSERT_EQ(QTimeZone::systemTimeZoneId(), "Europe/Paris");
        ASSERT_EQ(At(1, 12, 0, 0, 7).offsetFromUtc(), 7200);
        ASSERT_EQ(At(1, 12, 0, 0, 1).offsetFromUtc(), 3600);
    }
    void TearDown() override
    {
        if (FHadZone)
            qputenv("TZ", FSavedZone);
        else
            qunsetenv("TZ");
        tzset();
    }

    std::unique_ptr<TScheduleAction> Action(quint8 kind, const QDateTime& next)
    {
        auto action = MakeAction(Source, 0, kind, next.time());
        action->NextTime = next;
        return action;
    }

    TLogCapture Log;
    TTestSource Source{"Lobby screen"};

private:
    bool FHadZone = false;
    QByteArray FSavedZone;
};

} // namespace

TEST_F(ParisTime, ADayLaterKeepsTheTimeOfDay)
{
    auto spring = Action(0, At(28, 8, 0, 0, 3));
    ASSERT_TRUE(spring->Reschedule(At(28, 9, 0, 0, 3)));
    EXPECT_EQ(spring->NextTime, At(29, 8, 0, 0, 3));
    EXPECT_EQ(At(28, 8, 0, 0, 3).secsTo(spring->NextTime), 23 * 3600);

    auto autumn = Action(1, At(23, 8, 0, 0, 10)); // Friday to Monday over the change
    ASSERT_TRUE(autumn->Reschedule(At(23, 9, 0, 0, 10)));
    EXPECT_EQ(autumn->NextTime, At(26, 8, 0, 0, 10));
    EXPECT_EQ(At(23, 8, 0, 0, 10).secsTo(autumn->NextTime), (3 * 24 + 1) * 3600);
}

TEST_F(ParisTime, ASkippedTimeOfDayRunsWhenTheClocksHaveGoneForward)
{
    auto action = Action(0, At(28, 2, 30, 0, 3));
    ASSERT_TRUE(action->Reschedule(At(28, 3, 0, 0, 3)));
    EXPECT_EQ(action->NextTime, At(29, 3, 0, 0, 3)); // 02:30 does not exist that night
    EXPECT_EQ(action->NextTime.offsetFromUtc(), 7200);
    ASSERT_TRUE(action->Reschedule(At(29, 4, 0, 0, 3)));
    EXPECT_EQ(action->NextTime, At(30, 2, 30, 0, 3)) << "back to its own time the day after";
    EXPECT_EQ(Log.Lines().at(0), "[3] TScheduleAction: Action 'Test action 0' for source 'Lobby screen' is "
                                 "rescheduled on tomorrow at 03:00:00");

    action->NextTime = QDateTime(TScheduleAction::TimeOnlyDate, QTime(2, 30));
    action->ResetNextTime(QDate(2026, 3, 29));
    EXPECT_EQ(action->NextTime, At(29, 3, 0, 0, 3));
}

TEST_F(ParisTime, HourlyActionsCountElapsedHours)
{
    auto spring = Action(3, At(29, 1, 15, 0, 3));         // CET
    ASSERT_TRUE(spring->Reschedule(At(29, 3, 20, 0, 3))); // CEST, one hour and five minutes later
    EXPECT_EQ(spring->NextTime, At(29, 4, 15, 0, 3));
    auto autumn = Action(3, At(25, 1, 15, 0, 10));
    ASSERT_TRUE(autumn->Reschedule(At(25, 1, 20, 0, 10)));
    EXPECT_EQ(autumn->NextTime.time(), QTime(2, 15));
    EXPECT_EQ(autumn->NextTime.offsetFromUtc(), 7200) << "the first of the two 02:15";
}

// Parameters read from a file are applied in file order as SetParamValue applies them: a repeated name (in
// any letter case) replaces the value in place, an empty value removes the parameter.
TEST(ScheduleAction, ParametersLoadAsIfSetOneByOne)
{
    TTestSource source("Player 1");
    TVitrelleScheduler scheduler(std::make_shared<TManualClock>());
    scheduler.RegisterSource(&source);
    const std::vector<std::vector<std::pair<QString, QString>>> cases = {
        {{"a", "1"}, {"b", "2"}, {"A", "3"}},
        {{"a", "1"}, {"b", "2"}, {"a", ""}, {"a", "4"}, {"c", "5"}},
        {{"x", ""}, {"\u00c9t\u00e9", "1"}, {"\u00e9T\u00c9", "2"}, {"B", "3"}, {"b", ""}},
    };
    for (const auto& children : cases) {
        QByteArray xml =
            "<ScheduleAction Source=\"Player 1\" Action=\"1\" Periodicity=\"0\" Time=\"08:00:00\" "
            "Enabled=\"-1\">";
        auto expected = TScheduleAction::CreateAction(&source, 1, 0, QTime(8, 0), true);
        for (const auto& [name, value] : children) {
            xml += "<" + name.toUtf8() + ">" + value.toUtf8() + "</" + name.toUtf8() + ">";
            expected->SetParamValue(name, value);
        }
        TXmlDocument document;
        ASSERT_TRUE(document.LoadFromBytes(xml + "</ScheduleAction>"));
        const auto loaded = TScheduleAction::LoadFromXML(document.DocumentElement(), &scheduler);
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(loaded->Params, expected->Params) << xml.constData();
    }
}
