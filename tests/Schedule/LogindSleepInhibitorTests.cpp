#include "EventWait.h"
#include "LogCapture.h"
#include "LogindSleepInhibitor.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

// Stands in for logind on a private bus: Inhibit hands out the write end of a pipe, whose read end the test
// keeps to see whether anybody still holds the inhibitor.
class TFakeLogind : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    int ReadEnd = -1;
    QStringList Arguments;

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode)
    {
        Arguments = {what, who, why, mode};
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return {};
        ReadEnd = ends[0];
        QDBusUnixFileDescriptor handed(ends[1]); // keeps a copy of its own
        ::close(ends[1]);
        return handed;
    }
};

bool PeerClosed(int readEnd)
{
    pollfd entry{readEnd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & (POLLHUP | POLLIN)) != 0;
}

// Calls the inhibitor on a worker, as the scheduler's tick does, while this thread serves the bus.
void KeepAwakeFromWorker(TLogindSleepInhibitor& inhibitor)
{
    std::atomic<bool> done{false};
    std::thread worker([&] {
        inhibitor.KeepSystemAwake();
        done = true;
    });
    ServeEventsUntil([&] { return done.load(); }, 20000);
    worker.join();
}

} // namespace

TEST(LogindSleepInhibitor, WithoutABusNothingIsHeldAndTheFailureIsLoggedOnce)
{
    TLogCapture log;
    TLogindSleepInhibitor inhibitor(QStringLiteral("unix:path=/nonexistent/bus"));
    KeepAwakeFromWorker(inhibitor);
    EXPECT_FALSE(inhibitor.Holding());
    inhibitor.KeepSystemAwake(); // tried again, never an error, not logged again
    inhibitor.KeepSystemAwake();
    EXPECT_FALSE(inhibitor.Holding());
    ASSERT_EQ(log.Lines().size(), 1) << log.Lines().join('\n').toStdString();
    EXPECT_TRUE(log.Lines().constFirst().startsWith(
        "[2] TLogindSleepInhibitor: Cannot keep the computer awake yet (the bus cannot be reached"));
}

TEST(LogindSleepInhibitor, HoldsOneInhibitorUntilDestroyed)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(daemon.waitForStarted(5000));
    ASSERT_TRUE(daemon.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    {
        QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("fake-logind"));
        ASSERT_TRUE(service.isConnected());
        TFakeLogind logind;
        ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/login1"), &logind,
                                           QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.login1")));

        auto inhibitor = std::make_unique<TLogindSleepInhibitor>(address);
        KeepAwakeFromWorker(*inhibitor);
        KeepAwakeFromWorker(*inhibitor);
        ASSERT_TRUE(inhibitor->Holding());
        ASSERT_GE(logind.ReadEnd, 0);
        EXPECT_EQ(logind.Arguments.at(0), "sleep:idle");
        EXPECT_EQ(logind.Arguments.at(1), "VitrelleCenter");
        EXPECT_EQ(logind.Arguments.at(3), "block");
        EXPECT_FALSE(PeerClosed(logind.ReadEnd)) << "the hold is kept";
        inhibitor.reset();
        EXPECT_TRUE(PeerClosed(logind.ReadEnd)) << "released with the object";
        ::close(logind.ReadEnd);
        service.unregisterService(QStringLiteral("org.freedesktop.login1"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
    daemon.terminate();
    daemon.waitForFinished(5000);
}

// At boot the bus may come up after the first tick: the hold is taken at a later call.
TEST(LogindSleepInhibitor, TakesTheHoldOnceTheBusIsThere)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    TLogCapture log;
    TTempFolder folder;
    const QString address = QStringLiteral("unix:path=") + folder.File("bus");
    TLogindSleepInhibitor inhibitor(address);
    KeepAwakeFromWorker(inhibitor);
    EXPECT_FALSE(inhibitor.Holding());

    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {"--session", "--nofork", "--address=" + address, "--print-address"});
    ASSERT_TRUE(daemon.waitForStarted(5000));
    ASSERT_TRUE(daemon.waitForReadyRead(5000));
    {
        QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("late-logind"));
        ASSERT_TRUE(service.isConnected());
        TFakeLogind logind;
        ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/login1"), &logind,
                                           QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.login1")));
        KeepAwakeFromWorker(inhibitor);
        EXPECT_TRUE(inhibitor.Holding());
        KeepAwakeFromWorker(inhibitor);
        ASSERT_GE(logind.ReadEnd, 0);
        EXPECT_FALSE(PeerClosed(logind.ReadEnd));
        ::close(logind.ReadEnd);
        service.unregisterService(QStringLiteral("org.freedesktop.login1"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("late-logind"));
    daemon.terminate();
    daemon.waitForFinished(5000);
    const QStringList lines = log.Lines();
    ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.at(0).startsWith("[2] TLogindSleepInhibitor: Cannot keep the computer awake yet"));
    EXPECT_EQ(lines.at(1), "[3] TLogindSleepInhibitor: The computer is now kept awake");
}

#include "LogindSleepInhibitorTests.moc"
