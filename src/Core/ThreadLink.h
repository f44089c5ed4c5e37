#pragma once

#include <QString>

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

// The work of an object that runs on a worker thread. The owner keeps its TThreadLink; the link never owns
// its IThread.
class IThread
{
public:
    // The whole work, on the worker thread; returns when done or when the link's termination is requested.
    virtual void ThreadExecute() = 0;
    // On the main thread, once, after ThreadExecute has returned. Must not free the link.
    virtual void ThreadTerminated() = 0;

protected:
    ~IThread() = default;
};

// A worker thread that runs an IThread's work once and reports the end on the main thread. Created and
// used on the main thread; only ThreadExecute runs on the worker, which may hand methods to the main thread
// with Synchronize.
class TThreadLink : public QObject
{
    Q_OBJECT
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TThreadLink"};

    explicit TThreadLink(IThread& link);
    // A running link is asked to terminate; the destructor then waits for its end while serving the worker's
    // hand-overs, so a worker blocked in Synchronize can still finish. The end handler runs before it
    // returns.
    ~TThreadLink() override;

    // Starts the body; a link runs at most once (later calls do nothing).
    void Start();
    bool Started() const { return FStarted; }
    void Terminate() { FTerminated.store(true); }
    bool Terminated() const { return FTerminated.load(); }
    // True once ThreadTerminated has run on the main thread.
    bool Ended() const { return FEnded.load(); }

    // Main thread only. Serves the main thread's events, except user input, until the end handler has run or
    // the time-out has passed; user input that arrives meanwhile is delivered after the wait. Whatever calls
    // the wait is still on the stack, so a click must not be able to free it.
    // A wait inside another one (from an event the outer wait served) serves no events at all: only this
    // link's own hand-overs, and it runs the end handler itself once the body has returned.
    void WaitForEnd(int timeoutMs);

    // Runs the method on the main thread and returns when it has run; directly when called there. An
    // exception raised by the method is raised again to the caller.
    void Synchronize(const std::function<void()>& method);

    // The owners' start rule: a link that has already run is replaced by a new one, then started.
    static void StartLink(std::unique_ptr<TThreadLink>& link, IThread& owner);

    // The link whose work runs on the calling thread (null elsewhere). Work reaches its link through this,
    // not through its owner's pointer, which is already cleared while the owner destroys the link.
    static TThreadLink* Current();

private Q_SLOTS:
    // Queued from the worker by name, so that the event's allocation happens inside Qt, where
    // ThreadSanitizer sees its synchronisation as Qt's own.
    void ServeHandOvers();
    void RunEndHandler();

private:
    struct THandOver;

    void Body();
    void WaitServingNoEvents(int timeoutMs);

    IThread& FLink;
    std::unique_ptr<QThread> FThread;
    bool FStarted = false;
    bool FEndHandled = false;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FEnded{false};

    std::mutex FMutex; // guards the fields below
    std::condition_variable FHandOverDone;
    std::deque<std::shared_ptr<THandOver>> FHandOvers;
    bool FBodyReturned = false;
    bool FEndPosted = false;
};

// Runs the method on the main thread and returns when it has run: directly on the main thread, through the
// calling link's Synchronize on a link's worker. Raises EVitrelleError on any other thread, which has no way
// to hand work over. An exception of the method is raised again to the caller.
void RunOnMainThread(const std::function<void()>& method);

// True on a link's worker whose link is asked to terminate, and anywhere once the process is asked to end
// (AbortRequest.h). A worker that waits on something slow (a serial line, a server) asks this at least every
// tenth of a second and gives up when it says so.
bool WorkerStopRequested();
