#include "FakeServiceManagerSocket.h"
#include "TestContentServer.h"
#include "TestFiles.h"
#include "VitrelleCenterSettings.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sqlite3.h>

namespace {

// A copy of the executable in its own application folder, since the folder is the executable's.
QString InstallCopy(const TTempFolder& folder)
{
    const QString copy = folder.File("VitrelleCenter");
    EXPECT_TRUE(QFile::copy(QStringLiteral(VC_EXECUTABLE), copy));
    QFile::setPermissions(copy, QFile::permissions(copy) | QFileDevice::ExeOwner);
    return copy;
}

bool LogGoesToStandardError()
{
    return !QFileInfo::exists(QStringLiteral("/dev/log"));
}

// Starts the copy offscreen in its folder; with a notification socket, as the service manager starts it.
void Start(QProcess& process, const TTempFolder& folder, const QString& executable,
           const TFakeServiceManagerSocket* serviceManager = nullptr)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    if (serviceManager != nullptr) {
        environment.insert("NOTIFY_SOCKET", serviceManager->Path());
        environment.insert("WATCHDOG_USEC", "200000");
    }
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder.Path());
    process.start(executable, {});
    ASSERT_TRUE(process.waitForStarted(10000));
}

} // namespace

TEST(App, StartsShowsTheWindowAndStopsInOrderOnSigterm)
{
    TTempFolder folder;
    const QString executable = InstallCopy(folder);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder.Path());
    process.start(executable, {});
    ASSERT_TRUE(process.waitForStarted(10000));

    QByteArray errors;
    const QDeadlineTimer deadline(30000);
    if (LogGoesToStandardError()) {
        while (!errors.contains("VitrelleCenter successfully initialized") && !deadline.hasExpired() &&
               process.state() == QProcess::Running) {
            process.waitForReadyRead(200);
            errors += process.readAllStandardError();
        }
        const QByteArray missing =
            QByteArray("TVitrelleCenterSettings [1] : Cannot find configuration file ") +
            folder.File("VitrelleCenter.xml").toUtf8();
        EXPECT_TRUE(errors.contains(missing)) << errors.constData();
        EXPECT_TRUE(errors.contains("TVitrelleCenterAgent [3] : VitrelleCenter successfully initialized"));
    } else {
        QThread::msleep(2000);
    }
    ASSERT_EQ(process.state(), QProcess::Running) << errors.constData();
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}

TEST(App, AFailedStartUpStaysOnScreenUntilAnswered)
{
    TTempFolder folder;
    const QString executable = InstallCopy(folder);
    folder.Write("Templates", "a file where the templates folder should be");
    QProcess process;
    Start(process, folder, executable);

    // The error box waits for the operator; the log has the same text.
    QByteArray errors;
    const QDeadlineTimer deadline(LogGoesToStandardError() ? 30000 : 3000);
    while (!errors.contains("TVitrelleCenterAgent [1] : ") && !deadline.hasExpired() &&
           process.state() == QProcess::Running) {
        process.waitForReadyRead(200);
        errors += process.readAllStandardError();
    }
    if (LogGoesToStandardError()) {
        EXPECT_TRUE(errors.contains("TVitrelleCenterAgent [1] : ")) << errors.constData();
    }
    ASSERT_EQ(process.state(), QProcess::Running)
        << "ended without showing its error: " << errors.constData();
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
}

// Start-up fetches the vitrelle list when none is cached; a server that never answers must not keep the
// program from ending, although the main thread waits in the transfer and its message loop does not run.
TEST(App, SigtermEndsAStartUpThatWaitsForAHangingServer)
{
    TTestContentServer server;
    server.SetHang("/list/VitrelleList.xml");
    TTempFolder folder;
    const QString executable = InstallCopy(folder);
    {
        TVitrelleCenterSettings settings(folder.Path());
        server.Configure(settings.HttpSettings());
        ASSERT_TRUE(settings.Save());
    }
    QProcess process;
    Start(process, folder, executable);
    const QDeadlineTimer deadline(30000);
    while (server.Requests("/list/VitrelleList.xml") == 0 && !deadline.hasExpired() &&
           process.state() == QProcess::Running)
        process.waitForFinished(50);
    ASSERT_EQ(server.Requests("/list/VitrelleList.xml"), 1) << process.readAllStandardError().constData();
    ASSERT_EQ(process.state(), QProcess::Running);

    QElapsedTimer clock;
    clock.start();
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    const bool finished = process.waitForFinished(15000);
    const qint64 elapsed = clock.elapsed();
    server.ReleaseHangs();
    ASSERT_TRUE(finished) << "still waiting for the server";
    EXPECT_LT(elapsed, 5000);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
    EXPECT_TRUE(QDir(folder.File("Cache")).entryList(QDir::Files | QDir::Hidden).isEmpty())
        << "nothing partial stays";
}

TEST(App, TellsTheServiceManagerWhenItHasStartedAndWhileItRuns)
{
    TTempFolder folder;
    const QString executable = InstallCopy(folder);
    TFakeServiceManagerSocket serviceManager(folder.File("notify"));
    QProcess process;
    Start(process, folder, executable, &serviceManager);
    const auto pid = static_cast<pid_t>(process.processId());

    const auto ready = serviceManager.Receive(30000);
    ASSERT_TRUE(ready.has_value()) << process.readAllStandardError().constData();
    EXPECT_EQ(ready->Text, "READY=1");
    EXPECT_EQ(ready->Sender, pid) << "the manager hears its main process only";
    if (LogGoesToStandardError()) {
        process.waitForReadyRead(200);
        EXPECT_TRUE(process.readAllStandardError().contains("VitrelleCenter successfully initialized"))
            << "ready before the start-up had ended";
    }
    int pings = 0;
    QElapsedTimer clock;
    clock.start();
    while (pings < 3 && clock.elapsed() < 10000) {
        const auto message = serviceManager.Receive(1000);
        if (message && message->Text == "WATCHDOG=1" && message->Sender == pid)
            ++pings;
    }
    EXPECT_EQ(pings, 3);

    ::kill(pid, SIGTERM);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0);
    std::optional<TFakeServiceManagerSocket::TMessage> last;
    while (const auto message = serviceManager.Receive(0))
        last = message;
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(last->Text, "STOPPING=1");
}

// A start-up whose error waits on screen for the operator is not ready: the service manager's start time-out
// restarts it.
TEST(App, AFailedStartUpIsNeverReportedReady)
{
    TTempFolder folder;
    const QString executable = InstallCopy(folder);
    folder.Write("Templates", "a file where the templates folder should be");
    TFakeServiceManagerSocket serviceManager(folder.File("notify"));
    QProcess process;
    Start(process, folder, executable, &serviceManager);

    QByteArray errors;
    const QDeadlineTimer deadline(LogGoesToStandardError() ? 30000 : 3000);
    while (!errors.contains("TVitrelleCenterAgent [1] : ") && !deadline.hasExpired() &&
           process.state() == QProcess::Running) {
        process.waitForReadyRead(200);
        errors += process.readAllStandardError();
    }
    ASSERT_EQ(process.state(), QProcess::Running) << errors.constData();
    const auto message = serviceManager.Receive(1000);
    EXPECT_FALSE(message.has_value()) << message->Text.constData();
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 1);
}

// The service manager restarts a program that crashed, was killed or hung; the program says so at start-up,
// and only then, in its log and in its play journal, which records each run's start and its end in order.
TEST(App, LogsARestartAfterARunThatDidNotEndInOrder)
{
    const bool logVisible = LogGoesToStandardError(); // not when the log goes to syslog
    TTempFolder folder;
    const QString executable = InstallCopy(folder);
    TFakeServiceManagerSocket serviceManager(folder.File("notify"));
    const QByteArray restarted = "VitrelleCenter [2] : Restarted: the previous run did not end in order";
    // One run until it is ready, ended by the signal; gives what it logged.
    const auto run = [&](int signal) {
        QProcess process;
        Start(process, folder, executable, &serviceManager);
        bool ready = false;
        while (!ready) {
            const auto message = serviceManager.Receive(30000);
            if (!message)
                break;
            ready = message->Text == "READY=1";
        }
        EXPECT_TRUE(ready) << "never ready";
        ::kill(static_cast<pid_t>(process.processId()), signal);
        EXPECT_TRUE(process.waitForFinished(20000));
        while (serviceManager.Receive(0)) {
        }
        return process.readAllStandardError();
    };

    const QByteArray first = run(SIGKILL);
    const QByteArray afterKill = run(SIGTERM);
    const QByteArray afterOrder = run(SIGTERM);
    if (logVisible) {
        EXPECT_FALSE(first.contains(restarted)) << "a first start";
        EXPECT_TRUE(afterKill.contains(restarted)) << "after a kill";
        EXPECT_FALSE(afterOrder.contains(restarted)) << "after a run that ended in order";
    }
    EXPECT_FALSE(QFile::exists(folder.File("VitrelleCenter.running")));

    sqlite3* journal = nullptr;
    ASSERT_EQ(sqlite3_open_v2(folder.File("PlayJournal.sqlite").toUtf8().constData(), &journal,
                              SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* runs = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(journal, "SELECT event || after_crash FROM runs ORDER BY id", -1, &runs, nullptr),
        SQLITE_OK);
    QStringList events;
    while (sqlite3_step(runs) == SQLITE_ROW)
        events << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(runs, 0)));
    sqlite3_finalize(runs);
    sqlite3_close(journal);
    EXPECT_EQ(events, (QStringList{"start0", "start1", "end0", "start0", "end0"}))
        << "the killed run has no end";
}
