#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

// The service manager that started the program (systemd): told when start-up has finished, that the main
// thread still serves its events, and that the program is stopping. A program started by hand has none, and
// every call is then a no-op.
class IServiceManager
{
public:
    virtual ~IServiceManager() = default;
    virtual void NotifyReady() = 0;
    virtual void NotifyStopping() = 0;
    virtual void NotifyAlive() = 0;
    // How long the manager waits for NotifyAlive before it kills the program; zero when it does not watch.
    virtual std::chrono::microseconds WatchdogTimeout() const = 0;
};

// The manager's notification socket (NOTIFY_SOCKET: a path, or "@name" in the abstract namespace). Datagrams
// are sent without waiting, so a manager that does not read never blocks the main thread.
std::unique_ptr<IServiceManager> CreateNotifySocketManager(const QByteArray& socketAddress,
                                                           std::chrono::microseconds watchdogTimeout);

// The manager named by NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID (a watchdog meant for another process
// is ignored), or none. The variables are removed from the environment, so that the processes the program
// starts (the web engine's) never speak for it: call this before any other thread exists.
std::unique_ptr<IServiceManager> TakeServiceManagerFromEnvironment();

// Tells the manager, at half its watchdog time-out, that the event loop of the thread this object lives in
// (the main thread) still runs. A stuck page or a deadlock stops the pings, and the manager restarts the
// program.
class TServiceWatchdog : public QObject
{
    Q_OBJECT
public:
    explicit TServiceWatchdog(IServiceManager& manager, QObject* owner = nullptr);

private:
    IServiceManager& FManager;
    QTimer FTimer;
};
