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

// Starts the copy offscreen in its folder.
void Start(QProcess& process, const TTempFolder& folder, const QString& executable)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
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
