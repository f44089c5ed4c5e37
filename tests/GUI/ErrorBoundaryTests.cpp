#include "Errors.h"
#include "EventWait.h"
#include "LogCapture.h"
#include "MessageBox.h"
#include "VitrelleCenterApplication.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// Our own classes, so that the boundary can name them.
class TFailingHandler : public QObject
{
    Q_OBJECT
public:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::User)
            throw EVitrelleError(QStringLiteral("Serial port /dev/ttyS3 is not open"));
        return QObject::event(event);
    }
};

class TTimerOwner : public QObject
{
    Q_OBJECT
};

} // namespace

TEST(ErrorBoundary, AnErrorEscapingAHandlerIsLoggedShownAndTheLoopGoesOn)
{
    TLogCapture log;
    TFailingHandler handler;
    TMessageBox::SetNextAnswer(QMessageBox::Ok);
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&handler, &event));
    EXPECT_EQ(log.Lines(), QStringList{"[1] TFailingHandler: Serial port /dev/ttyS3 is not open"});
    EXPECT_EQ(TMessageBox::TakeLastText(), QString("Serial port /dev/ttyS3 is not open"));

    // A timer's slot that fails is named after the timer's owner; a foreign exception keeps its text. The
    // event loop serves the next event afterwards.
    log.Clear();
    TTimerOwner owner;
    QTimer timer(&owner);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [] { throw std::runtime_error("bad_alloc in a slot"); });
    bool servedAfterwards = false;
    timer.start(0);
    QTimer::singleShot(10, [&] { servedAfterwards = true; });
    TMessageBox::SetNextAnswer(QMessageBox::Ok);
    EXPECT_TRUE(ServeEventsUntil([&] { return servedAfterwards; }));
    EXPECT_EQ(log.Lines(), QStringList{"[1] TTimerOwner: bad_alloc in a slot"});
    EXPECT_EQ(TMessageBox::TakeLastText(), QString("bad_alloc in a slot"));
}

#include "ErrorBoundaryTests.moc"
