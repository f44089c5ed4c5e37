#include "WorkQueue.h"

#include "Errors.h"
#include "Log.h"
#include "MainThread.h"

#include <QMetaObject>

#include <chrono>

struct TWorkQueue::TJob
{
    std::function<void()> Work;
    TDone Done; // run on the main thread with the outcome; may be empty
    // Set under the queue's mutex.
    bool Started = false;
    bool Ended = false;
    bool Abandoned = false; // a Run caller gave up before it started: never runs
    std::exception_ptr Error;
};

TWorkQueue::TWorkQueue(QString name) : FName(std::move(name))
{
    VC_ASSERT_MAIN_THREAD();
    FLink = std::make_unique<TThreadLink>(static_cast<IThread&>(*this));
    FLink->Start();
}

TWorkQueue::~TWorkQueue()
{
    VC_ASSERT_MAIN_THREAD();
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
        for (const std::shared_ptr<TJob>& job : FJobs)
            job->Abandoned = true;
        FJobs.clear();
    }
    FChanged.notify_all();
    FLink.reset(); // terminates the link: a running job sees WorkerStopRequested
    // Run callers still waiting learn the end at their next look and leave before the mutex goes.
    std::unique_lock lock(FMutex);
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return FRunCallers == 0; });
}

std::shared_ptr<TWorkQueue::TJob> TWorkQueue::Enqueue(std::function<void()> job)
{
    auto entry = std::make_shared<TJob>();
    entry->Work = std::move(job);
    return entry;
}

void TWorkQueue::Post(std::function<void()> job, TDone done)
{
    VC_ASSERT_MAIN_THREAD();
    std::shared_ptr<TJob> entry = Enqueue(std::move(job));
    entry->Done = std::move(done);
    {
        std::lock_guard lock(FMutex);
        FJobs.push_back(std::move(entry));
    }
    FChanged.notify_all();
}

void TWorkQueue::Run(std::function<void()> job)
{
    Q_ASSERT_X(!OnMainThread(), Q_FUNC_INFO, "the main thread must not wait on a queue");
    std::shared_ptr<TJob> entry = Enqueue(std::move(job));
    std::unique_lock lock(FMutex);
    if (FStopping)
        throw EVitrelleError(QStringLiteral("%1 has stopped").arg(FName));
    FJobs.push_back(entry);
    ++FRunCallers;
    FChanged.notify_all();
    // Leaves by return or by exception; the destructor may be waiting for it.
    struct TLeave
    {
        TWorkQueue& Queue;
        ~TLeave()
        {
            --Queue.FRunCallers;
            Queue.FChanged.notify_all();
        }
    } leave{*this};
    while (!entry->Ended) {
        // Short waits: the caller's own stop request is a flag, not a notification.
        FChanged.wait_for(lock, std::chrono::milliseconds(50));
        if (entry->Ended)
            break;
        if (FStopping || WorkerStopRequested()) {
            if (!entry->Started) {
                entry->Abandoned = true;
                std::erase(FJobs, entry);
            }
            throw EVitrelleError(QStringLiteral("%1: the work was abandoned").arg(FName));
        }
    }
    if (entry->Error)
        std::rethrow_exception(entry->Error);
}

bool TWorkQueue::Busy() const
{
    std::lock_guard lock(FMutex);
    return FRunning || !FJobs.empty();
}

void TWorkQueue::ThreadExecute()
{
    const TThreadLink* link = TThreadLink::Current();
    while (true) {
        std::shared_ptr<TJob> job;
        {
            std::unique_lock lock(FMutex);
            // The link's stop request is a flag: wake up now and then to see it.
            FChanged.wait_for(lock, std::chrono::milliseconds(100),
                              [&] { return FStopping || !FJobs.empty(); });
            if (FStopping || (link != nullptr && link->Terminated()))
                return;
            if (FJobs.empty())
                continue;
            job = FJobs.front();
            FJobs.pop_front();
            job->Started = true;
            FRunning = true;
        }
        std::exception_ptr error;
        try {
            job->Work();
        } catch (...) {
            error = std::current_exception(); // the poster learns it
        }
        bool report = false;
        {
            std::lock_guard lock(FMutex);
            job->Error = error;
            job->Ended = true;
            FRunning = false;
            if (job->Done) {
                FOutcomes.push_back(job);
                report = true;
            }
        }
        FChanged.notify_all();
        // Dropped by Qt when the queue is gone by then; the destructor waits for this worker first.
        if (report)
            QMetaObject::invokeMethod(this, "DeliverOutcomes", Qt::QueuedConnection);
    }
}

void TWorkQueue::DeliverOutcomes()
{
    // One outcome a call, as one call is queued for each: a done that raises (the event loop's boundary
    // reports it) holds no other outcome back.
    std::shared_ptr<TJob> job;
    {
        std::lock_guard lock(FMutex);
        if (FOutcomes.empty())
            return;
        job = FOutcomes.front();
        FOutcomes.pop_front();
    }
    job->Done(job->Error);
}
