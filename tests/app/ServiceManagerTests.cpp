#include "EventWait.h"
#include "FakeServiceManagerSocket.h"
#include "ServiceManager.h"
#include "TestFiles.h"

#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

int CountPings(const TFakeServiceManagerSocket& socket)
{
    int pings = 0;
    while (const auto message = socket.Receive(0))
        pings += message->Text == "WATCHDOG=1" ? 1 : 0;
    return pings;
}

} // namespace

// The watchdog must hear the main thread's event loop and nothing else: pings from any other thread would
// keep a program whose main thread hangs alive for ever.
TEST(ServiceWatchdog, PingsOnlyWhileTheMainThreadServesItsEvents)
{
    TTempFolder folder;
    TFakeServiceManagerSocket socket(folder.File("notify"));
    const auto manager = CreateNotifySocketManager(QFile::encodeName(socket.Path()), 40ms);
    const TServiceWatchdog watchdog(*manager);

    int pings = 0;
    EXPECT_TRUE(ServeEventsUntil([&] { return (pings += CountPings(socket)) >= 3; }, 10000));

    CountPings(socket);
    QThread::msleep(200); // the main thread hangs for five time-outs
    EXPECT_EQ(CountPings(socket), 0);

    EXPECT_TRUE(ServeEventsUntil([&] { return CountPings(socket) > 0; }, 10000)) << "pings again";
}

struct TEnvironmentCase
{
    const char* Name;
    bool Abstract; // the socket's name in the abstract namespace ("@...")
    int PidOffset; // WATCHDOG_PID relative to this process; -1: not set
    bool Watchdog; // the watchdog is this process's
};

class ServiceManagerFromEnvironment : public testing::TestWithParam<TEnvironmentCase>
{
};

TEST_P(ServiceManagerFromEnvironment, SpeaksToTheSocketItNamesAndTakesTheVariablesAway)
{
    const TEnvironmentCase& c = GetParam();
    TTempFolder folder;
    const QString name = c.Abstract
                             ? QStringLiteral("@vc-notify-%1").arg(QUuid::createUuid().toString(QUuid::Id128))
                             : folder.File("notify");
    TFakeServiceManagerSocket socket(name);
    const QByteArray address = QFile::encodeName(name);
    ::setenv("NOTIFY_SOCKET", address.constData(), 1);
    ::setenv("WATCHDOG_USEC", "30000000", 1);
    if (c.PidOffset >= 0)
        ::setenv("WATCHDOG_PID", QByteArray::number(::getpid() + c.PidOffset).constData(), 1);

    const auto manager = TakeServiceManagerFromEnvironment();
    EXPECT_EQ(std::getenv("NOTIFY_SOCKET"), nullptr) << "the web engine's processes would inherit it";
    EXPECT_EQ(std::getenv("WATCHDOG_USEC"), nullptr);
    EXPECT_EQ(std::getenv("WATCHDOG_PID"), nullptr);
    EXPECT_EQ(manager->WatchdogTimeout(), c.Watchdog ? std::chrono::microseconds(30s) : 0us);
    manager->NotifyReady();
    const auto message = socket.Receive(5000);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->Text, "READY=1");
}

INSTANTIATE_TEST_SUITE_P(Cases, ServiceManagerFromEnvironment,
                         testing::Values(TEnvironmentCase{"PathWatchdogForAnyProcess", false, -1, true},
                                         TEnvironmentCase{"AbstractWatchdogForThisProcess", true, 0, true},
                                         TEnvironmentCase{"WatchdogOfAnotherProcess", false, 1, false}),
                         [](const testing::TestParamInfo<TEnvironmentCase>& info) {
                             return std::string(info.param.Name);
                         });
