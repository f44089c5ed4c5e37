#include "ThreadLink.h"

#include "Log.h"
#include "MainThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

struct TThreadLink::THandOver
{
    std::function<void()> Method;
    bool Done = false; // guarded by the link's mutex
    std::exception_ptr Error;
};

namespace {
thread_local TThreadLink* CurrentLink = nullptr;
} // namespace

TThreadLink::TThreadLink(IThread& link) : FLink(link)
{
    VC_ASSERT_MAIN_THREAD();
    FThread.reset(QThread::create([this] { Body(); }));
}

TThreadLink::~TThreadLink()
{
    if (FStarted) {
        Terminate();
        // Wait for the thread while serving hand-overs (and only those: no other event may run in here).
        while (true) {
            ServeHandOvers();
            {
                std::lock_guard lock(FMutex);
                if (FEndPosted && FHandOvers.empty())
                    break;
            }
            FThread->wait(QDeadlineTimer(2));
        }
        FThread->wait();
        RunEndHandler();
    }
}

void TThreadLink::Start()
{
    if (FStarted)
        return;
    FStarted = true;
    FThread->start();
}

TThreadLink* TThreadLink::Current()
{
    return CurrentLink;
}

void TThreadLink::Body()
{
    CurrentLink = this;
    FEnded.store(false);
    try {
        FLink.ThreadExecute();
    } catch (const std::exception& error) {
        // An exception must not leave the worker thread; the work simply ends.
        WriteLog(QStringLiteral("TThreadLink"), 1, QString::fromUtf8(error.what()));
    }
    CurrentLink = nullptr;
    {
        std::lock_guard lock(FMutex);
        FBodyReturned = true;
    }
    QMetaObject::invokeMethod(this, "RunEndHandler", Qt::QueuedConnection);
    // The worker's last touch of this object; the destructor waits for it.
    std::lock_guard lock(FMutex);
    FEndPosted = true;
}

void TThreadLink::RunEndHandler()
{
    {
        std::lock_guard lock(FMutex);
        if (!FBodyReturned || FEndHandled)
            return;
        FEndHandled = true;
    }
    try {
        FLink.ThreadTerminated();
    } catch (const std::exception& error) {
        // The end handler runs from the event loop, which an exception must not cross.
        WriteLog(QStringLiteral("TThreadLink"), 1, QString::fromUtf8(error.what()));
    }
    FEnded.store(true);
}

void TThreadLink::WaitForEnd(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!FEnded.load() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(1);
    }
}

void TThreadLink::Synchronize(const std::function<void()>& method)
{
    if (OnMainThread()) {
        method();
        return;
    }
    auto handOver = std::make_shared<THandOver>();
    handOver->Method = method;
    {
        std::lock_guard lock(FMutex);
        FHandOvers.push_back(handOver);
    }
    QMetaObject::invokeMethod(this, "ServeHandOvers", Qt::QueuedConnection);
    std::unique_lock lock(FMutex);
    FHandOverDone.wait(lock, [&] { return handOver->Done; });
    if (handOver->Error)
        std::rethrow_exception(handOver->Error);
}

void TThreadLink::ServeHandOvers()
{
    while (true) {
        std::shared_ptr<THandOver> next;
        {
            std::lock_guard lock(FMutex);
            if (FHandOvers.empty())
                return;
            next = FHandOvers.front();
            FHandOvers.pop_front();
        }
        std::exception_ptr error;
        try {
            next->Method();
        } catch (...) {
            error = std::current_exception(); // raised again on the worker that asked
        }
        {
            std::lock_guard lock(FMutex);
            next->Error = error;
            next->Done = true;
        }
        FHandOverDone.notify_all();
    }
}

void TThreadLink::StartLink(std::unique_ptr<TThreadLink>& link, IThread& owner)
{
    if (!link || link->Ended())
        link = std::make_unique<TThreadLink>(owner);
    link->Start();
}
