#include "Errors.h"
#include "LogCapture.h"
#include "ThreadLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// An owner of a link, as the player, the downloader and the scheduler are.
class TOwner : public IThread
{
public:
    TOwner() : Link(std::make_unique<TThreadLink>(*this)) {}
    ~TOwner() { Link.reset(); }

    void ThreadExecute() override
    {
        ++Executions;
        if (Work)
            Work();
    }
    void ThreadTerminated() override
    {
        EndThread = QThread::currentThread();
        ++Ends;
    }

    std::function<void()> Work;
    std::unique_ptr<TThreadLink> Link;
    std::atomic<int> Executions{0};
    QThread* EndThread = nullptr;
    int Ends = 0;
};

void WaitUntil(const std::atomic<bool>& flag)
{
    while (!flag.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

TEST(ThreadLink, EndHandlerRunsOnTheMainThreadAndEndsTheWait)
{
    TOwner owner;
    owner.Work = [] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); };
    EXPECT_FALSE(owner.Link->Ended());
    owner.Link->Start();
    QElapsedTimer clock;
    clock.start();
    owner.Link->WaitForEnd(2000);
    EXPECT_TRUE(owner.Link->Ended());
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_EQ(owner.Ends, 1);
    EXPECT_EQ(owner.EndThread, QCoreApplication::instance()->thread());
}

TEST(ThreadLink, WaitForEndGivesUpAtTheTimeOut)
{
    TOwner owner;
    std::atomic<bool> release{false};
    owner.Work = [&] { WaitUntil(release); }; // ignores the termination request
    owner.Link->Start();
    owner.Link->Terminate();
    EXPECT_TRUE(owner.Link->Terminated());
    QElapsedTimer clock;
    clock.start();
    owner.Link->WaitForEnd(300);
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_FALSE(owner.Link->Ended());
    release = true;
    owner.Link->WaitForEnd(10000);
    EXPECT_TRUE(owner.Link->Ended());

    // Also when nothing at all happens: a link that never started.
    TOwner idle;
    clock.restart();
    idle.Link->WaitForEnd(100);
    EXPECT_GE(clock.elapsed(), 100);
    EXPECT_FALSE(idle.Link->Ended());
}

TEST(ThreadLink, WorkSeesTheTerminationRequest)
{
    TOwner owner;
    owner.Work = [&] {
        while (!TThreadLink::Current()->Terminated())
            QThread::msleep(1);
    };
    owner.Link->Start();
    owner.Link->Terminate();
    owner.Link->WaitForEnd(5000);
    EXPECT_TRUE(owner.Link->Ended());
}

TEST(ThreadLink, RunsOnceAndIsReplacedForTheNextRun)
{
    TOwner owner;
    owner.Link->Start();
    owner.Link->WaitForEnd(5000);
    ASSERT_TRUE(owner.Link->Ended());
    owner.Link->Start(); // a link runs its body at most once
    owner.Link->WaitForEnd(50);
    EXPECT_EQ(owner.Executions, 1);

    TThreadLink::StartLink(owner.Link, owner);
    EXPECT_FALSE(owner.Link->Ended());
    owner.Link->WaitForEnd(5000);
    EXPECT_TRUE(owner.Link->Ended());
    EXPECT_EQ(owner.Executions, 2);
    EXPECT_EQ(owner.Ends, 2);

    // A link that is still running is not replaced.
    std::atomic<bool> release{false};
    owner.Work = [&] { WaitUntil(release); };
    TThreadLink::StartLink(owner.Link, owner);
    TThreadLink* running = owner.Link.get();
    TThreadLink::StartLink(owner.Link, owner);
    EXPECT_EQ(owner.Link.get(), running);
    release = true;
    owner.Link->WaitForEnd(5000);
    EXPECT_EQ(owner.Executions, 3);
}

TEST(ThreadLink, SynchronizeRunsOnTheMainThreadAndCarriesErrorsBack)
{
    TOwner owner;
    QThread* ranOn = nullptr;
    QString caught;
    owner.Work = [&] {
        TThreadLink::Current()->Synchronize([&] { ranOn = QThread::currentThread(); });
        try {
            TThreadLink::Current()->Synchronize([] { throw EVitrelleError("failed on the main thread"); });
        } catch (const EVitrelleError& error) {
            caught = error.Message();
        }
    };
    owner.Link->Start();
    owner.Link->WaitForEnd(5000);
    ASSERT_TRUE(owner.Link->Ended());
    EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());
    EXPECT_EQ(caught, "failed on the main thread");

    // On the main thread itself the method runs at once.
    EXPECT_EQ(TThreadLink::Current(), nullptr);
    bool direct = false;
    owner.Link->Synchronize([&] { direct = true; });
    EXPECT_TRUE(direct);
}

TEST(ThreadLink, DestroyingARunningLinkServesAWorkerBlockedInSynchronize)
{
    TOwner owner;
    std::atomic<bool> entered{false};
    bool served = false;
    owner.Work = [&] {
        entered = true;
        TThreadLink::Current()->Synchronize([&] { served = true; });
        while (!TThreadLink::Current()->Terminated())
            QThread::msleep(1);
    };
    owner.Link->Start();
    WaitUntil(entered);
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the worker now waits for the main thread
    QElapsedTimer clock;
    clock.start();
    owner.Link.reset(); // must neither deadlock nor leave the hand-over unserved
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(served);
    EXPECT_EQ(owner.Ends, 1);
}

TEST(ThreadLink, AnErrorEscapingTheWorkIsLoggedAndTheEndStillReported)
{
    TLogCapture log;
    TOwner owner;
    owner.Work = [] { throw EVitrelleError("broken work"); };
    owner.Link->Start();
    owner.Link->WaitForEnd(5000);
    EXPECT_TRUE(owner.Link->Ended());
    EXPECT_EQ(log.Lines(), QStringList{"[1] TThreadLink: broken work"});
}

TEST(ThreadLink, DestroyingANeverStartedLinkIsImmediate)
{
    TOwner owner;
    owner.Link.reset();
    EXPECT_EQ(owner.Ends, 0);
    EXPECT_EQ(owner.Executions, 0);
}

// A wait that runs inside another one (here from a timer the outer wait serves) must serve no events: the
// timer below would otherwise run in the middle of the handler that is waiting. The inner link's own
// hand-over and end handler still run, so its worker can finish.
TEST(ThreadLink, AWaitInsideAWaitServesOnlyItsOwnLink)
{
    TOwner outer, inner;
    std::atomic<bool> releaseOuter{false};
    outer.Work = [&] { WaitUntil(releaseOuter); };
    bool handedOver = false;
    inner.Work = [&] { TThreadLink::Current()->Synchronize([&] { handedOver = true; }); };
    bool nestedWaitDone = false;
    bool timerRan = false;
    bool timerRanInsideTheNestedWait = false;
    outer.Link->Start();
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            timerRan = true;
            timerRanInsideTheNestedWait = !nestedWaitDone;
        });
        inner.Link->Start();
        inner.Link->WaitForEnd(5000);
        nestedWaitDone = true;
        EXPECT_TRUE(inner.Link->Ended());
        EXPECT_TRUE(handedOver);
        EXPECT_EQ(inner.Ends, 1);
        releaseOuter = true;
    });
    outer.Link->WaitForEnd(5000);
    EXPECT_TRUE(outer.Link->Ended());
    QCoreApplication::processEvents();
    EXPECT_TRUE(nestedWaitDone);
    EXPECT_TRUE(timerRan);
    EXPECT_FALSE(timerRanInsideTheNestedWait);
    EXPECT_EQ(inner.Ends, 1) << "the queued end handler finds it done";
}
