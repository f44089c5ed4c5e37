#include "DevicesPageSupport.h"

#include "DisplaySimulator.h"
#include "EventWait.h"
#include "FrameVitrelleScheduler.h"
#include "MessageBox.h"
#include "QtSerialLine.h"
#include "RepositoryTestSupport.h"
#include "ScheduleAction.h"
#include "ScheduleActionList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <array>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

template <class T> T* Find(QWidget* page, const char* name)
{
    return qobject_cast<T*>(FindControlByName(page, QLatin1String(name)));
}

const QString Current1920 = QStringLiteral("1920x1080, 60 Hz, 32 bits");

TEST_F(DevicesPageTest, OneTabPerDisplayFilledFromItWithNothingToApplyOrSave)
{
    OpenPage();
    ASSERT_EQ(Tabs()->count(), 2);
    EXPECT_EQ(Tabs()->tabText(1), "Device 2");
    // The second tab's controls carry the suffix 1.
    EXPECT_EQ(Control<QLineEdit>("edDeviceName1")->text(), "Device 2");
    EXPECT_EQ(Control<QLineEdit>("edDeviceSettingFileName1")->text(), "Device 2.xml");
    EXPECT_EQ(Control<QComboBox>("cmbDeviceDisplayMode1")->currentText(), "1280x1024, 60 Hz, 32 bits");
    EXPECT_EQ(Control<QLabel>("lblDeviceModel1")->text(), Agent().Devices(1).Info().GetModel());
    EXPECT_EQ(Control<QLabel>("lblPowerStatus1")->text(), "Status: ?");
    EXPECT_EQ(Control<QPushButton>("btnPower1")->text(), "Power on");
    EXPECT_EQ(Control<QLabel>("lblPlaying1")->text(), "Playing: Idle");
    EXPECT_EQ(Control<QLabel>("lblLastPower1")->text(), "Last command: none");
    EXPECT_EQ(Control<QComboBox>("cmbDeviceDisplayMode0")->count(), 3);
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_FALSE(SaveEnabled());
}

struct TModeCase
{
    const char* Name;
    TDisplayMode Configured;
    QString Selected;
};

class ConfiguredModeTest : public DevicesPageTest, public ::testing::WithParamInterface<TModeCase>
{
};

TEST_P(ConfiguredModeTest, TheListShowsTheConfiguredModeWhenSupportedElseTheCurrentOne)
{
    WriteDeviceFile("DEVICE1.xml",
                    [](TVitrelleDeviceSettings& s) { s.DisplayMode() = GetParam().Configured; });
    OpenPage();
    EXPECT_EQ(Control<QComboBox>("cmbDeviceDisplayMode0")->currentText(), GetParam().Selected);
    EXPECT_FALSE(ApplyEnabled());
}

INSTANTIATE_TEST_SUITE_P(Devices, ConfiguredModeTest,
                         ::testing::Values(TModeCase{"Supported", TDisplayMode(1280, 720, 60, 32),
                                                     QStringLiteral("1280x720, 60 Hz, 32 bits")},
                                           TModeCase{"None", TDisplayMode(0, 0, 0, 0), Current1920},
                                           TModeCase{"Unsupported", TDisplayMode(800, 600, 60, 32),
                                                     Current1920}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TEditCase
{
    const char* Name;
    std::function<void(QWidget*)> Edit; // on the page
    QString SavedFile;
    std::function<void(const TVitrelleDeviceSettings&)> Check; // the live settings after Apply
    bool Renames = false; // a name is stored at once: Apply writes the file
};

class EditTest : public DevicesPageTest, public ::testing::WithParamInterface<TEditCase>
{
};

// Each edit is offered to Apply and Save; Apply hands it to the display and leaves Save offered (a new name
// or file name is in the display's file at once); Save writes the file and is offered no more.
TEST_P(EditTest, ApplyAndSaveFollowTheEdit)
{
    OpenPage();
    GetParam().Edit(CurrentPage);
    EXPECT_TRUE(ApplyEnabled());
    EXPECT_TRUE(SaveEnabled());
    Click("btnApplySettings");
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_TRUE(SaveEnabled()) << "the display mode the list shows is not in the file yet";
    GetParam().Check(Agent().Devices(0).Settings());
    EXPECT_EQ(QFile::exists(DeviceFile(GetParam().SavedFile)), GetParam().Renames);
    if (GetParam().Renames) {
        TVitrelleDeviceSettings stored;
        ASSERT_TRUE(stored.LoadFromFile(DeviceFile(GetParam().SavedFile)));
        GetParam().Check(stored);
    }

    Click("btnSaveSettings");
    EXPECT_FALSE(SaveEnabled());
    TVitrelleDeviceSettings saved;
    ASSERT_TRUE(saved.LoadFromFile(DeviceFile(GetParam().SavedFile)));
    GetParam().Check(saved);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, EditTest,
    ::testing::Values(
        TEditCase{"Name", [](QWidget* page) { Find<QLineEdit>(page, "edDeviceName0")->setText("Lobby"); },
                  "Device 1.xml", [](const TVitrelleDeviceSettings& s) { EXPECT_EQ(s.Name, "Lobby"); }, true},
        TEditCase{"FileName",
                  [](QWidget* page) { Find<QLineEdit>(page, "edDeviceSettingFileName0")->setText("Hall"); },
                  "Hall.xml",
                  [](const TVitrelleDeviceSettings& s) { EXPECT_EQ(s.GetFileName(), "Hall.xml"); }, true},
        TEditCase{"DisplayMode",
                  [](QWidget* page) { Find<QComboBox>(page, "cmbDeviceDisplayMode0")->setCurrentIndex(2); },
                  "Device 1.xml",
                  [](const TVitrelleDeviceSettings& s) { EXPECT_EQ(s.DisplayMode().GetWidth(), 1024); }},
        TEditCase{"FullScreen",
                  [](QWidget* page) { Find<QCheckBox>(page, "cbDeviceFullScreen0")->setChecked(true); },
                  "Device 1.xml", [](const TVitrelleDeviceSettings& s) { EXPECT_TRUE(s.FullScreen); }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DevicesPageTest, ApplyRenamesTheTabAndEditsOfOneTabStayOnIt)
{
    OpenPage();
    Tabs()->setCurrentIndex(1);
    Control<QLineEdit>("edDeviceName1")->setText("Entrance");
    Click("btnApplySettings");
    EXPECT_EQ(Tabs()->tabText(1), "[2] Entrance");
    Tabs()->setCurrentIndex(0);
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_FALSE(SaveEnabled());
    EXPECT_EQ(Agent().Devices(0).Settings().Name, "");
}

// Scheduled actions belong to a display by its name: a name another display has is refused by Apply and by
// Save alike, whatever its letter case, and nothing changes.
TEST_F(DevicesPageTest, ANameAnotherDisplayHasIsRefused)
{
    OpenPage();
    Control<QLineEdit>("edDeviceName0")->setText("DEVICE 2");
    for (const char* button : {"btnApplySettings", "btnSaveSettings"}) {
        TMessageBox::SetNextAnswer(QMessageBox::Ok);
        Click(button);
        EXPECT_TRUE(
            TMessageBox::TakeLastText().value_or(QString()).contains("already used by another display"))
            << button;
    }
    EXPECT_EQ(Agent().Devices(0).GetDisplayName(), "Device 1");
    EXPECT_FALSE(QFile::exists(DeviceFile("DEVICE 2.xml")));
    EXPECT_FALSE(QFile::exists(DeviceFile("Device 1.xml")));
    EXPECT_TRUE(ApplyEnabled());
}

// A name given up by Apply is given up in the display's file too: another display may take it, and the next
// start finds each display under the name it was given last.
TEST_F(DevicesPageTest, ANameGivenUpOnApplyIsFreeForAnotherDisplayAfterARestartToo)
{
    WriteDeviceFile("DEVICE2.xml", [](TVitrelleDeviceSettings& s) { s.Name = "Lobby"; });
    OpenPage();
    Tabs()->setCurrentIndex(1);
    Control<QLineEdit>("edDeviceName1")->setText("Bar");
    Click("btnApplySettings");
    Tabs()->setCurrentIndex(0);
    Control<QLineEdit>("edDeviceName0")->setText("Lobby");
    Click("btnSaveSettings");
    EXPECT_FALSE(TMessageBox::TakeLastText().has_value());
    EXPECT_FALSE(SaveEnabled());

    Form.reset(); // the next start
    FAgent.reset();
    OpenPage();
    EXPECT_EQ(Agent().Devices(0).GetDisplayName(), "Lobby");
    EXPECT_EQ(Agent().Devices(1).GetDisplayName(), "Bar");
}

// What the display plays now, what is on its screen, and its last power command, shown without asking.
TEST_F(DevicesPageTest, ActivityFollowsThePlayer)
{
    Fakes.SlideViews->ReadyAtOnce = true;
    OpenPage();
    ASSERT_TRUE(Agent().PlayVitrelle("17", 0, 5));
    Idle();
    EXPECT_EQ(Control<QLabel>("lblPlaying0")->text(), "Playing: Lobby");
    EXPECT_EQ(Control<QLabel>("lblPlaying1")->text(), "Playing: Idle");
    // The picture the player took of its first slide, with its time; none for the display that plays nothing.
    EXPECT_TRUE(ServeEventsUntil([&] {
        Idle();
        return !Control<QLabel>("imgOnScreen0")->pixmap().isNull();
    }));
    EXPECT_TRUE(Control<QLabel>("lblOnScreenTime0")->text().startsWith("at "));
    EXPECT_EQ(Control<QLabel>("imgOnScreen1")->text(), "No picture yet");
    EXPECT_FALSE(Control<QPushButton>("btnOnScreen1")->isEnabled()) << "a display that plays nothing";
    // On request: a new picture now, not a minute later.
    const QString picture =
        App.File("Screens/Lobby.jpg").replace("Lobby", Agent().Devices(0).GetDisplayName());
    ASSERT_TRUE(QFile::remove(picture));
    Control<QPushButton>("btnOnScreen0")->click();
    EXPECT_TRUE(ServeEventsUntil([&] { return QFile::exists(picture); }));
    Agent().StopPlayer(0);
    EXPECT_TRUE(ServeEventsUntil([&] {
        Idle();
        return Control<QLabel>("lblPlaying0")->text() == "Playing: Idle";
    }));
}

TEST_F(DevicesPageTest, ADisplayPluggedInWhileTheProgramRunsGetsItsTab)
{
    OpenPage();
    auto& added = Fakes.Display->AddOutput("HDMI-2");
    added.Geometry = QRect(3200, 0, 1024, 768);
    added.Modes = {TSystemDisplayMode{1024, 768, 60, 32}};
    added.Current = added.Modes.front();
    Fakes.Display->FireMonitorsChanged();
    ASSERT_EQ(Tabs()->count(), 3);
    EXPECT_EQ(Tabs()->tabText(2), "Device 3");
    EXPECT_EQ(Control<QLineEdit>("edDeviceName2")->text(), "Device 3");
    Tabs()->setCurrentIndex(2);
    EXPECT_FALSE(ApplyEnabled());
    Control<QCheckBox>("cbDeviceFullScreen2")->setChecked(true);
    EXPECT_TRUE(ApplyEnabled());
    Click("btnApplySettings");
    EXPECT_TRUE(Agent().Devices(2).Settings().FullScreen);
}

const QString MissingPort = QStringLiteral("/dev/vitrelle-no-such-port");

class MissingPortTest : public DevicesPageTest, public ::testing::WithParamInterface<bool>
{
};

// With status codes the page's own status query meets the missing port first: at opening, where it is
// logged and the page opens all the same, and at the click, before any command.
TEST_P(MissingPortTest, TheErrorIsShownAndTheTabStaysAsItWas)
{
    const bool statusCodes = GetParam();
    WriteDeviceFile("DEVICE1.xml", [&](TVitrelleDeviceSettings& s) {
        s.ControlSettings().ComSettings.Port = MissingPort;
        s.ControlSettings().PowerOn = "PON#13";
        s.ControlSettings().PowerOnOK = "OK";
        if (statusCodes) {
            s.ControlSettings().PowerStatus = "STA#13";
            s.ControlSettings().PowerStatusOn = "ON";
            s.ControlSettings().PowerStatusOff = "OFF";
        }
    });
    SerialPorts = std::make_shared<TQtSerialPortFactory>();
    OpenPage();
    ASSERT_EQ(Tabs()->count(), 2);
    EXPECT_EQ(Log.Lines().filter("[1] TFrameVitrelleDevice: ").size(), statusCodes ? 1 : 0) << LogText(Log);
    Log.Clear();
    TMessageBox::SetNextAnswer(QMessageBox::Ok);
    Click("btnPower0");
    const QString shown = TMessageBox::TakeLastText().value_or(QString());
    EXPECT_TRUE(shown.contains(MissingPort)) << shown.toStdString();
    EXPECT_EQ(Log.Lines(), QStringList{"[1] TFrameVitrelleDevice: " + shown});
    EXPECT_EQ(Control<QLabel>("lblPowerStatus0")->text(), "Status: ?");
    EXPECT_EQ(Control<QPushButton>("btnPower0")->text(), "Power on");
    Idle();
    EXPECT_EQ(Control<QLabel>("lblLastPower0")->text(),
              statusCodes ? QStringLiteral("Last command: none")
                          : "Last command: Power on at 08:00: failed (" + shown + ")");
}

INSTANTIATE_TEST_SUITE_P(Devices, MissingPortTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "StatusQuery" : "Command"; });

struct TPowerCase
{
    const char* Name;
    bool StatusCodes;
    std::vector<TSimulatedAnswer> Answers;
    const char* Before[2]; // status label, button
    QByteArray Command;    // what the click sends
    const char* After[2];
    const char* LastPower;
};

class PowerTest : public DevicesPageTest, public ::testing::WithParamInterface<TPowerCase>
{
};

// A display on a pseudo-terminal, through the machine's serial port code.
TEST_P(PowerTest, TheButtonOffersTheOtherCommandAndTheLabelShowsTheState)
{
    const TPowerCase& c = GetParam();
    TDisplaySimulator display(c.Answers);
    WriteDeviceFile("DEVICE1.xml", [&](TVitrelleDeviceSettings& s) {
        TDeviceControlSettings& control = s.ControlSettings();
        control.ComSettings.Port = display.PortPath();
        control.ComSettings.TimeOutConstant = 60;
        control.ComSettings.TimeOutPerChar = 2;
        control.PowerOn = "PON#13";
        control.PowerOnOK = "OK";
        control.PowerOff = "POF#13";
        control.PowerOffOK = "OK";
        if (c.StatusCodes) {
            control.PowerStatus = "STA#13";
            control.PowerStatusOn = "ON";
            control.PowerStatusOff = "OFF";
        }
    });
    SerialPorts = std::make_shared<TQtSerialPortFactory>();
    OpenPage();
    EXPECT_EQ(Control<QLabel>("lblPowerStatus0")->text(), c.Before[0]);
    EXPECT_EQ(Control<QPushButton>("btnPower0")->text(), c.Before[1]);
    const qsizetype before = display.Received().size();
    Click("btnPower0");
    EXPECT_TRUE(display.Received(before + c.Command.size()).contains(c.Command));
    // The display has the command; its outcome reaches the page a moment later, from the display's worker.
    ServeEventsUntil([&] {
        return Control<QLabel>("lblPowerStatus0")->text() == c.After[0] &&
               Control<QPushButton>("btnPower0")->text() == c.After[1] && !Agent().Devices(0).Busy();
    });
    EXPECT_EQ(Control<QLabel>("lblPowerStatus0")->text(), c.After[0]);
    EXPECT_EQ(Control<QPushButton>("btnPower0")->text(), c.After[1]);
    Idle();
    EXPECT_EQ(Control<QLabel>("lblLastPower0")->text(), c.LastPower);
}

INSTANTIATE_TEST_SUITE_P(Devices, PowerTest,
                         ::testing::Values(TPowerCase{"StatusOn",
                                                      true,
                                                      {{"STA\r", "ON"}, {"POF\r", "OK"}},
                                                      {"Status: On", "Power off"},
                                                      "POF\r",
                                                      {"Status: On", "Power off"},
                                                      "Last command: Power off at 08:00: succeeded"},
                                           TPowerCase{"StatusOff",
                                                      true,
                                                      {{"STA\r", "OFF"}, {"PON\r", "OK"}},
                                                      {"Status: Off", "Power on"},
                                                      "PON\r",
                                                      {"Status: Off", "Power on"},
                                                      "Last command: Power on at 08:00: succeeded"},
                                           TPowerCase{"NoStatusCommandSucceeds",
                                                      false,
                                                      {{"PON\r", "OK"}},
                                                      {"Status: ?", "Power on"},
                                                      "PON\r",
                                                      {"Status: On", "Power off"},
                                                      "Last command: Power on at 08:00: succeeded"},
                                           TPowerCase{"NoStatusCommandFails",
                                                      false,
                                                      {},
                                                      {"Status: ?", "Power on"},
                                                      "PON\r",
                                                      {"Status: ?", "Power off"},
                                                      "Last command: Power on at 08:00: failed"}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TSlowCase
{
    const char* Name;
    TSimulatedAnswer Answer;
    qint32 Constant;
    qint32 PerChar;
    const char* LastPower; // how the tab ends
    const char* Error;     // part of the error shown; empty: none
};

class SlowDisplayPageTest : public DevicesPageTest, public ::testing::WithParamInterface<TSlowCase>
{
};

// The page never waits for a display: while the command runs, the main thread serves its events, the tab
// says that the command runs and its button waits for it; then the outcome shows as it did.
TEST_P(SlowDisplayPageTest, ThePageGoesOnWhileTheCommandRuns)
{
    const TSlowCase& c = GetParam();
    TDisplaySimulator display({c.Answer});
    WriteDeviceFile("DEVICE1.xml", [&](TVitrelleDeviceSettings& s) {
        s.ControlSettings().ComSettings.Port = display.PortPath();
        s.ControlSettings().ComSettings.TimeOutConstant = c.Constant;
        s.ControlSettings().ComSettings.TimeOutPerChar = c.PerChar;
        s.ControlSettings().PowerOn = "PON#13";
        s.ControlSettings().PowerOnOK = "OK";
    });
    SerialPorts = std::make_shared<TQtSerialPortFactory>();
    OpenPage();
    if (*c.Error != 0)
        TMessageBox::SetNextAnswer(QMessageBox::Ok);

    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worst = std::max(worst, clock.elapsed() - last - 10);
        last = clock.elapsed();
    });
    tick.start(10);
    Idle();
    QTest::mouseClick(Control<QAbstractButton>("btnPower0"), Qt::LeftButton);
    EXPECT_TRUE(ServeEventsUntil(
        [&] {
            Idle();
            return Control<QLabel>("lblLastPower0")->text() == "Last command: Power on at 08:00: in progress";
        },
        5000))
        << Control<QLabel>("lblLastPower0")->text().toStdString();
    EXPECT_FALSE(Control<QPushButton>("btnPower0")->isEnabled());
    WaitForDisplays();
    worst = std::max(worst, clock.elapsed() - last - 10);

    EXPECT_GE(clock.elapsed(), 500) << "the display is slow";
    EXPECT_LT(worst, 200) << "the main thread waited for the display";
    EXPECT_TRUE(Control<QPushButton>("btnPower0")->isEnabled());
    EXPECT_TRUE(Control<QLabel>("lblLastPower0")->text().startsWith(QLatin1String(c.LastPower)))
        << Control<QLabel>("lblLastPower0")->text().toStdString();
    const QString shown = TMessageBox::TakeLastText().value_or(QString());
    EXPECT_TRUE(*c.Error == 0 ? shown.isEmpty() : shown.contains(QLatin1String(c.Error)))
        << shown.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Devices, SlowDisplayPageTest,
    ::testing::Values(
        TSlowCase{"NeverAnswers", {"PON\r", ""}, 800, 20, "Last command: Power on at 08:00: failed", ""},
        TSlowCase{"Drips",
                  {"PON\r", "OK", 300, -1, 250},
                  500,
                  400,
                  "Last command: Power on at 08:00: succeeded",
                  ""},
        TSlowCase{"Vanishes",
                  {"PON\r", "OK", 600, 1},
                  2000,
                  20,
                  "Last command: Power on at 08:00: failed (",
                  "no longer"}),
    [](const auto& info) { return std::string(info.param.Name); });

// Takes away, from this thread only, the capabilities that let root write where the permissions say no.
class TNoPermissionOverride
{
public:
    TNoPermissionOverride()
    {
        FSaved = Get();
        __user_cap_data_struct data[2] = {FSaved[0], FSaved[1]};
        data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        Set(data);
    }
    ~TNoPermissionOverride() { Set(FSaved.data()); }

private:
    static std::array<__user_cap_data_struct, 2> Get()
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        std::array<__user_cap_data_struct, 2> data{};
        syscall(SYS_capget, &header, data.data());
        return data;
    }
    static void Set(__user_cap_data_struct* data)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        syscall(SYS_capset, &header, data);
    }
    std::array<__user_cap_data_struct, 2> FSaved;
};

TEST_F(DevicesPageTest, ASaveThatFailsIsShownLosesNothingAndCanBeDoneAgain)
{
    WriteDeviceFile("DEVICE1.xml", [](TVitrelleDeviceSettings& s) { s.Name = "Hall"; });
    const QByteArray before = ReadFileBytes(DeviceFile("DEVICE1.xml"));
    OpenPage();
    Control<QLineEdit>("edDeviceName0")->setText("Lobby");
    const QString folder = App.File("Devices");
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    {
        TNoPermissionOverride unprivileged;
        QFile probe(App.File("Devices/probe"));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            QFile::setPermissions(folder, QFile::permissions(folder) | QFileDevice::WriteOwner);
            GTEST_SKIP() << "this process writes into read-only folders";
        }
        TMessageBox::SetNextAnswer(QMessageBox::Ok);
        Click("btnSaveSettings");
    }
    QFile::setPermissions(folder, QFile::permissions(folder) | QFileDevice::WriteOwner);
    EXPECT_TRUE(TMessageBox::TakeLastText().value_or(QString()).contains("DEVICE1.xml"));
    EXPECT_TRUE(Log.Lines().filter("[1] TFrameVitrelleDevice").size() == 1) << LogText(Log);
    EXPECT_EQ(ReadFileBytes(DeviceFile("DEVICE1.xml")), before);
    EXPECT_EQ(Control<QLineEdit>("edDeviceName0")->text(), "Lobby");
    EXPECT_TRUE(SaveEnabled());

    Click("btnSaveSettings");
    EXPECT_FALSE(SaveEnabled());
    TVitrelleDeviceSettings saved;
    ASSERT_TRUE(saved.LoadFromFile(DeviceFile("DEVICE1.xml")));
    EXPECT_EQ(saved.Name, "Lobby");
}

} // namespace

namespace {

QStringList Captions(QTabWidget* tabs)
{
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i)
        captions << tabs->tabText(i);
    return captions;
}

} // namespace

// A display let go (its monitor gone ten minutes, nothing keeps it) leaves the three pages; the tabs of the
// displays after it move up and go on working on their own displays, an edit in progress included.
TEST_F(DevicesPageTest, ADisplayLetGoLeavesEveryPage)
{
    OpenPage();
    auto& added = Fakes.Display->AddOutput("HDMI-2");
    added.Geometry = QRect(3200, 0, 1024, 768);
    added.Modes = {TSystemDisplayMode{1024, 768, 60, 32}};
    added.Current = added.Modes.front();
    Fakes.Display->FireMonitorsChanged();
    QWidget* vitrelles = ShowPage(TfrmVitrelleCenter::TPage::Vitrelles);
    auto* schedule = qobject_cast<TFrameVitrelleScheduler*>(ShowPage(TfrmVitrelleCenter::TPage::Schedule));
    ASSERT_NE(schedule, nullptr);
    QWidget* devices = ShowPage(TfrmVitrelleCenter::TPage::Devices);
    ASSERT_EQ(Tabs()->count(), 3);
    Tabs()->setCurrentIndex(2);
    Control<QCheckBox>("cbDeviceFullScreen2")->setChecked(true);

    Fakes.Display->Output("DP-1").OnDesktop = false;
    Fakes.Display->FireMonitorsChanged();
    Fakes.Clock->AdvanceSeconds(10 * 60);
    Agent().ReleaseLostDevices();
    Idle();
    ASSERT_EQ(Agent().DeviceCount(), 2);
    ASSERT_EQ(Agent().Devices(1).Monitor->Name, "HDMI-2");

    // Devices: the third display's tab is now the second, with its edit.
    EXPECT_EQ(Captions(Tabs()), QStringList({"Device 1", "Device 3"}));
    EXPECT_EQ(Control<QLineEdit>("edDeviceName1")->text(), "Device 3");
    EXPECT_EQ(Find<QLineEdit>(devices, "edDeviceName2"), nullptr);
    Tabs()->setCurrentIndex(1);
    EXPECT_TRUE(ApplyEnabled()) << "the edit of the display that stays is kept";
    Click("btnApplySettings");
    EXPECT_TRUE(Agent().Devices(1).Settings().FullScreen);
    EXPECT_FALSE(Agent().Devices(0).Settings().FullScreen);

    // Vitrelles: Play on the second tab plays on the third display.
    auto* tabs = Find<QTabWidget>(vitrelles, "PageControl");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(1), "Device 3");
    auto* play = Find<QPushButton>(vitrelles, "btnPlay1");
    ASSERT_NE(play, nullptr);
    tabs->setCurrentIndex(1);
    Idle();
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_TRUE(ServeEventsUntil([&] { return Agent().Players(1).State() == psPlaying; })) << LogText(Log);
    EXPECT_EQ(Agent().Players(0).State(), psIdle);

    // Schedule: its rows edit the third display's actions.
    auto* deviceTabs = Find<QTabWidget>(schedule, "devicePageControl");
    ASSERT_NE(deviceTabs, nullptr);
    EXPECT_EQ(Captions(deviceTabs), QStringList({"Device 1", "Device 3"}));
    auto* powerOn = Find<QCheckBox>(schedule, "cbxPowerOn1");
    ASSERT_NE(powerOn, nullptr);
    deviceTabs->setCurrentIndex(1);
    powerOn->click();
    const TScheduleAction* action = schedule->WorkingSchedule().Actions().Find("Device 3", 0);
    ASSERT_NE(action, nullptr);
    EXPECT_TRUE(action->Enabled);
    EXPECT_EQ(schedule->WorkingSchedule().Actions().Find("Device 2", 0), nullptr) << "gone with its display";
}
