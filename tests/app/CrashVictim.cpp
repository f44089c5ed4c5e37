// The program's file work in an endless loop, to be killed at random moments by CrashConsistencyTests: it
// saves the settings, a display's settings file and the schedule (two versions in turn), renders the slide
// pages of a vitrelle into the cache and downloads its media again and again, all through the program's own
// code. Not a test on its own.
//
//   CrashVictim run <application folder>        loops until killed; prints "<kind>" as each piece of work
//                                               starts ("settings", "device", "schedule", "render", "media")
//   CrashVictim reference <application folder>  writes both versions of each file below v0/ and v1/, and the
//                                               cache's files once, then ends: what an unkilled run writes
//   CrashVictim rename <application folder>     renames the display of monitor HDMI-1 from Hall (Hall.xml) to
//                                               Lobby (Lobby.xml) and back through the agent, until killed;
//                                               prints "rename" before each
//   CrashVictim start <application folder>      the program's start-up (the agent's, on fake devices with one
//                                               monitor, HDMI-1), then ends: what the next start does with
//                                               what a kill left. Prints one line per display: "display
//                                               <name> <actions of it> <actions of its player>"
//
// The folder is prepared by the test: settings pointing at its content server, the templates and types in
// Templates/, the vitrelle list in Cache/.

#include "Diapositive.h"
#include "DiapositiveType.h"
#include "Errors.h"
#include "EventWait.h"
#include "FakeSlideView.h"
#include "FrameWebDiapositive.h"
#include "Log.h"
#include "ManualClock.h"
#include "Paths.h"
#include "ScheduleAction.h"
#include "ScheduleActionList.h"
#include "TestPlatform.h"
#include "TestScheduleSource.h"
#include "VitrelleCenterAgent.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleDeviceSettings.h"
#include "VitrelleDownloader.h"
#include "VitrelleRepository.h"
#include "VitrelleScheduler.h"
#include "XmlDocument.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

const QString VitrelleId = QStringLiteral("17");

// One line per started piece of work, unbuffered: the killer reads the last one when it kills.
void Announce(const char* kind)
{
    std::fputs(kind, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ApplySettingsVersion(TVitrelleCenterSettings& settings, int version)
{
    settings.VitrelleAutoUpdate = version == 1;
    settings.VitrelleUpdateTime().Time = version == 1 ? QTime(4, 30) : QTime(22, 15);
}

void MakeDeviceVersion(TVitrelleDeviceSettings& device, int version)
{
    device.Name = QStringLiteral("Hall");
    device.FileName = QStringLiteral("Hall.xml");
    device.FullScreen = version == 1;
    device.DisplayMode() = version == 1 ? TDisplayMode(1920, 1080, 60, 32) : TDisplayMode(1280, 720, 50, 24);
}

void MakeScheduleVersion(TVitrelleScheduler& scheduler, IScheduleSource& source, int version)
{
    scheduler.Clear();
    scheduler.AddAction(TScheduleAction::CreateAction(&source, 0, 0, QTime(7, 0), true));
    if (version == 1)
        for (int hour = 8; hour < 20; ++hour)
            scheduler.AddAction(TScheduleAction::CreateAction(&source, 1, 0, QTime(hour, 5), hour % 2 == 0));
}

// The program's objects over the prepared folder, as the agent sets them up.
struct TWork
{
    explicit TWork(const QString& folder) : Settings(folder)
    {
        InitializeLog(2); // errors and warnings, for the test's failure message
        Settings.Load();
        const QString templates = AbsolutePath(Settings.GetTemplatePath());
        TDiapositiveType::SetTemplateFolder(templates);
        SetXmlReadableFolders({templates, AbsolutePath(Settings.GetRepositoryPath())});
        TDiapositiveType::LoadTypes(AbsolutePath(Settings.GetTypeFilePath()));
        Scheduler.RegisterSource(&Source);
        TRepositoryServices services;
        services.Scheduler = [this] { return &Scheduler; };
        services.Network = Platform.Network;
        services.Downloaders = Platform.Downloaders;
        services.Clock = Platform.Clock;
        Repository = std::make_unique<TVitrelleRepository>(Settings, services);
        Repository->LoadList();
        Vitrelle = Repository->GetVitrelle(VitrelleId);
        Downloader = Repository->GetDownloader(VitrelleId);
        if (Vitrelle == nullptr || Downloader == nullptr)
            throw EVitrelleError(QStringLiteral("Cannot load vitrelle %1").arg(VitrelleId));
        SlideStack.CreateBrowsers();
    }
    ~TWork()
    {
        Repository.reset();
        TDiapositiveType::FreeTypes();
    }

    void SaveSettings(int version, const QString& path)
    {
        ApplySettingsVersion(Settings, version);
        Settings.SaveToFile(path);
    }
    void SaveDevice(int version, const QString& path)
    {
        TVitrelleDeviceSettings device;
        MakeDeviceVersion(device, version);
        device.SaveToFile(path);
    }
    void SaveSchedule(int version, const QString& path)
    {
        MakeScheduleVersion(Scheduler, Source, version);
        Scheduler.SaveToFile(path);
    }
    // Every page rendered anew, as a player does for a page that is not cached.
    void RenderPages()
    {
        for (const TDiapositive* slide : Vitrelle->Diapositives()) {
            QFile::remove(Repository->DiapositiveFilePath(slide));
            if (!SlideStack.PrepareSlide(slide, Repository.get()))
                throw EVitrelleError(QStringLiteral("Cannot render slide %1").arg(slide->Id));
        }
    }

    TTestPlatform Platform = TestPlatform();
    TVitrelleCenterSettings Settings;
    TTestSource Source{QStringLiteral("Test")};
    TVitrelleScheduler Scheduler{Platform.Clock};
    std::unique_ptr<TVitrelleRepository> Repository;
    std::shared_ptr<TVitrelle> Vitrelle;
    TVitrelleDownloader* Downloader = nullptr;
    TFrameWebDiapositive SlideStack{Platform.SlideViews};
};

[[noreturn]] void Run(const QString& folder)
{
    TWork work(folder);
    const QString devicePath = work.Settings.GetDevicePath() + QLatin1String("Hall.xml");
    QDir().mkpath(work.Settings.GetDevicePath());
    for (int version = 0;; version = 1 - version) {
        Announce("settings");
        work.SaveSettings(version, work.Settings.GetSettingsFileName());
        Announce("device");
        work.SaveDevice(version, devicePath);
        Announce("schedule");
        work.SaveSchedule(version, work.Settings.GetScheduleFileName());
        Announce("render");
        work.RenderPages();
        // An update deletes what is cached for the vitrelle, fetches its file and then its media on the
        // worker, while the loop goes on saving and rendering.
        if (!work.Downloader->Downloading()) {
            Announce("media");
            work.Downloader->Update();
        }
        QCoreApplication::processEvents();
    }
}

int Reference(const QString& folder)
{
    TWork work(folder);
    for (int version : {0, 1}) {
        const QString sub = QStringLiteral("%1/v%2/").arg(folder, QString::number(version));
        QDir().mkpath(sub);
        work.SaveSettings(version, sub + QLatin1String("VitrelleCenter.xml"));
        work.SaveDevice(version, sub + QLatin1String("Hall.xml"));
        work.SaveSchedule(version, sub + QLatin1String("Schedule.xml"));
    }
    if (!ServeEventsUntil([&] { return !work.Downloader->Downloading(); }, 30000))
        return 1;
    work.RenderPages();
    return 0;
}

// The platform of the agent in both modes that start it.
TTestPlatform AgentPlatform()
{
    TTestPlatform platform = TestPlatform();
    platform.Display->AddOutput(QStringLiteral("HDMI-1"));
    return platform;
}

[[noreturn]] void RunRenames(const QString& folder)
{
    const TTestPlatform platform = AgentPlatform();
    TVitrelleCenterAgent agent(folder, platform.Agent());
    agent.Initialize();
    agent.Scheduler().StopTicking();
    if (agent.DeviceCount() != 1)
        throw EVitrelleError(QStringLiteral("No display to rename"));
    for (;;) {
        const QString name = agent.Devices(0).GetDisplayName() == QLatin1String("Hall")
                                 ? QStringLiteral("Lobby")
                                 : QStringLiteral("Hall");
        Announce("rename");
        agent.RenameDevice(0, name, name);
    }
}

int Start(const QString& folder)
{
    const TTestPlatform platform = AgentPlatform();
    TVitrelleCenterAgent agent(folder, platform.Agent());
    agent.Initialize();
    const TScheduleActionList& actions = agent.Scheduler().Actions();
    for (int i = 0; i < agent.DeviceCount(); ++i) {
        const auto count = [&actions](const QString& source) {
            int found = 0;
            for (const TScheduleAction* action : actions)
                found += action->Source->GetSourceName() == source ? 1 : 0;
            return found;
        };
        const QString name = agent.Devices(i).GetDisplayName();
        std::printf("display %s %d %d\n", qPrintable(name), count(name),
                    count(agent.Players(i).GetSourceName()));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fputs("usage: CrashVictim run|rename|reference|start <application folder>\n", stderr);
        return 2;
    }
    const QString folder = arguments.at(2);
    try {
        if (arguments.at(1) == QLatin1String("run"))
            Run(folder);
        if (arguments.at(1) == QLatin1String("rename"))
            RunRenames(folder);
        if (arguments.at(1) == QLatin1String("reference"))
            return Reference(folder);
        if (arguments.at(1) == QLatin1String("start"))
            return Start(folder);
    } catch (const EVitrelleError& error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.Message()));
        return 1;
    }
    return 2;
}
