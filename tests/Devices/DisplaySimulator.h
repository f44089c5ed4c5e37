#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// What the simulated display does when a request has arrived.
struct TSimulatedAnswer
{
    QByteArray Request;   // the whole request, as bytes
    QByteArray Reply;     // empty: stays silent
    int DelayMs = 0;      // before the reply
    int VanishAfter = -1; // >= 0: writes this many reply bytes, then the line goes away (cable pulled)
    int DripMs = 0;       // > 0: the reply goes out one byte at a time, this long apart
};

// A display on the far end of a pseudo-terminal, answering from a thread of its own. The program opens
// PortPath() like any serial port. The display writes only in answer to a request, so only while our side
// has the port open; it never uses XON/XOFF. The test keeps the terminal side open itself (raw), so the line
// stays up between exchanges.
class TDisplaySimulator
{
public:
    explicit TDisplaySimulator(std::vector<TSimulatedAnswer> answers);
    ~TDisplaySimulator();
    TDisplaySimulator(const TDisplaySimulator&) = delete;
    TDisplaySimulator& operator=(const TDisplaySimulator&) = delete;

    QString PortPath() const { return FPortPath; }
    // Every byte received so far, after waiting up to timeoutMs for at least size of them.
    QByteArray Received(qsizetype size = 0, int timeoutMs = 2000) const;
    // Whether the display has written a reply, after waiting up to timeoutMs for one.
    bool Replied(int timeoutMs = 2000) const;

private:
    void Run();
    bool Pause(int ms) const;

    std::vector<TSimulatedAnswer> FAnswers;
    int FController = -1;
    int FTerminal = -1;
    QString FPortPath;
    std::atomic<bool> FStop{false};
    std::atomic<int> FReplies{0};
    mutable std::mutex FMutex;
    QByteArray FReceived;
    std::thread FThread;
};

// How many file descriptors of this process are open on the path (the port is closed again when this falls
// back to what it was before an exchange).
int OpenDescriptorsOn(const QString& path);
