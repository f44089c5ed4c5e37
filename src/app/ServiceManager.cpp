#include "ServiceManager.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class TNoServiceManager : public IServiceManager
{
public:
    void NotifyReady() override {}
    void NotifyStopping() override {}
    void NotifyAlive() override {}
    std::chrono::microseconds WatchdogTimeout() const override { return {}; }
};

class TNotifySocketManager : public IServiceManager
{
public:
    TNotifySocketManager(const QByteArray& address, std::chrono::microseconds watchdogTimeout)
        : FWatchdogTimeout(watchdogTimeout)
    {
        FAddress.sun_family = AF_UNIX;
        const auto size = static_cast<size_t>(address.size());
        if (address.startsWith('/') && size < sizeof FAddress.sun_path) {
            std::memcpy(FAddress.sun_path, address.constData(), size);
            FAddressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size + 1);
        } else if (address.startsWith('@') && size > 1 && size <= sizeof FAddress.sun_path) {
            // An abstract name starts with a zero byte and is not terminated: its length is all of it.
            std::memcpy(FAddress.sun_path + 1, address.constData() + 1, size - 1);
            FAddressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size);
        }
    }

    void NotifyReady() override { Send("READY=1"); }
    void NotifyStopping() override { Send("STOPPING=1"); }
    void NotifyAlive() override { Send("WATCHDOG=1"); }
    std::chrono::microseconds WatchdogTimeout() const override { return FWatchdogTimeout; }

private:
    void Send(const char* message) const
    {
        if (FAddressLength == 0)
            return;
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return;
        // Nothing to do when the manager is gone or its queue is full: the next ping tries again.
        [[maybe_unused]] const ssize_t sent =
            ::sendto(fd, message, std::strlen(message), MSG_DONTWAIT | MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&FAddress), FAddressLength);
        ::close(fd);
    }

    sockaddr_un FAddress{};
    socklen_t FAddressLength = 0;
    std::chrono::microseconds FWatchdogTimeout;
};

} // namespace

std::unique_ptr<IServiceManager> CreateNotifySocketManager(const QByteArray& socketAddress,
                                                           std::chrono::microseconds watchdogTimeout)
{
    return std::make_unique<TNotifySocketManager>(socketAddress, watchdogTimeout);
}

std::unique_ptr<IServiceManager> TakeServiceManagerFromEnvironment()
{
    const char* socket = std::getenv("NOTIFY_SOCKET");
    const QByteArray address = socket != nullptr ? QByteArray(socket) : QByteArray();
    const char* usec = std::getenv("WATCHDOG_USEC");
    const char* pid = std::getenv("WATCHDOG_PID");
    std::chrono::microseconds watchdog{};
    bool valid = false;
    const qint64 timeout = usec != nullptr ? QByteArray(usec).toLongLong(&valid) : 0;
    bool pidValid = false;
    const qint64 watchedPid = pid != nullptr ? QByteArray(pid).toLongLong(&pidValid) : 0;
    if (valid && timeout > 0 && (pid == nullptr || (pidValid && watchedPid == ::getpid())))
        watchdog = std::chrono::microseconds(timeout);
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");
    ::unsetenv("WATCHDOG_PID");
    if (address.isEmpty())
        return std::make_unique<TNoServiceManager>();
    return CreateNotifySocketManager(address, watchdog);
}

TServiceWatchdog::TServiceWatchdog(IServiceManager& manager, QObject* owner)
    : QObject(owner), FManager(manager)
{
    const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(manager.WatchdogTimeout());
    if (timeout.count() <= 0)
        return;
    FTimer.setInterval(std::max<std::chrono::milliseconds>(timeout / 2, std::chrono::milliseconds(1)));
    connect(&FTimer, &QTimer::timeout, this, [this] { FManager.NotifyAlive(); });
    FTimer.start();
}
