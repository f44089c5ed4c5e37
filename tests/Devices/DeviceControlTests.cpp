#include "DeviceControl.h"
#include "FakeSerialPorts.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

namespace {

// A control on scripted lines, with time-outs of a few milliseconds.
struct TControlFixture
{
    std::shared_ptr<TFakeSerialPorts> Ports = std::make_shared<TFakeSerialPorts>();
    TDeviceControlSettings Settings;
    TDeviceControl Control{&Settings, Ports};

    TControlFixture()
    {
        TDeviceControlSettings wanted;
        wanted.ComSettings.Port = QStringLiteral("/dev/ttyS0");
        wanted.ComSettings.TimeOutConstant = 3;
        wanted.ComSettings.TimeOutPerChar = 0;
        wanted.PowerOn = QStringLiteral("ka 01 01#13");
        wanted.PowerOnOK = QStringLiteral("a 01 OK01x");
        wanted.PowerOff = QStringLiteral("ka 01 00#13");
        wanted.PowerOffOK = QStringLiteral("a 01 OK00x");
        wanted.PowerStatus = QStringLiteral("ka 01 FF#13");
        wanted.PowerStatusOn = QStringLiteral("a 01 OK01x");
        wanted.PowerStatusOff = QStringLiteral("a 01 OK00x");
        Settings = wanted;
        Control.ApplyComSettings(Settings.ComSettings);
    }
    TFakeSerialPorts::TScript& Script() { return Ports->Script(); }
};

struct TPowerCase
{
    const char* Name;
    std::function<void(TDeviceControlSettings&)> Edit;
    QByteArray Reply;
    TPowerStatus Before;
    bool Done;
    int Opens;
};

class PowerOnTest : public ::testing::TestWithParam<TPowerCase>
{
};

TEST_P(PowerOnTest, SucceedsOnlyOnTheExactAcknowledgement)
{
    TControlFixture f;
    if (GetParam().Edit)
        GetParam().Edit(f.Settings);
    f.Script().Reply = GetParam().Reply;
    f.Control.State = GetParam().Before;
    EXPECT_EQ(f.Control.PowerOn(), GetParam().Done);
    EXPECT_EQ(f.Control.State, GetParam().Done ? pwOn : GetParam().Before);
    EXPECT_EQ(f.Script().Opens, GetParam().Opens);
    EXPECT_EQ(f.Script().OpenLines, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PowerOnTest,
    ::testing::Values(TPowerCase{"Acknowledged", nullptr, "a 01 OK01x", pwOff, true, 1},
                      TPowerCase{"WrongLetterCase", nullptr, "A 01 ok01X", pwOff, false, 1},
                      TPowerCase{"Silent", nullptr, "", pwOff, false, 1},
                      TPowerCase{"LongerReply", nullptr, "a 01 OK01x\r", pwUnknown, false, 1},
                      TPowerCase{"EmptyCodeLeavesThePortAlone",
                                 [](TDeviceControlSettings& s) { s.PowerOn.clear(); }, "a 01 OK01x", pwOff,
                                 false, 0},
                      TPowerCase{"EmptyAcknowledgementNeverMatches",
                                 [](TDeviceControlSettings& s) { s.PowerOnOK.clear(); }, "", pwOff, false,
                                 1}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TStatusCase
{
    const char* Name;
    std::function<void(TDeviceControlSettings&)> Edit;
    QByteArray Reply;
    TPowerStatus Before;
    TPowerStatus After;
    int Opens;
};

class PowerStatusTest : public ::testing::TestWithParam<TStatusCase>
{
};

TEST_P(PowerStatusTest, RecognisedRepliesSetTheStateOthersKeepIt)
{
    TControlFixture f;
    if (GetParam().Edit)
        GetParam().Edit(f.Settings);
    f.Script().Reply = GetParam().Reply;
    f.Control.State = GetParam().Before;
    EXPECT_EQ(f.Control.GetPowerStatus(), GetParam().After);
    EXPECT_EQ(f.Control.State, GetParam().After);
    EXPECT_EQ(f.Script().Opens, GetParam().Opens);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PowerStatusTest,
    ::testing::Values(TStatusCase{"On", nullptr, "a 01 OK01x", pwOff, pwOn, 1},
                      TStatusCase{"Off", nullptr, "a 01 OK00x", pwOn, pwOff, 1},
                      TStatusCase{"UnrecognisedKeepsOn", nullptr, "a 01 NG01x", pwOn, pwOn, 1},
                      TStatusCase{"SilentKeepsUnknown", nullptr, "", pwUnknown, pwUnknown, 1},
                      TStatusCase{"NoQueryCode", [](TDeviceControlSettings& s) { s.PowerStatus.clear(); },
                                  "a 01 OK00x", pwOn, pwOn, 0},
                      TStatusCase{"NoOnReply", [](TDeviceControlSettings& s) { s.PowerStatusOn.clear(); },
                                  "a 01 OK00x", pwOn, pwOn, 0},
                      TStatusCase{"NoOffReply", [](TDeviceControlSettings& s) { s.PowerStatusOff.clear(); },
                                  "a 01 OK01x", pwOff, pwOff, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(DeviceControlTest, LogsTheCodeAsConfiguredAndTheReplyInTheNotation)
{
    TLogCapture log;
    TControlFixture f;
    f.Script().Reply = QByteArray("a 01 OK01x\r\n", 12);
    QString reply;
    EXPECT_TRUE(f.Control.SendCode(QStringLiteral("ka 01 01#13"), reply));
    EXPECT_EQ(reply, QStringLiteral("a 01 OK01x\r\n"));
    EXPECT_EQ(f.Script().Written, QList<QByteArray>{QByteArray("ka 01 01\r")});
    EXPECT_EQ(
        log.Lines(),
        (QStringList{QStringLiteral("[3] TDeviceControl: Code 'ka 01 01#13' envoyé sur le port /dev/ttyS0 "
                                    "(longueur envoyé : 9) ..."),
                     QStringLiteral("[3] TDeviceControl: Réponse recue sur le port /dev/ttyS0 : "
                                    "'a#3201#32OK01x#13#10' (longueur recue : 12)")}));
}

TEST(DeviceControlTest, PortErrorsReachTheCallerWithThePortClosedAndTheStateKept)
{
    for (const bool failOpen : {true, false}) {
        SCOPED_TRACE(failOpen ? "open fails" : "line fails after 4 bytes");
        TLogCapture log;
        TControlFixture f;
        f.Control.State = pwOff;
        if (failOpen)
            f.Script().OpenError = QStringLiteral("Cannot open serial port /dev/ttyS0: busy");
        f.Script().Reply = "a 01 OK01x";
        f.Script().FailAfterBytes = 4;
        EXPECT_THROW(f.Control.PowerOn(), ESerialError);
        EXPECT_THROW(f.Control.GetPowerStatus(), ESerialError);
        EXPECT_EQ(f.Control.State, pwOff);
        EXPECT_EQ(f.Script().OpenLines, 0);
        EXPECT_FALSE(log.Contains(QStringLiteral("Réponse")));
        // The settings are untouched and the next exchange goes ahead.
        f.Script().OpenError.clear();
        f.Script().FailAfterBytes = -1;
        EXPECT_TRUE(f.Control.PowerOn());
        EXPECT_EQ(f.Control.State, pwOn);
    }
}

TEST(DeviceControlTest, AChattyDisplayIsCutOffAfterFourKiB)
{
    TControlFixture f;
    f.Script().Reply = QByteArray(5000, 'x');
    QString reply;
    EXPECT_TRUE(f.Control.SendCode(QStringLiteral("?"), reply));
    EXPECT_EQ(reply.size(), TDeviceControl::MaxReplyBytes);
}

TEST(DeviceControlTest, ACodeBeyondOneByteIsRefusedBeforeThePortOpens)
{
    TControlFixture f;
    f.Settings.PowerOn = QStringLiteral("#256");
    EXPECT_THROW(f.Control.PowerOn(), ESerialError);
    f.Settings.PowerOn = QStringLiteral("\u20ac");
    EXPECT_THROW(f.Control.PowerOn(), ESerialError);
    EXPECT_EQ(f.Script().Configs.size(), 0);
}

TEST(DeviceControlTest, ThePortChangesWhenNewSettingsAreAppliedAndTheCodesAtOnce)
{
    auto ports = std::make_shared<TFakeSerialPorts>();
    TDeviceControlSettings settings;
    settings.ComSettings.Port = QStringLiteral("/dev/ttyS4");
    TDeviceControlSettings other;
    other.ComSettings.Port = QStringLiteral("/dev/ttyUSB2");
    other.ComSettings.BaudRate = br115200;
    other.ComSettings.TimeOutConstant = 40;
    other.ComSettings.TimeOutPerChar = 3;
    other.PowerOn = QStringLiteral("on");
    TDeviceControl control(&settings, ports);
    EXPECT_EQ(control.ComPort().Port, QStringLiteral("/dev/ttyS4")) << "taken from the start";
    settings = other;
    EXPECT_EQ(control.ComPort().Port, QStringLiteral("/dev/ttyS4")) << "a copy of values opens nothing";
    EXPECT_EQ(control.Snapshot().PowerOn, QStringLiteral("on"));
    control.ApplyComSettings(settings.ComSettings);
    const TSerialPortConfig& port = control.ComPort();
    EXPECT_EQ(port.Port, QStringLiteral("/dev/ttyUSB2"));
    EXPECT_EQ(port.BaudRate, br115200);
    EXPECT_EQ(port.ReadTotalConstant, 40);
    EXPECT_EQ(port.WriteTotalConstant, 40);
    EXPECT_EQ(port.ReadTotalMultiplier, 3);
    EXPECT_EQ(port.WriteTotalMultiplier, 3);
    EXPECT_EQ(control.Snapshot().Port.Port, QStringLiteral("/dev/ttyUSB2"));
}

} // namespace
