// Kills a process doing the program's file work (CrashVictim) with SIGKILL at random moments, as a power cut
// would, then lets the program start again and checks what the kill left: every file whole (the old or the
// new version) and readable by the program, and none of its temporary files left anywhere.
// A second test kills a process renaming a display back and forth: every next start finds the display under
// one of its names, with its actions, in one file, and the rename finished.
//
// VC_CRASH_KILLS sets the number of kills (default 20); VC_CRASH_SEED the random seed of the kill delays.

#include "ManualClock.h"
#include "TestContentServer.h"
#include "TestFiles.h"
#include "TestScheduleSource.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleDeviceSettings.h"
#include "VitrelleScheduler.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <functional>

#include <csignal>
#include <iostream>
#include <map>
#include <random>

namespace {

// Lets the victim work for the delay, reading what it announces meanwhile, then kills it with SIGKILL.
void KillAfter(QProcess& victim, qint64 delayMs, const std::function<void()>& readLines)
{
    const QDeadlineTimer delay(delayMs);
    while (!delay.hasExpired()) {
        victim.waitForReadyRead(static_cast<int>(std::max<qint64>(1, delay.remainingTime())));
        readLines();
    }
    ASSERT_EQ(victim.state(), QProcess::Running) << victim.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(victim.processId()), SIGKILL);
    ASSERT_TRUE(victim.waitForFinished(10000));
    readLines();
}

const QStringList WorkKinds{"settings", "device", "schedule", "render", "media"};
constexpr int MaxKillDelayMs = 250;
constexpr qint64 MediaSize = 1 << 20;

int EnvironmentNumber(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

QByteArray TestData(const QString& name)
{
    return ReadFileBytes(TestDataPath(name));
}

// Every file below the folder (hidden ones included), relative to it.
QStringList FilesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    return files;
}

int LeftoverCount(const QString& folder)
{
    return static_cast<int>(FilesBelow(folder).filter(QStringLiteral(".vctmp.")).size());
}

class CrashConsistency : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Server.SetFile("/vitrelles/17.xml", TestData("repository/17.xml"));
        Server.SetFile("/vitrelles/gallery.xml", TestData("repository/gallery.xml"));
        // Media big enough for a kill to land in the middle of a download.
        Server.SetGenerated("/media/p1.jpg", MediaSize);
        Server.SetGenerated("/media/p2.jpg", MediaSize + 1);
        for (const char* path :
             {"/templates/Text/t.png", "/templates/Photo/style.css", "/templates/Text/text.css"})
            Server.SetFile(path, QByteArray("content of ") + path);
        Prepare(App);
        Prepare(Reference);
        InitialSettings = ReadFileBytes(App.File("VitrelleCenter.xml"));
        ASSERT_EQ(RunToEnd("reference", Reference), 0);
        for (const char* version : {"v0", "v1"})
            for (const char* name : {"VitrelleCenter.xml", "Hall.xml", "Schedule.xml"})
                Versions[name] << ReadFileBytes(Reference.File(QStringLiteral("%1/%2").arg(version, name)));
        Versions["VitrelleCenter.xml"] << InitialSettings; // before the first save
    }

    // An application folder as the program finds it: settings that name the server, the templates and
    // types, a cached vitrelle list.
    void Prepare(const TTempFolder& folder) const
    {
        TVitrelleCenterSettings settings(folder.Path());
        Server.Configure(settings.HttpSettings());
        ASSERT_TRUE(settings.Save());
        folder.Write("Templates/Types.xml",
                     TestData("repository/Types.xml").replace("{server}", Server.BaseUrl().toUtf8()));
        for (const char* name : {"Photo.xsl", "Text.xsl"})
            folder.Write(QStringLiteral("Templates/") + name, TestData(QStringLiteral("player/") + name));
        folder.Write("Cache/VitrelleList.xml", TestData("repository/VitrelleList.xml"));
    }

    static void StartVictim(QProcess& victim, const QString& mode, const TTempFolder& folder)
    {
        victim.start(QStringLiteral(VC_CRASH_VICTIM), {mode, folder.Path()});
        ASSERT_TRUE(victim.waitForStarted(10000));
    }

    static int RunToEnd(const QString& mode, const TTempFolder& folder)
    {
        QProcess victim;
        StartVictim(victim, mode, folder);
        const bool ended = victim.waitForFinished(60000);
        EXPECT_TRUE(ended && victim.exitStatus() == QProcess::NormalExit && victim.exitCode() == 0)
            << mode.toStdString() << ": " << victim.readAllStandardError().toStdString();
        return ended ? victim.exitCode() : -1;
    }

    // What is wrong with the folder's files; nothing when every file is one the program wrote whole.
    QStringList Faults() const
    {
        QStringList faults;
        const auto checkVersion = [&](const QString& name, const QString& path, bool required) {
            if (!QFile::exists(path)) {
                if (required)
                    faults << name + " is missing";
                return false;
            }
            if (!Versions.at(name).contains(ReadFileBytes(path))) {
                faults << name + " is neither version: " + QString::fromUtf8(ReadFileBytes(path));
                return false;
            }
            return true;
        };
        TVitrelleCenterSettings settings(App.Path());
        if (checkVersion("VitrelleCenter.xml", settings.GetSettingsFileName(), true)) {
            if (!settings.Load())
                faults << "the settings do not load";
            if ((QFile::permissions(settings.GetSettingsFileName()) &
                 (QFileDevice::ReadGroup | QFileDevice::ReadOther)) != 0)
                faults << "the settings file, which holds the password, is readable by others";
        }
        TVitrelleDeviceSettings device;
        if (checkVersion("Hall.xml", settings.GetDevicePath() + "Hall.xml", false) &&
            !device.LoadFromFile(settings.GetDevicePath() + "Hall.xml"))
            faults << "the device settings do not load";
        TTestSource source("Test");
        TVitrelleScheduler scheduler(std::make_shared<TManualClock>());
        scheduler.RegisterSource(&source);
        if (checkVersion("Schedule.xml", settings.GetScheduleFileName(), false) &&
            (!scheduler.LoadFromFile(settings.GetScheduleFileName()) || scheduler.ActionCount() == 0))
            faults << "the schedule does not load";
        // Pages, media, resources and vitrelle files: each as an unkilled run writes it, or absent.
        for (const QString& file : FilesBelow(App.File("Cache"))) {
            const QString reference = Reference.File("Cache/" + file);
            if (!QFile::exists(reference))
                faults << "unexpected file Cache/" + file;
            else if (ReadFileBytes(App.File("Cache/" + file)) != ReadFileBytes(reference))
                faults << "Cache/" + file + " differs from a whole one";
        }
        const QStringList leftovers = FilesBelow(App.Path()).filter(QStringLiteral(".vctmp."));
        if (!leftovers.isEmpty())
            faults << "temporary files remain after the start: " + leftovers.join(", ");
        return faults;
    }

    TTestContentServer Server;
    TTempFolder App;
    TTempFolder Reference;
    QByteArray InitialSettings;
    std::map<QString, QByteArrayList> Versions; // by file name: every whole content it may have
};

TEST_F(CrashConsistency, EveryFileIsWholeAndNoTemporaryFileRemainsAfterAKill)
{
    const int kills = EnvironmentNumber("VC_CRASH_KILLS", 20);
    const auto seed = static_cast<unsigned>(EnvironmentNumber("VC_CRASH_SEED", std::random_device()()));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delays(0, MaxKillDelayMs);
    std::map<QString, int> killedDuring; // the work last started when the kill came
    int killsLeavingLeftovers = 0;
    int failures = 0;
    QElapsedTimer elapsed;
    elapsed.start();

    for (int kill = 0; kill < kills; ++kill) {
        QProcess victim;
        StartVictim(victim, "run", App);
        // Aimed once every kind of work has started, so the delays spread the kills over all of them.
        QSet<QString> started;
        QString last;
        const auto readLines = [&] {
            while (victim.canReadLine()) {
                last = QString::fromUtf8(victim.readLine()).trimmed();
                started.insert(last);
            }
        };
        const QDeadlineTimer ready(30000);
        while (started.size() < WorkKinds.size() && !ready.hasExpired() &&
               victim.state() == QProcess::Running) {
            victim.waitForReadyRead(100);
            readLines();
        }
        ASSERT_EQ(started.size(), WorkKinds.size())
            << "the victim did not start its work: " << victim.readAllStandardError().toStdString();
        ASSERT_NO_FATAL_FAILURE(KillAfter(victim, delays(random), readLines));
        ++killedDuring[last];
        if (LeftoverCount(App.Path()) > 0)
            ++killsLeavingLeftovers;

        ASSERT_EQ(RunToEnd("start", App), 0);
        const QStringList faults = Faults();
        if (!faults.isEmpty() && ++failures <= 5)
            ADD_FAILURE() << "after kill " << kill + 1 << " (during " << last.toStdString()
                          << "): " << faults.join("; ").toStdString();
    }

    std::cout << "crash consistency: " << kills << " kills, " << failures << " with faults, "
              << killsLeavingLeftovers << " left temporary files for the next start to remove, "
              << elapsed.elapsed() / 1000.0 << " s, seed " << seed << "\n  killed during:";
    for (const auto& [kind, count] : killedDuring)
        std::cout << ' ' << kind.toStdString() << ' ' << count;
    std::cout << std::endl;
    EXPECT_EQ(failures, 0);
}

// A display renamed back and forth (Hall in Hall.xml, Lobby in Lobby.xml), killed at random moments: every
// next start finds it under exactly one of the names, in that name's file only, with its actions and its
// player's, and nothing of the rename left over.
class RenameCrash : public ::testing::Test
{
protected:
    void SetUp() override
    {
        App.Write("Devices/Hall.xml",
                  "<VitrelleDevice><Name>Hall</Name><DeviceInfo><PnpID>HDMI-1</PnpID></DeviceInfo>"
                  "</VitrelleDevice>");
        App.Write("Schedule.xml",
                  R"(<Schedule><ScheduleAction Source="Hall" Action="0" Periodicity="0" Time="07:15:00" )"
                  R"(Enabled="-1"/><ScheduleAction Source="Player Hall" Action="1" Periodicity="0" )"
                  R"(Time="21:00:00" Enabled="-1"/></Schedule>)");
    }

    // What is wrong after a start; its output names the displays it found.
    QStringList Faults(const QString& started) const
    {
        QStringList faults;
        const QStringList displays = started.split('\n', Qt::SkipEmptyParts);
        if (displays.size() != 1)
            return {"the start found " + QString::number(displays.size()) + " displays: " + started};
        const QStringList fields = displays.first().split(' ');
        const QString name = fields.value(1);
        if (fields.size() != 4 || fields.first() != "display" || (name != "Hall" && name != "Lobby"))
            return {"the display is neither Hall nor Lobby: " + displays.first()};
        if (fields.value(2) != "1" || fields.value(3) != "1")
            faults << "the actions of " + name + " and its player are not there: " + displays.first();
        const QStringList files = QDir(App.File("Devices")).entryList(QDir::Files | QDir::Hidden);
        if (files != QStringList{name + ".xml"})
            faults << name + " is not alone in its file: " + files.join(", ");
        if (QFile::exists(App.File("DeviceRename.pending")))
            faults << "the rename journal is left after the start";
        if (LeftoverCount(App.Path()) > 0)
            faults << "temporary files remain after the start";
        return faults;
    }

    TTempFolder App;
};

TEST_F(RenameCrash, TheDisplayComesBackUnderOneNameWithItsActions)
{
    const int kills = EnvironmentNumber("VC_CRASH_KILLS", 20);
    const auto seed = static_cast<unsigned>(EnvironmentNumber("VC_CRASH_SEED", std::random_device()()));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delays(0, MaxKillDelayMs);
    std::map<QString, int> namesFound;
    int renames = 0;
    int failures = 0;

    for (int kill = 0; kill < kills; ++kill) {
        QProcess victim;
        victim.start(QStringLiteral(VC_CRASH_VICTIM), {"rename", App.Path()});
        ASSERT_TRUE(victim.waitForStarted(10000));
        const auto readLines = [&] {
            while (victim.canReadLine())
                renames += QString::fromUtf8(victim.readLine()).trimmed() == "rename" ? 1 : 0;
        };
        // Aimed once the renames have begun: the start-up before them is no part of it.
        const int before = renames;
        const QDeadlineTimer ready(30000);
        while (renames == before && !ready.hasExpired() && victim.state() == QProcess::Running) {
            victim.waitForReadyRead(100);
            readLines();
        }
        ASSERT_GT(renames, before) << "the victim did not rename: "
                                   << victim.readAllStandardError().toStdString();
        ASSERT_NO_FATAL_FAILURE(KillAfter(victim, delays(random), readLines));

        QProcess start;
        start.start(QStringLiteral(VC_CRASH_VICTIM), {"start", App.Path()});
        ASSERT_TRUE(start.waitForStarted(10000));
        ASSERT_TRUE(start.waitForFinished(60000));
        ASSERT_EQ(start.exitCode(), 0) << start.readAllStandardError().toStdString();
        const QString started = QString::fromUtf8(start.readAllStandardOutput());
        ++namesFound[started.section(' ', 1, 1)];
        const QStringList faults = Faults(started);
        if (!faults.isEmpty() && ++failures <= 5)
            ADD_FAILURE() << "after kill " << kill + 1 << ": " << faults.join("; ").toStdString();
    }

    std::cout << "rename crash consistency: " << kills << " kills over " << renames << " renames, "
              << failures << " with faults, seed " << seed << "\n  names found:";
    for (const auto& [name, count] : namesFound)
        std::cout << ' ' << name.toStdString() << ' ' << count;
    std::cout << std::endl;
    EXPECT_EQ(failures, 0);
}

} // namespace
