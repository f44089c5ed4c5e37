#include "Errors.h"
#include "EventWait.h"
#include "MainThread.h"
#include "ThreadLink.h"
#include "WorkQueue.h"

#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

namespace {

// Blocks until released or until its worker is asked to stop; says which.
bool BlockUntil(const std::atomic<bool>& release)
{
    while (!release.load()) {
        if (WorkerStopRequested())
            return false;
        QThread::msleep(2);
    }
    return true;
}

// A link worker that runs one function, as a scheduled action's lane does.
class TLinkWorker : public IThread
{
public:
    explicit TLinkWorker(std::function<void()> work) : FWork(std::move(work))
    {
        Link = std::make_unique<TThreadLink>(*this);
        Link->Start();
    }
    ~TLinkWorker() { Link.reset(); }
    void ThreadExecute() override { FWork(); }
    void ThreadTerminated() override {}

    std::unique_ptr<TThreadLink> Link;

private:
    std::function<void()> FWork;
};

} // namespace

TEST(WorkQueue, JobsRunInOrderOffTheMainThreadAndReportThere)
{
    TWorkQueue queue(QStringLiteral("test queue"));
    std::vector<int> order;
    std::vector<bool> reportedOnMain;
    std::atomic<bool> ranOnMain{false};
    for (int i = 0; i < 5; ++i)
        queue.Post(
            [&, i] {
                if (OnMainThread())
                    ranOnMain = true;
                if (i == 2)
                    throw EVitrelleError(QStringLiteral("job 2 failed"));
            },
            [&, i](std::exception_ptr error) {
                order.push_back(error ? -i : i);
                reportedOnMain.push_back(OnMainThread());
            });
    ASSERT_TRUE(ServeEventsUntil([&] { return order.size() == 5; }, 5000));
    EXPECT_EQ(order, (std::vector<int>{0, 1, -2, 3, 4}));
    EXPECT_EQ(reportedOnMain, std::vector<bool>(5, true));
    EXPECT_FALSE(ranOnMain.load());
    EXPECT_FALSE(queue.Busy());
}

TEST(WorkQueue, RunFromAWorkerWaitsRaisesAndHandsWorkToTheMainThread)
{
    TWorkQueue queue(QStringLiteral("test queue"));
    std::atomic<bool> done{false};
    std::atomic<bool> handedToMain{false};
    QString error;
    TLinkWorker worker([&] {
        queue.Run([&] { RunOnMainThread([&] { handedToMain = OnMainThread(); }); });
        try {
            queue.Run([] { throw EVitrelleError(QStringLiteral("no answer")); });
        } catch (const EVitrelleError& e) {
            error = e.Message();
        }
        done = true;
    });
    ASSERT_TRUE(ServeEventsUntil([&] { return done.load(); }, 5000));
    EXPECT_TRUE(handedToMain.load());
    EXPECT_EQ(error, QStringLiteral("no answer"));
}

// What a stop must never do: keep the program, or the scheduled action waiting on the queue, hanging.
TEST(WorkQueue, StopsPromptlyWhateverItsJobOrItsCallerWaitsOn)
{
    struct TCase
    {
        const char* Name;
        bool DestroyQueue; // else the caller's own worker is asked to stop
    };
    for (const TCase& c : {TCase{"queue destroyed", true}, TCase{"caller stopped", false}}) {
        SCOPED_TRACE(c.Name);
        auto queue = std::make_unique<TWorkQueue>(QStringLiteral("test queue"));
        std::atomic<bool> release{false};
        std::atomic<bool> started{false};
        std::atomic<bool> callerGaveUp{false};
        std::atomic<bool> callersJobRan{false};
        bool postedReported = false;
        // The blocking job: the caller's own when the queue goes, one before the caller's when the caller
        // stops.
        const auto block = [&] {
            started = true;
            if (!BlockUntil(release))
                throw EVitrelleError(QStringLiteral("abandoned"));
        };
        if (!c.DestroyQueue)
            queue->Post(block);
        TWorkQueue* target = queue.get(); // alive while the caller can reach it
        auto worker = std::make_unique<TLinkWorker>([&, target] {
            try {
                if (c.DestroyQueue)
                    target->Run(block);
                else
                    target->Run([&] { callersJobRan = true; });
            } catch (const EVitrelleError&) {
                callerGaveUp = true;
            }
        });
        ASSERT_TRUE(ServeEventsUntil([&] { return started.load(); }, 5000));
        queue->Post([] {}, [&](std::exception_ptr) { postedReported = true; });
        QElapsedTimer clock;
        clock.start();
        if (c.DestroyQueue) {
            queue.reset();
            worker->Link->WaitForEnd(5000);
        } else {
            worker.reset();
            release = true;
            ServeEventsUntil([&] { return postedReported; }, 5000);
        }
        EXPECT_LT(clock.elapsed(), 2000);
        EXPECT_TRUE(callerGaveUp.load());
        EXPECT_FALSE(callersJobRan.load());         // a job its caller gave up on never starts
        EXPECT_EQ(postedReported, !c.DestroyQueue); // a destroyed queue reports nothing
        worker.reset();
        queue.reset();
    }
}
