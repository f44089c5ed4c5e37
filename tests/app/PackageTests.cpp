#include "FakeServiceManagerSocket.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

struct TRun
{
    int ExitCode = -1;
    QByteArray Output;
    QByteArray Errors;
};

TRun RunTool(const QString& program, const QStringList& arguments,
             const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    TRun run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        run.Errors = "did not finish";
        return run;
    }
    run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Output = process.readAllStandardOutput();
    run.Errors = process.readAllStandardError();
    return run;
}

// scripts/package.sh over the binaries the build made for it; gives the package's path.
QString BuildPackage(const TTempFolder& folder)
{
    const TRun run =
        RunTool(QStringLiteral("bash"),
                {QStringLiteral(VC_SOURCE_DIR "/scripts/package.sh"), QStringLiteral("--binaries"),
                 QStringLiteral(VC_PACKAGE_INPUT), QStringLiteral("--output"), folder.File("out")});
    EXPECT_EQ(run.ExitCode, 0) << run.Errors.constData();
    return QString::fromUtf8(run.Output.trimmed().split('\n').last());
}

QString Unpack(const QString& package, const TTempFolder& folder)
{
    const QString tree = folder.File("tree");
    const TRun run = RunTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), package, tree});
    EXPECT_EQ(run.ExitCode, 0) << run.Errors.constData();
    return tree;
}

QString Architecture()
{
    return QString::fromUtf8(
        RunTool(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).Output.trimmed());
}

bool LogGoesToStandardError()
{
    return !QFileInfo::exists(QStringLiteral("/dev/log"));
}

// The package's programs keep their files here; the tests show them another folder in its place.
const QString PackageFolder = QStringLiteral("/var/lib/vitrellecenter");

// The program and arguments that run a command with the kiosk unit's file system confinement, the folder
// application in place of the package's folder, keep (the test's folder) writable (tests/app/confined.sh).
QStringList Confined(const QString& application, const QString& keep, const QString& program,
                     const QStringList& arguments = {})
{
    return QStringList{QStringLiteral(VC_SOURCE_DIR "/tests/app/confined.sh"), application, keep,
                       QStringLiteral("--"), program} +
           arguments;
}

} // namespace

TEST(Package, HoldsTheProgramsUnitsAndDemoRootOwnedAndReadOnly)
{
    TTempFolder folder;
    const QString package = BuildPackage(folder);
    EXPECT_EQ(QFileInfo(package).fileName(),
              QStringLiteral("vitrellecenter_%1_%2.deb").arg(QStringLiteral(VC_VERSION), Architecture()));

    const TRun fields =
        RunTool(QStringLiteral("dpkg-deb"),
                {QStringLiteral("-f"), package, QStringLiteral("Package"), QStringLiteral("Depends")});
    ASSERT_EQ(fields.ExitCode, 0) << fields.Errors.constData();
    EXPECT_TRUE(fields.Output.contains("Package: vitrellecenter"));
    // Read from the binaries: the libraries they link, the web engine's helper process with its library.
    for (const char* dependency :
         {"libqt6webenginecore6-bin", "libqt6serialport6", "libxslt1.1", "libcurl4", "libxrandr2", "adduser"})
        EXPECT_TRUE(fields.Output.contains(dependency)) << dependency << " in " << fields.Output.constData();
    const TRun info = RunTool(QStringLiteral("dpkg-deb"), {QStringLiteral("--info"), package});
    for (const char* script : {" postinst ", " prerm ", " postrm "})
        EXPECT_TRUE(info.Output.contains(script)) << script;

    const TRun contents = RunTool(QStringLiteral("dpkg-deb"), {QStringLiteral("--contents"), package});
    ASSERT_EQ(contents.ExitCode, 0) << contents.Errors.constData();
    QMap<QString, QString> modes;
    for (const QByteArray& line : contents.Output.split('\n')) {
        const QList<QByteArray> columns = line.simplified().split(' ');
        if (columns.size() < 6)
            continue;
        const QString path = QString::fromUtf8(columns.last());
        modes.insert(path, QString::fromUtf8(columns[0]));
        EXPECT_EQ(columns[1], "root/root") << path.toStdString();
        EXPECT_NE(columns[0][5], 'w') << path.toStdString() << " writable by its group";
        EXPECT_NE(columns[0][8], 'w') << path.toStdString() << " writable by anyone";
        // The application folder is the package's user's, made when it is installed; the demo is no live
        // content.
        EXPECT_FALSE(path.startsWith(QLatin1String("./var/"))) << path.toStdString();
    }
    const std::pair<const char*, const char*> expected[] = {
        {"./usr/bin/VitrelleCenter", "-rwxr-xr-x"},
        {"./usr/bin/VitrelleDisplays", "-rwxr-xr-x"},
        {"./usr/bin/VitrellePlays", "-rwxr-xr-x"},
        {"./usr/lib/vitrellecenter/kiosk-session", "-rwxr-xr-x"},
        {"./lib/systemd/system/vitrellecenter-kiosk.service", "-rw-r--r--"},
        {"./usr/lib/systemd/user/vitrellecenter.service", "-rw-r--r--"},
        {"./usr/share/doc/vitrellecenter/README.md", "-rw-r--r--"},
        {"./usr/share/vitrellecenter/demo/Schedule.xml", "-rw-r--r--"},
        {"./usr/share/vitrellecenter/demo/Templates/Types.xml", "-rw-r--r--"},
        {"./usr/share/vitrellecenter/demo/Cache/VitrelleList.xml", "-rw-r--r--"},
    };
    for (const auto& [path, mode] : expected)
        EXPECT_EQ(modes.value(QLatin1String(path)), QLatin1String(mode)) << path;

    // Both units as systemd reads them, against the package's own files: the host's targets beside them, and
    // a shell for the user unit's wait for the session's display. The user unit is read as a system unit,
    // since this systemd verifies user units only in a running user session.
    const QString tree = Unpack(package, folder);
    ASSERT_TRUE(QDir().mkpath(tree + "/usr/lib/systemd/system") && QDir().mkpath(tree + "/bin"));
    for (const QFileInfo& target : QDir(QStringLiteral("/usr/lib/systemd/system"))
                                       .entryInfoList({QStringLiteral("*.target")}, QDir::Files))
        QFile::copy(target.absoluteFilePath(), tree + "/usr/lib/systemd/system/" + target.fileName());
    QFile::copy(QStringLiteral("/bin/sh"), tree + "/bin/sh");
    ASSERT_TRUE(QFile::copy(tree + "/usr/lib/systemd/user/vitrellecenter.service",
                            tree + "/lib/systemd/system/vitrellecenter-session-check.service"));
    for (const char* unit : {"/lib/systemd/system/vitrellecenter-kiosk.service",
                             "/lib/systemd/system/vitrellecenter-session-check.service"}) {
        const TRun verify =
            RunTool(QStringLiteral("systemd-analyze"),
                    {QStringLiteral("verify"), QStringLiteral("--root=") + tree, QLatin1String(unit)});
        EXPECT_EQ(verify.ExitCode, 0) << unit;
        EXPECT_EQ(verify.Output + verify.Errors, QByteArray()) << unit;
    }
    // The kiosk unit confines the program: rated "OK" (at most 4.0) by the service manager's own measure.
    const TRun security = RunTool(QStringLiteral("systemd-analyze"),
                                  {QStringLiteral("security"), QStringLiteral("--offline=true"),
                                   QStringLiteral("--threshold=40"), QStringLiteral("--no-pager"),
                                   tree + "/lib/systemd/system/vitrellecenter-kiosk.service"});
    EXPECT_EQ(security.ExitCode, 0) << security.Output.right(300).constData();
    EXPECT_TRUE(security.Output.contains("Overall exposure level")) << security.Errors.constData();
}

// A program built without the package's fixed folder would look for its files in /usr/bin and fail at every
// start, restarted by its unit for ever: the packaging script refuses it and says how to build it.
TEST(Package, RefusesProgramsBuiltForAnotherFolder)
{
    TTempFolder folder;
    ASSERT_TRUE(QDir().mkpath(folder.File("plain")));
    for (const char* program : {"VitrelleCenter", "VitrelleDisplays", "VitrellePlays"})
        ASSERT_TRUE(QFile::link(QStringLiteral(VC_PLAIN_BINARIES "/") + program,
                                folder.File(QStringLiteral("plain/") + program)));
    const TRun run = RunTool(QStringLiteral("bash"), {QStringLiteral(VC_SOURCE_DIR "/scripts/package.sh"),
                                                      QStringLiteral("--binaries"), folder.File("plain"),
                                                      QStringLiteral("--output"), folder.File("out")});
    EXPECT_NE(run.ExitCode, 0);
    EXPECT_TRUE(run.Errors.contains("VitrelleCenter keeps its files in '" VC_PLAIN_BINARIES
                                    "', the package needs /var/lib/vitrellecenter"))
        << run.Errors.constData();
    EXPECT_TRUE(run.Errors.contains("-DVC_APPLICATION_FOLDER=/var/lib/vitrellecenter"));
    EXPECT_FALSE(QDir(folder.File("out")).exists() &&
                 !QDir(folder.File("out")).entryList({QStringLiteral("*.deb")}).isEmpty());
}

TEST(Package, UnpackedProgramsStartInTheirFixedFolderAndOnTheKiosksOwnXServer)
{
    TTempFolder folder;
    const QString tree = Unpack(BuildPackage(folder), folder);
    // Seen by the programs as /var/lib/vitrellecenter: the machine's own is never touched.
    const QString applicationFolder = folder.File("application");
    ASSERT_TRUE(QDir().mkpath(applicationFolder));
    if (RunTool(QStringLiteral("bash"), Confined(applicationFolder, folder.Path(), QStringLiteral("true")))
            .ExitCode != 0)
        GTEST_SKIP() << "no mount namespace here (neither root nor unprivileged user namespaces)";
    TFakeServiceManagerSocket serviceManager(folder.File("notify"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NOTIFY_SOCKET", serviceManager.Path());

    {
        QProcess program;
        QProcessEnvironment offscreen = environment;
        offscreen.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(offscreen);
        program.setWorkingDirectory(folder.Path());
        program.start(QStringLiteral("bash"),
                      Confined(applicationFolder, folder.Path(), tree + "/usr/bin/VitrelleCenter"));
        const auto ready = serviceManager.Receive(30000);
        ASSERT_TRUE(ready.has_value()) << program.readAllStandardError().constData();
        EXPECT_EQ(ready->Text, "READY=1");
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(20000));
        EXPECT_EQ(program.exitCode(), 0);
        if (LogGoesToStandardError()) {
            const QByteArray missing =
                "Cannot find configuration file " + QFile::encodeName(PackageFolder) + "/VitrelleCenter.xml";
            EXPECT_TRUE(program.readAllStandardError().contains(missing));
        }
        while (serviceManager.Receive(0)) {
        }
        EXPECT_TRUE(QFileInfo(applicationFolder + "/Templates").isDir());
        EXPECT_EQ(QDir(tree + "/usr/bin").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList({"VitrelleCenter", "VitrelleDisplays", "VitrellePlays"}))
            << "nothing is written beside the executable";
    }
    {
        QProcessEnvironment offscreen = environment;
        offscreen.insert("QT_QPA_PLATFORM", "offscreen");
        const TRun displays = RunTool(tree + "/usr/bin/VitrelleDisplays", {}, offscreen);
        EXPECT_EQ(displays.ExitCode, 0) << displays.Errors.constData();
        EXPECT_TRUE(displays.Output.contains("monitor(s) on the desktop")) << displays.Output.constData();
        // The export reads the journal the installed program wrote in its application folder.
        const TRun plays =
            RunTool(QStringLiteral("bash"),
                    Confined(applicationFolder, folder.Path(), tree + "/usr/bin/VitrellePlays"), environment);
        EXPECT_EQ(plays.ExitCode, 0);
        EXPECT_TRUE(QFile::exists(applicationFolder + "/PlayJournal.sqlite"));
        EXPECT_TRUE(plays.Output.startsWith("display,output,manufacturer,model,serial,vitrelle_id"))
            << plays.Errors.constData();
    }

    // The kiosk's session with Xvfb in place of the machine's X server, which would need a terminal and
    // graphics hardware, confined as its unit confines it, on the demo the package brings: the program must
    // become the service's main process, on the server it started, and play the demo.
    for (const char* part : {"Templates", "Cache"})
        ASSERT_EQ(RunTool(QStringLiteral("cp"),
                          {QStringLiteral("-r"), tree + "/usr/share/vitrellecenter/demo/" + part,
                           applicationFolder + "/"})
                      .ExitCode,
                  0);
    ASSERT_TRUE(QFile::copy(tree + "/usr/share/vitrellecenter/demo/Schedule.xml",
                            applicationFolder + "/Schedule.xml"));
    QFile::remove(applicationFolder + "/ScheduleState.xml");
    const QString fakes = folder.File("fake-bin");
    folder.Write("fake-bin/Xorg",
                 "#!/bin/bash\n"
                 "echo $$ > \"$(dirname \"$0\")/server.pid\"\n"
                 "arguments=()\n"
                 "for argument in \"$@\"; do\n"
                 "  case \"$argument\" in vt[0-9]*|-keeptty) ;; *) arguments+=(\"$argument\") ;; esac\n"
                 "done\n"
                 "exec Xvfb \"${arguments[@]}\"\n");
    QFile::setPermissions(fakes + "/Xorg", QFile::permissions(fakes + "/Xorg") | QFileDevice::ExeOwner);
    const QString runtime = folder.File("runtime");
    ASSERT_TRUE(QDir().mkpath(runtime));
    QProcessEnvironment session = environment;
    session.remove("QT_QPA_PLATFORM");
    session.remove("DISPLAY");
    session.remove("XAUTHORITY");
    session.insert("PATH", fakes + ":" + environment.value("PATH"));
    // The unit's run folder; the login's runtime folder is out of reach.
    session.insert("RUNTIME_DIRECTORY", runtime);
    session.insert("XDG_RUNTIME_DIR", QStringLiteral("/run/user/0"));
    session.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    // A sanitized build: the GL driver loaded under X is unloaded before the leak check, so its allocations
    // name no module and cannot be told from ours; the program's leaks are checked on the offscreen platform.
    session.insert("ASAN_OPTIONS",
                   environment.value("ASAN_OPTIONS") + ":new_delete_type_mismatch=0:detect_leaks=0");
    QProcess kiosk;
    kiosk.setProcessEnvironment(session);
    kiosk.start(QStringLiteral("bash"),
                Confined(applicationFolder, folder.Path(), tree + "/usr/lib/vitrellecenter/kiosk-session"));
    ASSERT_TRUE(kiosk.waitForStarted(10000));
    const auto ready = serviceManager.Receive(60000);
    const QByteArray serverPid = ReadFileBytes(fakes + "/server.pid").trimmed();
    if (ready.has_value()) {
        EXPECT_EQ(ready->Text, "READY=1");
        EXPECT_EQ(ready->Sender, static_cast<pid_t>(kiosk.processId())) << "the program is the main process";
        EXPECT_EQ(QFile::permissions(runtime + "/.vitrellecenter-Xauthority").toInt() & 0x0077, 0)
            << "the X server's cookie is the user's alone";
        // The demo's schedule plays "welcome" at start: its slides reach the play journal.
        QByteArray journal;
        for (int tries = 0; tries < 120 && !journal.contains(",welcome,"); ++tries) {
            QThread::msleep(500);
            journal = RunTool(tree + "/usr/bin/VitrellePlays",
                              {QStringLiteral("--folder"), applicationFolder}, environment)
                          .Output;
        }
        EXPECT_TRUE(journal.contains(",welcome,")) << journal.constData();
    } else {
        ADD_FAILURE() << "never ready: " << kiosk.readAllStandardError().constData();
    }
    ::kill(static_cast<pid_t>(kiosk.processId()), SIGTERM);
    EXPECT_TRUE(kiosk.waitForFinished(20000));
    EXPECT_EQ(kiosk.exitCode(), 0) << kiosk.readAllStandardError().constData();
    if (!serverPid.isEmpty())
        ::kill(static_cast<pid_t>(serverPid.toLongLong()), SIGTERM);
}
