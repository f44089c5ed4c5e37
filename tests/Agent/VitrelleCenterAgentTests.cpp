#include "ActionPeriodicity.h"
#include "DeviceRename.h"
#include "DiapositiveType.h"
#include "Errors.h"
#include "EventWait.h"
#include "LogCapture.h"
#include "ScheduleAction.h"
#include "ScheduleActionList.h"
#include "TestContentServer.h"
#include "TestFiles.h"
#include "TestPlatform.h"
#include "VitrelleCenterAgent.h"
#include "VitrelleDownloader.h"
#include "VitrelleForm.h"
#include "WorkQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class Agent : public ::testing::Test
{
protected:
    TAgentPlatform Platform(bool remote = false, bool xmlAvailable = true)
    {
        Fakes.Session->Remote = remote;
        Fakes.Session->XmlAvailable = xmlAvailable;
        return Fakes.Agent();
    }
    QStringList Shown() const { return Fakes.Errors->Shown(); }

    // A types file, so that start-up has nothing to complain about.
    void WriteTypes()
    {
        Folder.Write(
            "Templates/Types.xml",
            "<DiapositiveTypes><DiapositiveType><Name>Photo</Name></DiapositiveType></DiapositiveTypes>");
    }

    TTempFolder Folder;
    TLogCapture Log{3, false}; // the agent initialises the log itself
    TTestPlatform Fakes = TestPlatform();
};

// What the display steps log on a machine without monitors and settings files.
const QStringList DisplaysStep = {"[3] TVitrelleCenterAgent: 0 detected display devices",
                                  "[3] TVitrelleCenterAgent: Load display devices configurations",
                                  "[3] TVitrelleCenterAgent: Configure the display devices"};

// Runs a test body with another current folder, restoring it afterwards.
class TCurrentFolder
{
public:
    explicit TCurrentFolder(const QString& path) : FSaved(QDir::currentPath()) { QDir::setCurrent(path); }
    ~TCurrentFolder() { QDir::setCurrent(FSaved); }

private:
    QString FSaved;
};

} // namespace

TEST_F(Agent, StartsInAnEmptyFolderWithDefaults)
{
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    EXPECT_TRUE(Shown().isEmpty());
    EXPECT_EQ(
        Log.Lines(),
        QStringList({"[1] TVitrelleCenterSettings: Cannot find configuration file " + Folder.Path() +
                         "/VitrelleCenter.xml",
                     DisplaysStep[0], DisplaysStep[1], DisplaysStep[2],
                     "[1] TDiapositiveType: Cannot find type file " + Folder.Path() + "/Templates/Types.xml",
                     "[3] TVitrelleCenterAgent: VitrelleCenter successfully initialized"}));
    EXPECT_EQ(Log.Events().at(0).Type, etError);
    EXPECT_EQ(Log.Events().at(2).Type, etInformation);
    EXPECT_EQ(agent->DeviceCount(), 0) << "no monitor";
    EXPECT_THROW(agent->Devices(0), EOutOfRange);
    EXPECT_TRUE(QFileInfo(Folder.File("Templates")).isDir()) << "the templates folder is created";
    EXPECT_EQ(agent->Settings().GetRepositoryPath(), Folder.Path() + "/Cache/");
    EXPECT_TRUE(agent->Scheduler().IsTicking()) << "a missing schedule is no error";
    EXPECT_EQ(agent->Scheduler().ActionCount(), 0);
}

TEST_F(Agent, LoadsTheScheduleWithoutRewritingIt)
{
    Folder.Write("VitrelleCenter.xml", "<VitrelleCenter/>");
    WriteTypes();
    const QByteArray schedule =
        "<Schedule><ScheduleAction Source=\"VitrelleCenterAgent\" Action=\"0\" Periodicity=\"0\" "
        "Time=\"08:00:00\" Enabled=\"-1\"/><ScheduleAction Source=\"Player 1\" Action=\"0\" "
        "Periodicity=\"0\" Time=\"08:05:00\" Enabled=\"-1\"><vitrelleID>12</vitrelleID></ScheduleAction>"
        "</Schedule>";
    const QString file = Folder.Write("Schedule.xml", schedule);
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(agent->Scheduler().ActionCount(), 1) << "the agent's own action; no player is registered";
    EXPECT_TRUE(agent->Scheduler().IsTicking());
    agent.reset();
    EXPECT_EQ(ReadFileBytes(file), schedule);

    Folder.Write("Schedule.xml", "<Schedule><ScheduleAction");
    Log.Clear();
    agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(Log.Lines(),
              DisplaysStep +
                  QStringList{"[3] TVitrelleCenterAgent: VitrelleCenter successfully initialized"});
    EXPECT_TRUE(agent->Scheduler().IsTicking());
}

TEST_F(Agent, NotesARemoteDesktopFirst)
{
    Folder.Write("VitrelleCenter.xml", "<VitrelleCenter/>");
    WriteTypes();
    auto agent = CreateAgent(Folder.Path(), Platform(true));
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(
        Log.Lines(),
        QStringList({"[3] TVitrelleCenterAgent: Remote desktop detected", DisplaysStep[0], DisplaysStep[1],
                     DisplaysStep[2], "[3] TVitrelleCenterAgent: VitrelleCenter successfully initialized"}));
}

TEST_F(Agent, LoadsTheSettingsFileAndIgnoresAnUnparsableOne)
{
    WriteTypes();
    Folder.Write("VitrelleCenter.xml", "<VitrelleCenter><HttpSettings><Login>kiosk</Login></HttpSettings>"
                                       "</VitrelleCenter>");
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(agent->Settings().HttpSettings().Login, "kiosk");
    agent.reset();
    Log.Clear();

    Folder.Write("VitrelleCenter.xml", "<VitrelleCenter><HttpSettings>");
    agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(agent->Settings().HttpSettings().Login, "");
    EXPECT_EQ(Log.Lines(),
              DisplaysStep +
                  QStringList{"[3] TVitrelleCenterAgent: VitrelleCenter successfully initialized"});
}

TEST_F(Agent, LoadsTheSlideTypesAndFreesThemAtTheEnd)
{
    // A configured types file is used instead of the templates folder's.
    const QString types = Folder.Write(
        "elsewhere/mytypes.xml",
        "<DiapositiveTypes><DiapositiveType><Name>Menu</Name></DiapositiveType></DiapositiveTypes>");
    Folder.Write("VitrelleCenter.xml",
                 "<VitrelleCenter><TypeFilePath>" + types.toUtf8() + "</TypeFilePath></VitrelleCenter>");
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    ASSERT_NE(TDiapositiveType::FindType("menu"), nullptr);
    EXPECT_EQ(TDiapositiveType::TemplateFolder(), Folder.Path() + "/Templates/");
    EXPECT_TRUE(IsXmlReadablePath(Folder.Write("Templates/shared.xml", "<x/>")));
    EXPECT_TRUE(IsXmlReadablePath(Folder.Write("Cache/page.xml", "<x/>")));
    EXPECT_FALSE(IsXmlReadablePath(types)) << "only the templates and the cache";
    agent.reset();
    EXPECT_EQ(TDiapositiveType::FindType("menu"), nullptr);
    EXPECT_TRUE(XmlReadableFolders().isEmpty()) << "the folders go with the agent that set them";
}

TEST_F(Agent, MissingXmlLibraryEndsTheStartUpWithItsMessage)
{
    auto agent = CreateAgent(Folder.Path(), Platform(false, false));
    EXPECT_EQ(agent, nullptr);
    EXPECT_EQ(Shown(),
              QStringList{"VitrelleCenter needs the libxml2 and libxslt libraries to be installed.\r\n"
                          "Please run the setup again to install these libraries."});
    EXPECT_TRUE(Log.Events().empty()) << "the check runs before the log exists";
}

TEST_F(Agent, FoldersAreMadeAbsoluteAndCreated)
{
    TVitrelleCenterAgent agent(Folder.Path(), Platform());
    EXPECT_EQ(agent.GetDeviceFolder(), Folder.Path() + "/Devices/");
    EXPECT_TRUE(QFileInfo(Folder.File("Devices")).isDir());
    EXPECT_EQ(agent.GetTemplateFolder(), Folder.Path() + "/Templates/");
    EXPECT_TRUE(QFileInfo(Folder.File("Templates")).isDir());

    // A relative configured folder counts against the current folder.
    TTempFolder current;
    QDir().mkpath(current.File("devs"));
    TCurrentFolder inCurrent(current.Path());
    agent.Settings().SetDevicePath("devs");
    EXPECT_EQ(agent.GetDeviceFolder(), current.Path() + "/devs/");

    // A relative application folder as well, with its missing parents.
    TVitrelleCenterAgent relative("app/nested", Platform());
    EXPECT_EQ(relative.GetTemplateFolder(), current.Path() + "/app/nested/Templates/");
    EXPECT_TRUE(QFileInfo(current.File("app/nested/Templates")).isDir());
}

TEST_F(Agent, AFolderThatCannotBeCreatedIsAnError)
{
    Folder.Write("Devices", "a file where the folder should be");
    TVitrelleCenterAgent agent(Folder.Path(), Platform());
    EXPECT_THROW(agent.GetDeviceFolder(), EFileError);
}

TEST_F(Agent, StartsWithTheCachedVitrelleListAndItsDownloaders)
{
    WriteTypes();
    Folder.Write("Cache/VitrelleList.xml", "<Vitrelles><Vitrelle id=\"17\" name=\"Lobby\"/></Vitrelles>");
    // The downloaders are schedule sources before the schedule is read, so their actions are kept.
    Folder.Write("Schedule.xml", "<Schedule><ScheduleAction Source=\"Vitrelle 17 downloader\" Action=\"0\" "
                                 "Periodicity=\"3\" Time=\"00:00:00\" Enabled=\"0\"/></Schedule>");
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    ASSERT_EQ(agent->Repository().Count(), 1);
    EXPECT_EQ(agent->Repository().DownloaderCount(), 1);
    EXPECT_NE(agent->Scheduler().FindSource("Vitrelle 17 downloader"), nullptr);
    EXPECT_EQ(agent->Scheduler().ActionCount(), 1);
}

TEST_F(Agent, ABrokenVitrelleListDoesNotEndTheStartUp)
{
    WriteTypes();
    Folder.Write("Cache/VitrelleList.xml", "<Vitrelles><Vitrelle id=\"17\"</Vitrelles>");
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    EXPECT_TRUE(Shown().isEmpty());
    const QStringList lines = Log.Lines();
    // Logged once, by the list; without a server there is nothing to fetch again.
    EXPECT_EQ(lines.filter("Error while parsing vitrelle list").size(), 1) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.filter("[1] TVitrelleList: Error while parsing vitrelle list").size(), 1);
    EXPECT_EQ(lines.last(), "[3] TVitrelleCenterAgent: VitrelleCenter successfully initialized");
    EXPECT_TRUE(agent->Scheduler().IsTicking());
}

TEST_F(Agent, AContentServerThatIsDownDoesNotEndTheStartUp)
{
    WriteTypes();
    // Nothing listens on port 1: the connection is refused at once.
    Folder.Write("VitrelleCenter.xml",
                 "<VitrelleCenter><HttpSettings>"
                 "<AuthentificationURL>http://127.0.0.1:1/login?u=%s&amp;p=%s</AuthentificationURL>"
                 "<VitrelleListURL>http://127.0.0.1:1/list.xml</VitrelleListURL>"
                 "<Login>operator</Login><Password>secret</Password>"
                 "</HttpSettings></VitrelleCenter>");
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    const QStringList lines = Log.Lines();
    EXPECT_EQ(lines
                  .filter("[1] THttpDownloader: Error while logging at URL "
                          "http://127.0.0.1:1/login?u=operator&p=*** : ")
                  .size(),
              1)
        << lines.join('\n').toStdString();
    EXPECT_FALSE(Log.Contains("secret"));
    EXPECT_EQ(lines.last(), "[3] TVitrelleCenterAgent: VitrelleCenter successfully initialized");
    EXPECT_EQ(agent->Repository().Count(), 0);
}

TEST_F(Agent, RefusesAPlatformWithAMissingService)
{
    using TEntryReset = std::function<void(TAgentPlatform&)>;
    const std::vector<std::pair<QString, TEntryReset>> entries = {
        {"Session", [](TAgentPlatform& p) { p.Session.reset(); }},
        {"Errors", [](TAgentPlatform& p) { p.Errors.reset(); }},
        {"Clock", [](TAgentPlatform& p) { p.Clock.reset(); }},
        {"SleepInhibitor", [](TAgentPlatform& p) { p.SleepInhibitor.reset(); }},
        {"Network", [](TAgentPlatform& p) { p.Network.reset(); }},
        {"Display", [](TAgentPlatform& p) { p.Display.reset(); }},
        {"SerialPorts", [](TAgentPlatform& p) { p.SerialPorts.reset(); }},
        {"ScreenSaver", [](TAgentPlatform& p) { p.ScreenSaver.reset(); }},
        {"SlideViews", [](TAgentPlatform& p) { p.SlideViews.reset(); }},
    };
    for (const auto& [name, reset] : entries) {
        TAgentPlatform platform = Platform();
        reset(platform);
        try {
            CreateAgent(Folder.Path(), platform);
            ADD_FAILURE() << "started without " << name.toStdString();
        } catch (const EVitrelleError& error) {
            EXPECT_EQ(error.Message(), "The agent's platform has no " + name);
        }
    }
    EXPECT_TRUE(Shown().isEmpty()) << "a programming error, not an operator's one";
}

TEST_F(Agent, AFailingStartUpIsLoggedAndShown)
{
    // A file where the templates folder should be: step 11 cannot create the folder.
    Folder.Write("Templates", "not a folder");
    auto agent = CreateAgent(Folder.Path(), Platform());
    EXPECT_EQ(agent, nullptr);
    ASSERT_EQ(Shown().size(), 1);
    EXPECT_TRUE(Log.Lines().contains("[1] TVitrelleCenterAgent: " + Shown().first()))
        << Log.Lines().join('\n').toStdString();
}

TEST_F(Agent, DrivesTheActiveMonitorsWithTheirBestSettingsFile)
{
    WriteTypes();
    // The first monitor mirrors another adapter: only the second becomes a device, numbered 1.
    auto& mirror = Fakes.Display->AddOutput("VGA-1");
    mirror.Mirroring = true;
    mirror.OnDesktop = true;
    auto& tv = Fakes.Display->AddOutput("HDMI-1", ReadFileBytes(TestDataPath("edid/office-monitor.bin")));
    tv.Current = TSystemDisplayMode{1920, 1080, 60, 32};
    // One file matches the monitor's connector; the device's own file comes later in the folder and, reached
    // without beating that score, is the one used.
    Folder.Write("Devices/A.xml", "<VitrelleDevice><Name>Entrance</Name><DeviceInfo><PnpID>HDMI-1</PnpID>"
                                  "</DeviceInfo></VitrelleDevice>");
    Folder.Write("Devices/DEVICE1.xml", "<VitrelleDevice><Name>Own</Name></VitrelleDevice>");
    Folder.Write("Devices/broken.xml", "<VitrelleDevice>");
    const QStringList before = QDir(Folder.File("Devices")).entryList(QDir::Files);

    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    ASSERT_EQ(agent->DeviceCount(), 1);
    TVitrelleDevice& device = agent->Devices(0);
    EXPECT_EQ(device.Index, 1);
    EXPECT_EQ(agent->DeviceSettings().size(), 2u) << "the broken file is left out";
    EXPECT_EQ(device.Settings().Name, "Own");
    EXPECT_EQ(device.Settings().DeviceInfo().GetPnpID(), "HDMI-1") << "the identity read from the system";
    EXPECT_EQ(agent->Scheduler().FindSource("Own"), &device);

    const QStringList lines = Log.Lines().filter("TVitrelleCenterAgent");
    EXPECT_TRUE(lines.contains("[3] TVitrelleCenterAgent: 2 detected display devices"))
        << lines.join('\n').toStdString();
    EXPECT_EQ(lines.filter("Display device <1> properties:").size(), 1)
        << "the monitor's position, not the number";
    EXPECT_TRUE(lines.contains("[3] TVitrelleCenterAgent: Display device 'Device 1' current display mode: "
                               "1920x1080 - 32 bits - 60 Hz"));
    EXPECT_TRUE(
        lines.contains("[3] TVitrelleCenterAgent: Device 'Device 1' configuration files: \r\nA.xml (1)"
                       "\r\nDEVICE1.xml (has priority)"))
        << lines.join('\n').toStdString();
    EXPECT_EQ(QDir(Folder.File("Devices")).entryList(QDir::Files), before)
        << "start-up writes no device file";
}

TEST_F(Agent, SwitchesEveryMonitorThroughItsOwnScheduleActions)
{
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    IScheduleSource* source = agent->Scheduler().FindSource("VitrelleCenterAgent");
    ASSERT_NE(source, nullptr);
    auto on = source->CreateDefaultAction(0);
    auto off = source->CreateDefaultAction(1);
    EXPECT_EQ(source->CreateDefaultAction(2), nullptr);
    EXPECT_EQ(source->GetActionDescription(on.get()), "Power on all display devices");
    EXPECT_EQ(on->Periodicity.Time, QTime(8, 0));
    EXPECT_EQ(off->Periodicity.Time, QTime(23, 0));
    TScheduleActionList due(false);
    due.Add(on.get());
    due.Add(off.get());
    source->FilterActions(due);
    ASSERT_EQ(due.Count(), 1);
    EXPECT_EQ(due.At(0), off.get()) << "both due in one pass: only the second runs";

    Log.Clear();
    EXPECT_TRUE(source->ExecuteAction(off.get()));
    Fakes.Display->PowerOn.reset(); // no monitor power on this machine
    EXPECT_FALSE(source->ExecuteAction(on.get()));
    EXPECT_EQ(Fakes.Display->PowerRequests, QList<bool>({false, true}));
    EXPECT_EQ(Log.Lines(), QStringList({"[3] TVitrelleDevice: Power off of all devices suceeded",
                                        "[3] TVitrelleDevice: Power on of all devices failed"}));
}

// A scheduled power command runs on a lane, not on the main thread: every listener still hears of it there,
// with the display's index, so that the Devices page shows the new state without a click.
TEST_F(Agent, TellsEveryListenerOfAPowerCommandOnTheMainThread)
{
    Fakes.Display->AddOutput("HDMI-1").Geometry = QRect(0, 0, 800, 600);
    Fakes.Display->AddOutput("HDMI-2").Geometry = QRect(800, 0, 800, 600);
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    ASSERT_EQ(agent->DeviceCount(), 2);
    QList<int> told;
    int alsoTold = 0;
    bool offMainThread = false;
    QObject::connect(&agent->Notifier(), &TAgentNotifier::PowerStatusChanged, [&](int device) {
        told << device;
        offMainThread = offMainThread || QThread::currentThread() != QCoreApplication::instance()->thread();
    });
    QObject::connect(&agent->Notifier(), &TAgentNotifier::PowerStatusChanged, [&] { ++alsoTold; });

    TVitrelleDevice& second = agent->Devices(1);
    TWorkQueue lane(QStringLiteral("schedule lane"));
    bool done = false;
    bool succeeded = true;
    lane.Post([&] { succeeded = second.PowerOn(); }, // no codes: it fails, and has still run to its end
              [&](std::exception_ptr error) {
                  EXPECT_EQ(error, nullptr);
                  done = true;
              });
    ASSERT_TRUE(ServeEventsUntil([&] { return done; }, 20000));
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(told, QList<int>{1});
    EXPECT_EQ(alsoTold, 1);
    EXPECT_FALSE(offMainThread);
}

TEST_F(Agent, PlaysOnEachDeviceThroughItsOwnPlayer)
{
    WriteTypes();
    Folder.Write("Cache/VitrelleList.xml", "<Vitrelles><Vitrelle id=\"17\" name=\"Lobby\"/></Vitrelles>");
    Folder.Write("Cache/17.xml",
                 "<Vitrelle name=\"Lobby\"><Diapositive id=\"s1\" type=\"Photo\"/></Vitrelle>");
    Fakes.Display->AddOutput("HDMI-1").Geometry = QRect(0, 0, 800, 600);
    Fakes.Display->AddOutput("HDMI-2").Geometry = QRect(800, 0, 800, 600);
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    ASSERT_EQ(agent->PlayerCount(), 2);
    EXPECT_THROW(agent->Players(2), EOutOfRange);
    EXPECT_THROW(agent->Players(-1), EOutOfRange);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(agent->Players(i).Device(), &agent->Devices(i));
        EXPECT_EQ(agent->Scheduler().FindSource(QStringLiteral("Player Device %1").arg(i + 1)),
                  &agent->Players(i));
    }

    EXPECT_FALSE(agent->PlayVitrelle("", 7, 3)) << "an empty id does nothing, whatever the index";
    EXPECT_THROW(agent->PlayVitrelle("17", 2, 3), EOutOfRange);
    EXPECT_TRUE(agent->PlayVitrelle("17", 1, 3));
    TVitrellePlayer& player = agent->Players(1);
    EXPECT_EQ(player.State(), psPlaying);
    EXPECT_EQ(player.DefaultDuration(), 3000);
    EXPECT_EQ(player.Form().geometry(), QRect(800, 0, 800, 600)) << "on its device's monitor";
    EXPECT_EQ(agent->Players(0).State(), psIdle);
    EXPECT_EQ(Fakes.ScreenSaver->Holds, 1);

    agent->StopPlayer(1);
    EXPECT_FALSE(player.Form().isVisible());
    ASSERT_TRUE(ServeEventsUntil([&] { return player.State() == psLoaded; }));
    EXPECT_EQ(Fakes.ScreenSaver->Holds, 0);

    // Freed while playing: the players go before the content and the devices they play on.
    EXPECT_TRUE(agent->PlayVitrelle("17", 0, 5));
    agent.reset();
    EXPECT_EQ(Fakes.ScreenSaver->Holds, 0);
}

// Displays get power-cycled and plugged in late: the show follows its monitor, gets its display mode back,
// and a monitor that arrives after the start becomes a device of its own.
TEST_F(Agent, FollowsTheMonitorsWhenTheyChange)
{
    WriteTypes();
    Folder.Write("Cache/VitrelleList.xml", "<Vitrelles><Vitrelle id=\"17\" name=\"Lobby\"/></Vitrelles>");
    Folder.Write("Cache/17.xml",
                 "<Vitrelle name=\"Lobby\"><Diapositive id=\"s1\" type=\"Photo\"/></Vitrelle>");
    const TSystemDisplayMode preferred{1920, 1080, 60, 32};
    const TSystemDisplayMode configured{1280, 720, 60, 32};
    auto& tv = Fakes.Display->AddOutput("HDMI-1");
    tv.Geometry = QRect(0, 0, 1280, 720);
    tv.Modes = {preferred, configured};
    tv.Current = configured;
    Folder.Write("Devices/DEVICE1.xml",
                 "<VitrelleDevice><Name>Hall</Name><DisplayMode><Width>1280</Width><Height>720</Height>"
                 "<Frequency>60</Frequency><BitsPerPixel>32</BitsPerPixel></DisplayMode></VitrelleDevice>");
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    int added = 0;
    QObject::connect(&agent->Notifier(), &TAgentNotifier::DevicesAdded, [&] { ++added; });
    ASSERT_TRUE(agent->PlayVitrelle("17", 0, 5));
    const auto agentLines = [&] { return Log.Lines().filter("TVitrelleCenterAgent"); };

    // Switched off: the monitor leaves the desktop, once logged however often the system reports.
    Fakes.Display->Output("HDMI-1").OnDesktop = false;
    Fakes.Display->FireMonitorsChanged();
    Fakes.Display->FireMonitorsChanged();
    EXPECT_EQ(agentLines()
                  .filter("[2] TVitrelleCenterAgent: Display device 'Hall' has lost its monitor 'HDMI-1'")
                  .size(),
              1)
        << agentLines().join('\n').toStdString();

    // Back in its own preferred mode: the configured mode is applied again and the window follows.
    auto& back = Fakes.Display->Output("HDMI-1");
    back.OnDesktop = true;
    back.Current = preferred;
    back.Geometry = QRect(0, 0, 1920, 1080);
    Fakes.Display->ModeSwitches.clear();
    Fakes.Display->FireMonitorsChanged();
    ASSERT_EQ(Fakes.Display->ModeSwitches.size(), 1);
    EXPECT_EQ(Fakes.Display->ModeSwitches.first().second, configured);
    EXPECT_TRUE(
        agentLines().contains("[3] TVitrelleCenterAgent: Display device 'Hall' matched to monitor 'HDMI-1' "
                              "again: 1920x1080 at 0,0, display mode applied again"))
        << agentLines().join('\n').toStdString();
    EXPECT_EQ(agent->Players(0).Form().geometry(), QRect(0, 0, 1920, 1080));

    // A report with nothing new changes nothing and says nothing.
    const qsizetype lineCount = agentLines().size();
    Fakes.Display->FireMonitorsChanged();
    EXPECT_EQ(agentLines().size(), lineCount) << agentLines().join('\n').toStdString();

    // A second display switched on after the start: a device, its settings and a player of its own.
    Fakes.Display->AddOutput("HDMI-2").Geometry = QRect(1920, 0, 800, 600);
    Fakes.Display->FireMonitorsChanged();
    ASSERT_EQ(agent->DeviceCount(), 2);
    ASSERT_EQ(agent->PlayerCount(), 2);
    EXPECT_EQ(added, 1);
    EXPECT_EQ(agent->Devices(1).Index, 2);
    EXPECT_EQ(agent->Scheduler().FindSource("Player Device 2"), &agent->Players(1));
    EXPECT_TRUE(
        agentLines().contains("[3] TVitrelleCenterAgent: New display device 'Device 2' on monitor 'HDMI-2'"))
        << agentLines().join('\n').toStdString();
    EXPECT_TRUE(agent->PlayVitrelle("17", 1, 5));
    EXPECT_EQ(agent->Players(1).Form().geometry(), QRect(1920, 0, 800, 600));
}

namespace {

// A settings file written on this output for the display model of no-serial.bin (no serial number).
QByteArray WallFile(const char* name, const char* output)
{
    return QByteArray("<VitrelleDevice><Name>") + name +
           "</Name><DeviceInfo><Model>KQ2700</Model><Manufacturer>KQM</Manufacturer><VesaID>KQM0A2F</VesaID>"
           "<PnpID>" +
           output + "</PnpID></DeviceInfo></VitrelleDevice>";
}

} // namespace

// The most common wall: two displays of one model without serial number side by side, one settings file. The
// display on the file's output gets it; the other keeps its own name, actions and file.
TEST_F(Agent, IdenticalDisplaysSideBySideKeepApart)
{
    WriteTypes();
    const QByteArray edid = ReadFileBytes(TestDataPath("edid/no-serial.bin"));
    Fakes.Display->AddOutput("HDMI-1", edid).Geometry = QRect(0, 0, 800, 600);
    Fakes.Display->AddOutput("HDMI-2", edid).Geometry = QRect(800, 0, 800, 600);
    Folder.Write("Devices/Lobby.xml", WallFile("Lobby", "HDMI-1"));
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    ASSERT_EQ(agent->DeviceCount(), 2);

    EXPECT_EQ(agent->Devices(0).GetDisplayName(), "Lobby");
    EXPECT_EQ(agent->Devices(1).GetDisplayName(), "Device 2");
    EXPECT_EQ(agent->Devices(0).GetConfigFileName(), "Lobby.xml");
    EXPECT_EQ(agent->Devices(1).GetConfigFileName(), "Device 2.xml") << "saving it leaves Lobby.xml alone";
    for (int i = 0; i < 2; ++i) {
        // Registered, so their actions are found and run on them.
        TVitrelleDevice& device = agent->Devices(i);
        TVitrellePlayer& player = agent->Players(i);
        EXPECT_EQ(agent->Scheduler().FindSource(device.GetSourceName()), &device);
        EXPECT_EQ(agent->Scheduler().FindSource(player.GetSourceName()), &player);
        const TScheduleAction* power = agent->Scheduler().GetAction(device.GetSourceName(), 0);
        const TScheduleAction* stop = agent->Scheduler().GetAction(player.GetSourceName(), 1);
        ASSERT_NE(power, nullptr);
        ASSERT_NE(stop, nullptr);
        EXPECT_EQ(power->Source, &device);
        EXPECT_EQ(stop->Source, &player);
    }
    EXPECT_TRUE(Log.Lines().contains("[3] TVitrelleCenterAgent: Device 'Device 2' is not given Lobby.xml "
                                     "(3): taken by display 'Device 1'"))
        << Log.Lines().join('\n').toStdString();
    EXPECT_TRUE(Log.Lines().filter("is not registered").isEmpty());
}

// Two files naming their displays alike (hand-edited, or saved while another display had that name applied
// only): the later display gets a free name for this run, its file is left as it is.
TEST_F(Agent, DisplaysNamedAlikeGetFreeNames)
{
    WriteTypes();
    const QByteArray edid = ReadFileBytes(TestDataPath("edid/no-serial.bin"));
    Fakes.Display->AddOutput("HDMI-1", edid);
    Fakes.Display->AddOutput("HDMI-2", edid);
    Fakes.Display->AddOutput("HDMI-3", edid);
    Folder.Write("Devices/A.xml", WallFile("Bar", "HDMI-1"));
    Folder.Write("Devices/B.xml", WallFile("bar", "HDMI-2"));
    // A display named like another's player.
    const QString third = Folder.Write("Devices/C.xml", WallFile("Player Bar", "HDMI-3"));
    const QByteArray thirdBefore = ReadFileBytes(third);
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    ASSERT_EQ(agent->DeviceCount(), 3);

    EXPECT_EQ(agent->Devices(0).GetDisplayName(), "Bar");
    EXPECT_EQ(agent->Devices(1).GetDisplayName(), "bar (2)");
    EXPECT_EQ(agent->Devices(2).GetDisplayName(), "Player Bar (3)")
        << "the second display's player is Player bar (2)";
    EXPECT_EQ(agent->Devices(1).GetConfigFileName(), "B.xml");
    EXPECT_EQ(ReadFileBytes(third), thirdBefore);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(agent->Scheduler().FindSource(agent->Devices(i).GetSourceName()), &agent->Devices(i));
        EXPECT_EQ(agent->Scheduler().FindSource(agent->Players(i).GetSourceName()), &agent->Players(i));
    }
    const QStringList renamed = Log.Lines().filter("[2] TVitrelleCenterAgent: Display device");
    EXPECT_EQ(
        renamed,
        QStringList({"[2] TVitrelleCenterAgent: Display device 'bar' on monitor 'HDMI-2' is called 'bar "
                     "(2)': another display or schedule source is called 'bar' (its file B.xml keeps the "
                     "name)",
                     "[2] TVitrelleCenterAgent: Display device 'Player Bar' on monitor 'HDMI-3' is called "
                     "'Player Bar (3)': another display or schedule source is called 'Player Bar' (its "
                     "file C.xml keeps the name)"}))
        << Log.Lines().join('\n').toStdString();
    EXPECT_TRUE(Log.Lines().filter("is not registered").isEmpty());
}

// A flapping cable, a KVM or an installer trying outputs: hundreds of monitor names come and go. Devices and
// players stay bounded and are let go once their monitor has been gone ten minutes, unless a file or an
// enabled action keeps them; a monitor that comes back gets a device again.
TEST_F(Agent, LetsGoOfDisplaysThatLeave)
{
    WriteTypes();
    Fakes.Display->AddOutput("HDMI-1");
    Fakes.Display->AddOutput("DP-file");
    Fakes.Display->AddOutput("DP-scheduled");
    Folder.Write("Devices/Kept.xml",
                 "<VitrelleDevice><Name>Kept</Name><DeviceInfo><PnpID>DP-file</PnpID></DeviceInfo>"
                 "</VitrelleDevice>");
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    ASSERT_EQ(agent->DeviceCount(), 3);
    EXPECT_EQ(agent->Devices(1).GetDisplayName(), "Kept");
    TVitrelleDevice* kept = &agent->Devices(1);
    TVitrelleDevice* scheduled = &agent->Devices(2);
    agent->Scheduler().AddAction(TScheduleAction::CreateAction(
        &agent->Players(2), TVitrellePlayer::StopAction, 0, QTime(23, 0), true));
    QList<int> removed;
    QObject::connect(&agent->Notifier(), &TAgentNotifier::DeviceRemoved,
                     [&](int index) { removed << index; });
    const auto sourceCount = [&] { return static_cast<int>(agent->Scheduler().Sources().size()); };
    const int baseSources = sourceCount(); // the agent's own, three devices and their players
    const auto check = [&](int present) {
        EXPECT_LE(agent->DeviceCount(), TVitrelleCenterAgent::MaxDevices);
        EXPECT_EQ(agent->PlayerCount(), agent->DeviceCount());
        EXPECT_EQ(sourceCount(), baseSources + 2 * (agent->DeviceCount() - 3));
        if (present >= 0) {
            EXPECT_EQ(agent->DeviceCount(), present);
        }
    };

    // Both kept devices lose their monitors for good.
    Fakes.Display->Output("DP-file").OnDesktop = false;
    Fakes.Display->Output("DP-scheduled").OnDesktop = false;
    Fakes.Display->FireMonitorsChanged();

    // Twenty monitors at once: sixteen devices at most, each refused monitor logged once.
    for (int i = 0; i < 20; ++i)
        Fakes.Display->AddOutput(QStringLiteral("KVM-%1").arg(i));
    Fakes.Display->FireMonitorsChanged();
    Fakes.Display->FireMonitorsChanged();
    check(TVitrelleCenterAgent::MaxDevices);
    EXPECT_EQ(Log.Lines().filter("gets no display device: there are 16 already").size(), 7)
        << Log.Lines().join('\n').toStdString();
    // All but the last, which was refused: it gets the room the others leave.
    for (int i = 0; i < 19; ++i)
        Fakes.Display->Output(QStringLiteral("KVM-%1").arg(i)).OnDesktop = false;
    Fakes.Display->FireMonitorsChanged();
    Fakes.Clock->AdvanceSeconds(9 * 60);
    agent->ReleaseLostDevices();
    EXPECT_EQ(agent->DeviceCount(), TVitrelleCenterAgent::MaxDevices) << "not before ten minutes";
    Fakes.Clock->AdvanceSeconds(60);
    agent->ReleaseLostDevices();
    check(4);
    EXPECT_EQ(removed.size(), 13);
    EXPECT_EQ(&agent->Devices(1), kept) << "a settings file names it";
    EXPECT_EQ(&agent->Devices(2), scheduled) << "an enabled action of its player";
    EXPECT_EQ(agent->Devices(3).Monitor->Name, "KVM-19");
    Fakes.Display->Output("KVM-19").OnDesktop = false;

    // Three hundred names, one after another, a minute apart.
    for (int i = 0; i < 300; ++i) {
        const QString name = QStringLiteral("OUT-%1").arg(i);
        Fakes.Display->AddOutput(name);
        Fakes.Display->FireMonitorsChanged();
        Fakes.Display->Output(name).OnDesktop = false;
        Fakes.Display->FireMonitorsChanged();
        Fakes.Clock->AdvanceSeconds(60);
        check(-1);
    }
    EXPECT_LE(agent->DeviceCount(), 3 + 11);
    Fakes.Clock->AdvanceSeconds(10 * 60);
    agent->ReleaseLostDevices();
    check(3);
    EXPECT_EQ(removed.size(), 314);

    // A monitor back after its device was let go gets a new one, with the lowest free number; the file's
    // monitor gets its own device back.
    Fakes.Display->Output("OUT-7").OnDesktop = true;
    Fakes.Display->Output("DP-file").OnDesktop = true;
    Fakes.Display->FireMonitorsChanged();
    check(4);
    EXPECT_EQ(&agent->Devices(1), kept);
    EXPECT_EQ(agent->Devices(3).Monitor->Name, "OUT-7");
    EXPECT_EQ(agent->Devices(3).Index, 4);
    EXPECT_EQ(agent->Devices(3).GetDisplayName(), "Device 4");
    EXPECT_EQ(agent->Scheduler().FindSource("Player Device 4"), &agent->Players(3));
}

namespace {

// Two displays with settings files of their own (Hall and Bar), Hall's actions and its player's in the
// schedule.
class AgentRename : public Agent
{
protected:
    void SetUp() override
    {
        WriteTypes();
        Fakes.Display->AddOutput("HDMI-1", ReadFileBytes(TestDataPath("edid/office-monitor.bin")));
        Fakes.Display->AddOutput("HDMI-2", ReadFileBytes(TestDataPath("edid/tv-256.bin")));
        Folder.Write("Devices/DEVICE1.xml",
                     "<VitrelleDevice><Name>Hall</Name><FullScreen>-1</FullScreen></VitrelleDevice>");
        Folder.Write("Devices/DEVICE2.xml", "<VitrelleDevice><Name>Bar</Name></VitrelleDevice>");
        Folder.Write("Schedule.xml",
                     R"(<Schedule><ScheduleAction Source="Hall" Action="0" Periodicity="0" Time="07:15:00" )"
                     R"(Enabled="-1"/><ScheduleAction Source="Player Hall" Action="1" Periodicity="0" )"
                     R"(Time="21:00:00" Enabled="-1"/></Schedule>)");
    }
    std::unique_ptr<TVitrelleCenterAgent> Start()
    {
        auto agent = CreateAgent(Folder.Path(), Platform());
        EXPECT_NE(agent, nullptr);
        if (agent != nullptr) {
            EXPECT_EQ(agent->DeviceCount(), 2);
        }
        return agent;
    }
    QStringList DeviceFiles() const
    {
        return QDir(Folder.File("Devices")).entryList(QDir::Files, QDir::Name);
    }
    QString Journal() const { return Folder.File("DeviceRename.pending"); }
};

} // namespace

// Renamed with a new file name: the running display, its player and their actions take the new name at once,
// and the next start finds the display under it with its actions and the rest of its file, the old file gone.
TEST_F(AgentRename, ARenamedDisplayKeepsItsNameAndActionsAfterARestart)
{
    {
        auto agent = Start();
        ASSERT_NE(agent, nullptr);
        ASSERT_EQ(agent->Devices(0).GetDisplayName(), "Hall");
        QList<std::pair<int, QString>> told;
        // Every listener hears of it (the pages are several).
        QList<int> alsoTold;
        QObject::connect(&agent->Notifier(), &TAgentNotifier::DeviceRenamed,
                         [&](int device, const QString& oldName) {
                             told.append({device, oldName});
                         });
        QObject::connect(&agent->Notifier(), &TAgentNotifier::DeviceRenamed,
                         [&](int device) { alsoTold << device; });
        agent->RenameDevice(0, "Lobby", "Lobby");
        EXPECT_EQ(told, (QList<std::pair<int, QString>>{{0, "Hall"}}));
        EXPECT_EQ(alsoTold, QList<int>{0});
        EXPECT_EQ(agent->Devices(0).GetDisplayName(), "Lobby");
        EXPECT_EQ(agent->Devices(0).GetConfigFileName(), "Lobby.xml");
        EXPECT_EQ(agent->Scheduler().FindSource("Player Lobby"), &agent->Players(0));
        EXPECT_NE(agent->Scheduler().Actions().Find("Lobby", 0), nullptr);
        EXPECT_EQ(DeviceFiles(), QStringList({"DEVICE2.xml", "Lobby.xml"}));
        EXPECT_FALSE(QFile::exists(Journal()));
        EXPECT_EQ(Log.Lines().filter("[3] TVitrelleCenterAgent: Display device 'Hall' is now 'Lobby'").size(),
                  1)
            << Log.Lines().join('\n').toStdString();
    }
    auto agent = Start();
    ASSERT_NE(agent, nullptr);
    const TVitrelleDevice& device = agent->Devices(0);
    EXPECT_EQ(device.GetDisplayName(), "Lobby");
    EXPECT_TRUE(device.Settings().FullScreen) << "the rest of its file came along";
    EXPECT_EQ(agent->Devices(1).GetDisplayName(), "Bar");
    const TScheduleAction* on = agent->Scheduler().Actions().Find("Lobby", 0);
    ASSERT_NE(on, nullptr) << Log.Lines().join('\n').toStdString();
    EXPECT_EQ(on->Periodicity.Time, QTime(7, 15));
    EXPECT_NE(agent->Scheduler().Actions().Find("Player Lobby", 1), nullptr);
    EXPECT_EQ(DeviceFiles(), QStringList({"DEVICE2.xml", "Lobby.xml"}));
}

struct TRefusedRename
{
    const char* Name;
    QString NewName;
    QString NewFile;
    const char* Says;
};

class RefusedRename : public AgentRename, public ::testing::WithParamInterface<TRefusedRename>
{
};

// A name or file name another display has, running or only in its settings file, is refused and changes
// nothing: two displays of one name would share their actions (and, in the end, their file).
TEST_P(RefusedRename, ChangesNothing)
{
    auto agent = Start();
    ASSERT_NE(agent, nullptr);
    // A display that is not here today: its file still names it, and it gets its actions back when it is.
    Folder.Write("Devices/Spare.xml", "<VitrelleDevice><Name>Lobby</Name></VitrelleDevice>");
    const QByteArray schedule = ReadFileBytes(Folder.File("Schedule.xml"));
    const QStringList files = DeviceFiles();
    bool told = false;
    QObject::connect(&agent->Notifier(), &TAgentNotifier::DeviceRenamed, [&] { told = true; });
    try {
        agent->RenameDevice(0, GetParam().NewName, GetParam().NewFile);
        ADD_FAILURE() << "the rename is refused";
    } catch (const EVitrelleError& error) {
        EXPECT_TRUE(error.Message().contains(QLatin1String(GetParam().Says)))
            << error.Message().toStdString();
    }
    EXPECT_FALSE(told);
    EXPECT_EQ(agent->Devices(0).GetDisplayName(), "Hall");
    EXPECT_EQ(agent->Devices(0).GetConfigFileName(), "DEVICE1.xml");
    EXPECT_EQ(DeviceFiles(), files);
    EXPECT_EQ(ReadFileBytes(Folder.File("Schedule.xml")), schedule);
    EXPECT_FALSE(QFile::exists(Journal()));
}

INSTANTIATE_TEST_SUITE_P(
    Agent, RefusedRename,
    ::testing::Values(TRefusedRename{"NameOfARunningDisplay", "BAR", "Other",
                                     "already used by another display"},
                      TRefusedRename{"NameOnlyInAFile", "lobby", "Other", "already used by another display"},
                      TRefusedRename{"NameOfAnotherSource", "VitrelleCenterAgent", "Other",
                                     "already used by another display"},
                      TRefusedRename{"FileOfARunningDisplay", "Other", "device2", "is already used"},
                      TRefusedRename{"FileOfNoRunningDisplay", "Other", "SPARE.xml", "has a file"},
                      TRefusedRename{"FileOutsideTheFolder", "Other", "../Other", "not a file name"},
                      TRefusedRename{"NoFile", "Other", "", "not a file name"}),
    [](const auto& info) { return std::string(info.param.Name); });

// A rename the program did not finish (killed half-way) is finished by the next start, before the displays
// read their files: the display comes back under the new name with its actions.
TEST_F(AgentRename, TheNextStartFinishesARenameThatWasCutShort)
{
    TDeviceRename rename;
    rename.OldName = "Hall";
    rename.NewName = "Lobby";
    rename.OldFile = "DEVICE1.xml";
    rename.NewFile = "Lobby.xml";
    rename.Settings = std::make_unique<TVitrelleDeviceSettings>();
    ASSERT_TRUE(rename.Settings->LoadFromFile(Folder.File("Devices/DEVICE1.xml")));
    rename.Settings->Name = "Lobby";
    rename.Settings->DeviceInfo().ReadFromSystem(*Fakes.Display, "HDMI-1");
    WriteDeviceRenameJournal(Journal(), rename);
    // Killed after the settings file was written: the step is done again, harmlessly.
    rename.Settings->SaveToFile(Folder.File("Devices/Lobby.xml"));

    auto agent = Start();
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(agent->Devices(0).GetDisplayName(), "Lobby");
    EXPECT_NE(agent->Scheduler().Actions().Find("Lobby", 0), nullptr);
    EXPECT_NE(agent->Scheduler().Actions().Find("Player Lobby", 1), nullptr);
    EXPECT_EQ(DeviceFiles(), QStringList({"DEVICE2.xml", "Lobby.xml"}));
    EXPECT_FALSE(QFile::exists(Journal()));
    EXPECT_EQ(Log.Lines().filter("[2] TVitrelleCenterAgent: The rename of display 'Hall' to 'Lobby'").size(),
              1)
        << Log.Lines().join('\n').toStdString();
}

// The scheduler's lanes name the display and its player (their log lines, the run state) while the operator
// renames it on the main thread: they read the name the main thread published, never the settings being
// changed (the suite runs under ThreadSanitizer too).
TEST_F(AgentRename, RenamesWhileTheDisplaysActionsRun)
{
    auto agent = Start();
    ASSERT_NE(agent, nullptr);
    TVitrelleScheduler& scheduler = agent->Scheduler();
    scheduler.StopTicking(); // ticked below, an hour later each time
    scheduler.Clear();
    Log.Clear(); // what the start ran
    Fakes.Clock->Set(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
    scheduler.AddAction(TScheduleAction::CreateAction(&agent->Devices(0), TVitrelleDevice::PowerOnAction,
                                                      TActionPeriodicity::EveryHour, QTime(8, 0), true));
    scheduler.AddAction(TScheduleAction::CreateAction(&agent->Players(0), TVitrellePlayer::StopAction,
                                                      TActionPeriodicity::EveryHour, QTime(8, 30), true));
    int renames = 0;
    QTimer renamer;
    renamer.setInterval(0);
    QObject::connect(&renamer, &QTimer::timeout, [&] {
        const bool hall = agent->Devices(0).GetDisplayName() == "Hall";
        try {
            agent->RenameDevice(0, hall ? "Lobby" : "Hall", hall ? "Lobby" : "DEVICE1");
            ++renames;
        } catch (const EVitrelleError& error) {
            ADD_FAILURE() << error.Message().toStdString();
            renamer.stop();
        }
    });
    renamer.start();
    // And a reader of its own, which has no hand-over with the main thread at all.
    const IScheduleSource& device = agent->Devices(0);
    const IScheduleSource& player = agent->Players(0);
    std::atomic<bool> reading = true;
    std::atomic<qsizetype> read = 0;
    std::thread reader([&] {
        while (reading)
            read += device.GetSourceName().size() + player.GetSourceName().size();
    });
    constexpr int Hours = 20;
    for (int hour = 1; hour <= Hours; ++hour) {
        Fakes.Clock->AdvanceSeconds(3600);
        // Ticked on its worker, as in the program: the main thread meanwhile only serves its events, the
        // renames among them, and takes none of the scheduler's locks.
        scheduler.StartTicking();
        EXPECT_TRUE(
            ServeEventsUntil([&] { return Log.Lines().filter("is rescheduled").size() >= 2 * hour; }, 20000));
        scheduler.StopTicking();
    }
    renamer.stop();
    reading = false;
    reader.join();
    EXPECT_GT(read.load(), 0);
    EXPECT_GT(renames, Hours);
    EXPECT_EQ(Log.Lines().filter("is rescheduled").size(), 2 * Hours) << "every action ran every hour";
    EXPECT_EQ(agent->Scheduler().FindSource(agent->Devices(0).GetDisplayName()), &agent->Devices(0));
}

// What ran today under the old name has run under the new one: neither an Apply of the Schedule page nor a
// restart runs it again.
TEST_F(AgentRename, WhatRanBeforeTheRenameDoesNotRunAgain)
{
    const QDate today = Fakes.Clock->Now().date();
    {
        auto agent = Start(); // its first tick runs Hall's power-on of 07:15
        ASSERT_NE(agent, nullptr);
        ASSERT_TRUE(ServeEventsUntil([&] { return !Log.Lines().filter("'Hall' is rescheduled").isEmpty(); }))
            << Log.Lines().join('\n').toStdString();
        agent->Scheduler().StopTicking();
        agent->RenameDevice(0, "Lobby", "Lobby");
        TVitrelleScheduler& scheduler = agent->Scheduler();
        scheduler.Assign(scheduler.Clone().get()); // as the Schedule page's Apply
        const TScheduleAction* on = scheduler.Actions().Find("Lobby", 0);
        ASSERT_NE(on, nullptr);
        EXPECT_EQ(on->NextTime.date(), today.addDays(1));
    }
    auto agent = Start();
    ASSERT_NE(agent, nullptr);
    const TScheduleAction* on = agent->Scheduler().Actions().Find("Lobby", 0);
    ASSERT_NE(on, nullptr);
    EXPECT_EQ(on->NextTime.date(), today.addDays(1));
}

// An operator's slip in the settings file puts the cache where the program keeps its own files; the server's
// list then names vitrelles after those files. Start-up says so at level 1 and goes on with the default cache
// (or, when that overlaps too, without the list), and the program's files stay as they were, modes included.
struct TCacheSlipCase
{
    const char* Why;
    const char* Cache;   // relative to the application folder
    const char* Devices; // the same; empty: the default
    const char* Logged;  // the level-1 line's start; {app} stands for the application folder
    bool ListLoaded;     // the default cache is used: the list is fetched there
    friend void PrintTo(const TCacheSlipCase& c, std::ostream* os) { *os << c.Why; }
};

class AgentCacheSlip : public Agent, public ::testing::WithParamInterface<TCacheSlipCase>
{
};

TEST_P(AgentCacheSlip, StartsWithoutLettingTheServerReplaceTheProgramsFiles)
{
    const TCacheSlipCase& c = GetParam();
    TTestContentServer server;
    WriteTypes();
    for (const char* folder : {"Devices", "Templates/sub", "Cache"})
        ASSERT_TRUE(QDir().mkpath(Folder.File(folder)));
    const auto path = [&](const char* relative) {
        return *relative == 0 ? QString() : QDir::cleanPath(Folder.Path() + "/" + relative);
    };
    TVitrelleCenterSettings settings(Folder.Path());
    server.Configure(settings.HttpSettings());
    settings.SetRepositoryPath(path(c.Cache));
    settings.SetDevicePath(path(c.Devices));
    ASSERT_TRUE(settings.Save()); // for its owner only
    const QString schedule = Folder.Write("Schedule.xml", "<Schedule/>");
    ASSERT_TRUE(QFile::setPermissions(schedule, QFile::ReadOwner | QFile::WriteOwner));
    const QString device = Folder.Write("Devices/DEVICE1.xml", "<kept/>");
    server.SetFile("/list/VitrelleList.xml", "<Vitrelles><Vitrelle id=\"VitrelleCenter\" name=\"Settings\"/>"
                                             "<Vitrelle id=\"Schedule\" name=\"Schedule\"/>"
                                             "<Vitrelle id=\"DEVICE1\" name=\"Device\"/></Vitrelles>");
    for (const char* id : {"VitrelleCenter", "Schedule", "DEVICE1"})
        server.SetFile(QString("/vitrelles/%1.xml").arg(id), "<Vitrelle name=\"replaced\"/>");
    const auto state = [](const QString& file) -> QByteArray {
        return ReadFileBytes(file).toHex() + "/" +
               QByteArray::number(static_cast<int>(QFile::permissions(file)), 16);
    };
    const QStringList own = {settings.GetSettingsFileName(), schedule, device};
    QList<QByteArray> before;
    for (const QString& file : own)
        before << state(file);

    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    const QString logged = QString::fromLatin1(c.Logged).replace("{app}", Folder.Path());
    EXPECT_EQ(Log.Lines().filter("[1] TVitrelleCenterAgent: " + logged).size(), 1)
        << Log.Lines().join('\n').toStdString();
    EXPECT_TRUE(Shown().isEmpty());
    EXPECT_TRUE(agent->Scheduler().IsTicking());
    if (c.ListLoaded) {
        EXPECT_EQ(agent->Settings().GetRepositoryPath(), Folder.Path() + "/Cache/");
        EXPECT_EQ(agent->Repository().Count(), 3) << "the show goes on from the default cache";
        EXPECT_TRUE(QFile::exists(Folder.File("Cache/VitrelleList.xml")));
    } else {
        EXPECT_EQ(agent->Repository().Count(), 0);
        EXPECT_EQ(server.TotalRequests(), 0);
    }
    // Whatever is played or updated, nothing of the list lands on the program's files.
    for (const char* id : {"VitrelleCenter", "Schedule", "DEVICE1"})
        agent->Repository().GetVitrelle(id);
    for (int i = 0; i < agent->Repository().DownloaderCount(); ++i) {
        TVitrelleDownloader* downloader = agent->Repository().DownloaderAt(i);
        downloader->Update();
        EXPECT_TRUE(ServeEventsUntil([&] { return !downloader->Downloading(); }));
    }
    agent.reset();
    QList<QByteArray> after;
    for (const QString& file : own)
        after << state(file);
    EXPECT_EQ(after, before);
    EXPECT_FALSE(QFile::exists(Folder.File("Devices/DEVICE1.html")));
    EXPECT_FALSE(QFile::exists(Folder.File("VitrelleList.xml")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AgentCacheSlip,
    ::testing::Values(
        TCacheSlipCase{
            "the application folder", ".", "",
            "The cache folder {app}/ is the application folder: the cache needs a folder of its own. "
            "This run uses the cache folder {app}/Cache/ and the vitrelle list file "
            "{app}/Cache/VitrelleList.xml",
            true},
        TCacheSlipCase{"a folder holding the application folder", "..", "", "The cache folder ", true},
        TCacheSlipCase{"the device folder", "Devices", "",
                       "The cache folder {app}/Devices/ is the device folder {app}/Devices/", true},
        TCacheSlipCase{"inside the template folder", "Templates/sub", "",
                       "The cache folder {app}/Templates/sub/ lies inside the template folder", true},
        TCacheSlipCase{
            "the default cache as device folder", ".", "Cache",
            "The cache folder {app}/ is the application folder: the cache needs a folder of its own. "
            "The defaults cannot be used either: The cache folder {app}/Cache/ is the device folder "
            "{app}/Cache/: the cache needs a folder of its own. No vitrelle is downloaded or shown",
            false}),
    [](const auto& info) { return CaseName(info.index, info.param.Why); });
