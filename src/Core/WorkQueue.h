#pragma once

#include "ThreadLink.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

// A worker that runs jobs one at a time in the order they were posted: what must never wait on the main
// thread (a display's serial exchanges, a transfer the operator asked for) runs here and hands its outcome
// back. The worker is a link's (TThreadLink), so a job may hand work to the main thread (RunOnMainThread)
// and sees WorkerStopRequested() once the queue is being destroyed.
//
// Threads: made, posted to and destroyed on the main thread; Run and Busy from any thread.
class TWorkQueue : public QObject, private IThread
{
    Q_OBJECT
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TWorkQueue"};

    // An outcome: null when the job ended normally, else what it raised.
    using TDone = std::function<void(std::exception_ptr error)>;

    // name is for the log.
    explicit TWorkQueue(QString name);
    // Drops the jobs that have not started (their done is never called), asks the running one to stop
    // (WorkerStopRequested) and waits for it while serving its hand-overs.
    ~TWorkQueue() override;

    TWorkQueue(const TWorkQueue&) = delete;
    TWorkQueue& operator=(const TWorkQueue&) = delete;

    // Main thread. The job runs on the worker after every job posted before it; done, when given, runs
    // afterwards on the main thread (unless the queue is gone by then).
    void Post(std::function<void()> job, TDone done = {});
    // Any thread but the main one (a scheduled action's worker): runs the job on this queue's worker after
    // the jobs before it and returns when it has run, raising what it raised. Raises EVitrelleError when the
    // calling worker is asked to stop (or the queue is destroyed) first; a job that has not started then
    // never does.
    void Run(std::function<void()> job);
    // True while a job runs or waits.
    bool Busy() const;
    const QString& Name() const { return FName; }

private Q_SLOTS:
    // Queued from the worker by name, so that the event's allocation happens inside Qt, where
    // ThreadSanitizer sees its synchronisation as Qt's own; the outcomes themselves pass under FMutex.
    void DeliverOutcomes();

private:
    struct TJob;

    void ThreadExecute() override;
    void ThreadTerminated() override {}
    std::shared_ptr<TJob> Enqueue(std::function<void()> job);

    const QString FName;
    mutable std::mutex FMutex; // guards the fields below
    std::condition_variable FChanged;
    std::deque<std::shared_ptr<TJob>> FJobs;
    std::deque<std::shared_ptr<TJob>> FOutcomes; // ended jobs whose done has yet to run on the main thread
    bool FRunning = false;
    bool FStopping = false;
    int FRunCallers = 0; // Run callers inside this object: the destructor waits for them to leave
    std::unique_ptr<TThreadLink> FLink;
};
