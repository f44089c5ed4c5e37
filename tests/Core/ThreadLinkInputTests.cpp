#include "ThreadLink.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class TOwner : public IThread
{
public:
    TOwner() : Link(std::make_unique<TThreadLink>(*this)) {}
    ~TOwner() { Link.reset(); }

    void ThreadExecute() override
    {
        while (!Release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void ThreadTerminated() override {}

    std::atomic<bool> Release{false};
    std::unique_ptr<TThreadLink> Link;
};

// Stands for a page button: notes the input it gets and whether a wait was running then.
class TInputReceiver : public QObject
{
public:
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::MouseButtonPress)
            return QObject::event(event);
        Received.push_back(event->type());
        if (Waiting)
            ++DuringAWait;
        return true;
    }

    bool Waiting = false;
    std::vector<QEvent::Type> Received;
    int DuringAWait = 0;
};

} // namespace

// A scheduled update waits for its media worker while the operator clicks: the click must not run inside
// the wait (it could free the object whose method is waiting) but right after it, in order.
TEST(ThreadLinkWait, UserInputIsDeliveredAfterTheWaitNotDuringIt)
{
    TOwner owner;
    TInputReceiver page;
    bool timerRan = false;
    owner.Link->Start();
    QTimer::singleShot(0, [&] {
        timerRan = true; // other events are served during the wait
        QCoreApplication::postEvent(&page, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
        QCoreApplication::postEvent(&page,
                                    new QMouseEvent(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5),
                                                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        QTimer::singleShot(20, [&] { owner.Release = true; });
    });
    page.Waiting = true;
    owner.Link->WaitForEnd(5000);
    page.Waiting = false;
    EXPECT_TRUE(owner.Link->Ended());
    EXPECT_TRUE(timerRan);
    EXPECT_TRUE(page.Received.empty());

    QCoreApplication::processEvents();
    EXPECT_EQ(page.Received, (std::vector<QEvent::Type>{QEvent::KeyPress, QEvent::MouseButtonPress}));
    EXPECT_EQ(page.DuringAWait, 0);
}
