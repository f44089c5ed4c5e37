#include "AbortRequest.h"
#include "DeviceControl.h"
#include "DisplaySimulator.h"
#include "LogCapture.h"
#include "QtSerialLine.h"

#include <QElapsedTimer>
#include <QSerialPort>

#include <gtest/gtest.h>

#include <thread>

namespace {

const QByteArray PowerOnRequest = "ka 01 01\r";
const QByteArray PowerOnReply = "a 01 OK01x";
// A binary protocol whose bytes include XON, XOFF, NUL, CR, LF and 0xFF.
const QByteArray BinaryRequest("\xAA\x01\x11\x13\x00\xFF\x0D", 7);
const QByteArray BinaryReply("\x06\x13\x11\x00\x0A\xFF", 6);

// A control talking to the simulator through the real serial port code.
struct TPtyControl
{
    TDeviceControlSettings Settings;
    TDeviceControl Control;

    TPtyControl(const QString& port, qint32 constant, qint32 perChar,
                qint64 exchangeLimitMs = TDeviceControl::MaxExchangeMs)
        : Control(&Settings, std::make_shared<TQtSerialPortFactory>(), exchangeLimitMs)
    {
        TDeviceControlSettings wanted;
        wanted.ComSettings.Port = port;
        wanted.ComSettings.TimeOutConstant = constant;
        wanted.ComSettings.TimeOutPerChar = perChar;
        wanted.PowerOn = QStringLiteral("ka 01 01#13");
        wanted.PowerOnOK = QStringLiteral("a 01 OK01x");
        wanted.PowerStatus = QStringLiteral("#170#1#17#19#0#255#13");
        wanted.PowerStatusOn = QStringLiteral("#6#19#17#0#10#255");
        wanted.PowerStatusOff = QStringLiteral("#6#19#17#0#10#0");
        Settings = wanted;
        Control.ApplyComSettings(Settings.ComSettings);
    }
};

struct TExchangeCase
{
    const char* Name;
    const char* Code; // "#" notation
    TSimulatedAnswer Answer;
    QByteArray Sent;  // what must reach the display
    QByteArray Reply; // what must come back
};

class PtyExchangeTest : public ::testing::TestWithParam<TExchangeCase>
{
};

TEST_P(PtyExchangeTest, BytesCrossTheLineUnchangedAndThePortClosesAgain)
{
    const TExchangeCase& c = GetParam();
    TDisplaySimulator display({c.Answer});
    const int openBefore = OpenDescriptorsOn(display.PortPath());
    TPtyControl pty(display.PortPath(), 150, 2);

    QString reply;
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(pty.Control.SendCode(QString::fromLatin1(c.Code), reply), !c.Reply.isEmpty());
    const qint64 ms = elapsed.elapsed();

    EXPECT_EQ(reply.toLatin1(), c.Reply);
    EXPECT_EQ(display.Received(c.Sent.size()), c.Sent);
    EXPECT_EQ(OpenDescriptorsOn(display.PortPath()), openBefore);
    // The read ends at the deadline: the constant plus the per-character time-out for what came.
    EXPECT_GE(ms, 150 + 2 * c.Reply.size() - 5);
    EXPECT_LT(ms, 150 + 2 * c.Reply.size() + 1000);
}

INSTANTIATE_TEST_SUITE_P(
    Display, PtyExchangeTest,
    ::testing::Values(
        TExchangeCase{"Ascii", "ka 01 01#13", {PowerOnRequest, PowerOnReply}, PowerOnRequest, PowerOnReply},
        TExchangeCase{
            "Binary", "#170#1#17#19#0#255#13", {BinaryRequest, BinaryReply}, BinaryRequest, BinaryReply},
        TExchangeCase{"AnswersWithinTheTimeOut",
                      "ka 01 01#13",
                      {PowerOnRequest, PowerOnReply, 60},
                      PowerOnRequest,
                      PowerOnReply},
        TExchangeCase{
            "AnswersTooLate", "ka 01 01#13", {PowerOnRequest, PowerOnReply, 500}, PowerOnRequest, ""},
        TExchangeCase{"Silent", "ka 01 01#13", {PowerOnRequest, ""}, PowerOnRequest, ""},
        TExchangeCase{"HashAloneSendsNothing", "#", {"x", "never"}, "", ""},
        TExchangeCase{"DoubleHash", "##", {"#", "ok"}, "#", "ok"},
        TExchangeCase{"ThreeDigitsAtMost", "#1234", {"{4", "ok"}, "{4", "ok"},
        TExchangeCase{"HashBeforeALetter", "#x", {"x", "ok"}, "x", "ok"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(PtyPowerTest, CommandsAndQueriesAgainstTheDisplay)
{
    TDisplaySimulator display({{PowerOnRequest, "A 01 ok01X"}, {BinaryRequest, BinaryReply}});
    TPtyControl pty(display.PortPath(), 100, 2);
    pty.Control.State = pwOff;
    EXPECT_FALSE(pty.Control.PowerOn()); // wrong letter case
    EXPECT_EQ(pty.Control.State, pwOff);
    EXPECT_EQ(pty.Control.GetPowerStatus(), pwOn);
    EXPECT_EQ(pty.Control.State, pwOn);
}

// An answer that came after its exchange had ended is no answer to the next code.
TEST(PtyPowerTest, ALateAnswerIsNotTakenForTheNextReply)
{
    TDisplaySimulator display({{PowerOnRequest, PowerOnReply, 150}});
    TPtyControl pty(display.PortPath(), 50, 2);
    EXPECT_FALSE(pty.Control.PowerOn());
    ASSERT_TRUE(display.Replied());
    QString reply;
    EXPECT_FALSE(pty.Control.SendCode(QStringLiteral("ka 01 FF#13"), reply));
    EXPECT_TRUE(reply.isEmpty()) << qPrintable(reply);
}

// A silent display blocks an exchange for the time-out constant, no longer, with the stored defaults.
TEST(PtyPowerTest, ASilentDisplayGivesAnEmptyReplyWithinTheDefaultTimeOuts)
{
    TDisplaySimulator display({});
    TPtyControl pty(display.PortPath(), TComSettings::DefaultTimeOutConstant,
                    TComSettings::DefaultTimeOutPerChar);
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(pty.Control.PowerOn());
    EXPECT_LT(elapsed.elapsed(), TComSettings::DefaultTimeOutConstant + 1000);
    EXPECT_EQ(pty.Control.State, pwUnknown);
}

// A long time-out is waited in slices: a reply that takes more than a second still arrives.
TEST(PtyPowerTest, ALongWaitStillTakesTheReply)
{
    TDisplaySimulator display({{PowerOnRequest, PowerOnReply, 1300}});
    TPtyControl pty(display.PortPath(), 2000, 2);
    EXPECT_TRUE(pty.Control.PowerOn());
}

struct TLimitCase
{
    const char* Name;
    TSimulatedAnswer Answer;
    qint32 Constant;
    qint32 PerChar;
    bool Abort;        // the program is asked to end meanwhile
    qint64 AtMostMs;   // the exchange's length
    const char* Error; // what the exchange raises; empty: none
};

class PtyLimitTest : public ::testing::TestWithParam<TLimitCase>
{
};

// However the display sends and whatever the time-outs, an exchange ends at its limit (600 ms here), and
// at once when the program is asked to end, with the port closed again.
TEST_P(PtyLimitTest, TheExchangeEndsInTime)
{
    const TLimitCase& c = GetParam();
    TDisplaySimulator display({c.Answer});
    const int openBefore = OpenDescriptorsOn(display.PortPath());
    TPtyControl pty(display.PortPath(), c.Constant, c.PerChar, 600);
    std::thread abort;
    if (c.Abort)
        abort = std::thread([&display] {
            display.Received(PowerOnRequest.size());
            AbortRequest::Request();
        });
    QElapsedTimer elapsed;
    elapsed.start();
    QString error;
    try {
        pty.Control.PowerOn();
    } catch (const ESerialError& raised) {
        error = raised.Message();
    }
    const qint64 ms = elapsed.elapsed();
    if (abort.joinable())
        abort.join();
    AbortRequest::Withdraw();
    EXPECT_LE(ms, c.AtMostMs);
    EXPECT_TRUE(QString::fromLatin1(c.Error).isEmpty() ? error.isEmpty() : error.contains(c.Error))
        << error.toStdString();
    EXPECT_EQ(OpenDescriptorsOn(display.PortPath()), openBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Display, PtyLimitTest,
    ::testing::Values(
        // One byte every 19 ms keeps a per-character time-out of 20 ms from ever running out.
        TLimitCase{"Drips", {PowerOnRequest, QByteArray(400, 'x'), 0, -1, 19}, 250, 20, false, 1000, ""},
        TLimitCase{"NeverAnswersWithALongTimeOut", {PowerOnRequest, ""}, 30000, 1000, false, 1000, ""},
        TLimitCase{"TheProgramEnds", {PowerOnRequest, ""}, 30000, 1000, true, 1000, "abandoned"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(PtyFailureTest, MissingBusyOrVanishingPortsAreErrorsThatLeaveNothingOpen)
{
    TLogCapture log;
    {
        TPtyControl pty(QStringLiteral("/dev/vitrelle-no-such-port"), 50, 2);
        pty.Control.State = pwOn;
        EXPECT_THROW(pty.Control.PowerOn(), ESerialError);
        EXPECT_EQ(pty.Control.State, pwOn);
    }
    {
        // "Custom" names no speed: refused, not opened at some other speed.
        TDisplaySimulator display({{PowerOnRequest, PowerOnReply}});
        const int openBefore = OpenDescriptorsOn(display.PortPath());
        TPtyControl pty(display.PortPath(), 50, 2);
        pty.Settings.ComSettings.BaudRate = brCustom;
        pty.Control.ApplyComSettings(pty.Settings.ComSettings);
        EXPECT_THROW(pty.Control.PowerOn(), ESerialError);
        EXPECT_EQ(OpenDescriptorsOn(display.PortPath()), openBefore);
    }
    {
        TDisplaySimulator display({{PowerOnRequest, PowerOnReply}});
        QSerialPort other(display.PortPath());
        ASSERT_TRUE(other.open(QIODevice::ReadWrite));
        const int openBefore = OpenDescriptorsOn(display.PortPath());
        TPtyControl pty(display.PortPath(), 50, 2);
        EXPECT_THROW(pty.Control.PowerOn(), ESerialError);
        EXPECT_EQ(OpenDescriptorsOn(display.PortPath()), openBefore);
        EXPECT_FALSE(log.Contains(QStringLiteral("Réponse")));
        other.close();
        EXPECT_TRUE(pty.Control.PowerOn()); // free again
        log.Clear();
    }
    {
        TSimulatedAnswer unplugged{PowerOnRequest, PowerOnReply, 0, 4};
        TDisplaySimulator display({unplugged});
        const int openBefore = OpenDescriptorsOn(display.PortPath());
        TPtyControl pty(display.PortPath(), 300, 2);
        pty.Control.State = pwOff;
        try {
            pty.Control.PowerOn();
            ADD_FAILURE() << "no error";
        } catch (const ESerialError& error) {
            EXPECT_TRUE(error.Message().contains(QStringLiteral("no longer"))) << error.what();
        }
        EXPECT_EQ(pty.Control.State, pwOff);
        EXPECT_EQ(OpenDescriptorsOn(display.PortPath()), openBefore);
    }
    EXPECT_FALSE(log.Contains(QStringLiteral("Réponse")));
}

} // namespace
