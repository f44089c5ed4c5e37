#include "BenchDisplay.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>

bool StartBenchDisplay(TXvfbServer& server, QSize screen)
{
    if (!server.Start({"-br"}, QStringLiteral("%1x%2x24")
                                   .arg(QString::number(screen.width()), QString::number(screen.height())))) {
        std::fprintf(stderr, "Xvfb could not be started\n");
        return false;
    }
    qputenv("DISPLAY", server.Name());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // The engine's sandbox cannot run as root.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    return true;
}

bool ServeUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    QEventLoop loop;
    QTimer poll;
    const QDeadlineTimer deadline(timeout);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || deadline.hasExpired())
            loop.quit();
    });
    poll.start(10);
    if (!condition())
        loop.exec();
    return condition();
}
