#include "DisplaySimulator.h"

#include <QDir>

#include <chrono>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

TDisplaySimulator::TDisplaySimulator(std::vector<TSimulatedAnswer> answers) : FAnswers(std::move(answers))
{
    char name[256] = {};
    if (openpty(&FController, &FTerminal, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    termios raw{};
    tcgetattr(FTerminal, &raw);
    cfmakeraw(&raw);
    tcsetattr(FTerminal, TCSANOW, &raw);
    FPortPath = QString::fromLocal8Bit(name);
    FThread = std::thread([this] { Run(); });
}

TDisplaySimulator::~TDisplaySimulator()
{
    FStop = true;
    FThread.join();
    if (FController >= 0)
        close(FController);
    close(FTerminal);
}

QByteArray TDisplaySimulator::Received(qsizetype size, int timeoutMs) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::lock_guard lock(FMutex);
            if (FReceived.size() >= size || std::chrono::steady_clock::now() >= end)
                return FReceived;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool TDisplaySimulator::Replied(int timeoutMs) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (FReplies == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return FReplies > 0;
}

bool TDisplaySimulator::Pause(int ms) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (FStop)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return !FStop;
}

void TDisplaySimulator::Run()
{
    QByteArray pending;
    while (!FStop) {
        pollfd poller{FController, POLLIN, 0};
        if (poll(&poller, 1, 5) <= 0 || (poller.revents & POLLIN) == 0)
            continue;
        char buffer[256];
        const ssize_t count = read(FController, buffer, sizeof buffer);
        if (count <= 0)
            continue;
        pending.append(buffer, count);
        {
            std::lock_guard lock(FMutex);
            FReceived.append(buffer, count);
        }
        for (const TSimulatedAnswer& answer : FAnswers) {
            if (!pending.endsWith(answer.Request))
                continue;
            pending.clear();
            if (!Pause(answer.DelayMs))
                return;
            const QByteArray reply =
                answer.VanishAfter >= 0 ? answer.Reply.left(answer.VanishAfter) : answer.Reply;
            if (answer.DripMs > 0) {
                for (qsizetype i = 0; i < reply.size(); ++i)
                    if ((i > 0 && !Pause(answer.DripMs)) || write(FController, reply.constData() + i, 1) != 1)
                        return;
            } else if (!reply.isEmpty() &&
                       write(FController, reply.constData(), reply.size()) != reply.size())
                return;
            ++FReplies;
            if (answer.VanishAfter >= 0) {
                // Give the bytes time to reach our side before the line goes.
                Pause(20);
                close(FController);
                FController = -1;
                return;
            }
            break;
        }
    }
}

int OpenDescriptorsOn(const QString& path)
{
    // A terminal whose controlling side has closed is listed as deleted.
    const QByteArray name = path.toLocal8Bit();
    const QByteArray deleted = name + " (deleted)";
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& entry : fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        char target[512];
        const ssize_t size = readlink(fds.filePath(entry).toLocal8Bit().constData(), target, sizeof target);
        if (size > 0 && (QByteArray(target, size) == name || QByteArray(target, size) == deleted))
            ++count;
    }
    return count;
}
