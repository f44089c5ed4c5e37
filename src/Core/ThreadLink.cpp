#include "ThreadLink.h"

#include "AbortRequest.h"
#include "Errors.h"
#include "Log.h"
#include "MainThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QThread>

#include <vector>

struct TThreadLink::THandOver
{
    std::function<void()> Method;
    bool Done = false; // guarded by the link's mutex
    std::exception_ptr Error;
};

namespace {
thread_local TThreadLink* CurrentLink = nullptr;
int WaitDepth = 0; // main thread only

bool IsUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::ContextMenu:
    case QEvent::Gesture:
    case QEvent::NativeGesture:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

// Holds back the user input that reaches the application during a wait and posts it again afterwards.
// ExcludeUserInputEvents keeps the window system's input queued; this catches input that arrives by any
// other road (events posted or sent by code, a window-system flush asked for by another thread).
class TInputDeferral : public QObject
{
public:
    TInputDeferral()
    {
        if (QCoreApplication* app = QCoreApplication::instance())
            app->installEventFilter(this);
    }
    ~TInputDeferral() override
    {
        if (QCoreApplication* app = QCoreApplication::instance())
            app->removeEventFilter(this);
        for (auto& [receiver, event] : FDeferred)
            if (receiver)
                QCoreApplication::postEvent(receiver, event.release());
    }

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        if (!IsUserInput(event->type()))
            return false;
        FDeferred.emplace_back(receiver, std::unique_ptr<QEvent>(event->clone()));
        return true;
    }

private:
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> FDeferred;
};

class TWaitScope
{
public:
    TWaitScope() { ++WaitDepth; }
    ~TWaitScope() { --WaitDepth; }
    TWaitScope(const TWaitScope&) = delete;
    TWaitScope& operator=(const TWaitScope&) = delete;
};
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
        WriteLog(TThreadLink::LogSource, 1, QString::fromUtf8(error.what()));
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
        WriteLog(TThreadLink::LogSource, 1, QString::fromUtf8(error.what()));
    }
    FEnded.store(true);
}

void TThreadLink::WaitForEnd(int timeoutMs)
{
    VC_ASSERT_MAIN_THREAD();
    if (WaitDepth > 0) {
        // Serving events here could run a handler that frees what the outer wait's caller, or this one's,
        // still works on; raising instead would drop the work that asked to wait (a scheduled update).
        WaitServingNoEvents(timeoutMs);
        return;
    }
    const TWaitScope scope;
    const TInputDeferral deferral;
    QElapsedTimer clock;
    clock.start();
    while (!FEnded.load() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(1);
    }
}

void TThreadLink::WaitServingNoEvents(int timeoutMs)
{
    const TWaitScope scope;
    QElapsedTimer clock;
    clock.start();
    while (!FEnded.load() && clock.elapsed() < timeoutMs) {
        ServeHandOvers(); // a worker blocked in Synchronize can still finish
        bool returned = false;
        {
            std::lock_guard lock(FMutex);
            returned = FBodyReturned;
        }
        if (returned) {
            RunEndHandler(); // its queued call finds it done
            return;
        }
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

void RunOnMainThread(const std::function<void()>& method)
{
    if (OnMainThread()) {
        method();
        return;
    }
    TThreadLink* link = TThreadLink::Current();
    if (link == nullptr)
        throw EVitrelleError(QStringLiteral("Main-thread work was asked for on a thread without a link"));
    link->Synchronize(method);
}

bool WorkerStopRequested()
{
    if (AbortRequest::Requested())
        return true;
    const TThreadLink* link = TThreadLink::Current();
    return link != nullptr && link->Terminated();
}
