#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <sys/types.h>

// The service manager's end of the notification socket: a datagram socket at a path of the test (or, named
// "@...", in the abstract namespace), which also tells the process id of each message's sender (the manager
// takes messages from the service's main process only).
class TFakeServiceManagerSocket
{
public:
    struct TMessage
    {
        QByteArray Text;
        pid_t Sender = 0;
    };

    explicit TFakeServiceManagerSocket(const QString& path);
    ~TFakeServiceManagerSocket();
    TFakeServiceManagerSocket(const TFakeServiceManagerSocket&) = delete;
    TFakeServiceManagerSocket& operator=(const TFakeServiceManagerSocket&) = delete;

    QString Path() const { return FPath; }
    // The next message, waiting up to the time-out for one (0: only one that is there already).
    std::optional<TMessage> Receive(int timeoutMs) const;

private:
    QString FPath;
    int FSocket = -1;
};
