#include "QuitOnSignal.h"

#include "AbortRequest.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};
std::atomic<bool> Terminating{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// Only async-signal-safe work here: two lock-free flags and one write.
void OnSignal(int)
{
    const int savedErrno = errno;
    Terminating.store(true, std::memory_order_relaxed);
    // The main thread may be inside a transfer (start-up fetches the list) where the message loop does not
    // run: every transfer ends at its next progress check.
    AbortRequest::Request();
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(SignalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

void QuitOnTerminationSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(SignalPipe[0], &byte, 1);
        // exit, not quit: quit does nothing while only a modal box's loop runs (a start-up error on screen).
        QCoreApplication::exit(0);
    });
    struct sigaction action
    {
    };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

bool TerminationRequested()
{
    return Terminating.load(std::memory_order_relaxed);
}
