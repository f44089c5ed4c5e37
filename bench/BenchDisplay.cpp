#include "BenchDisplay.h"

#include <QCoreApplication>
#include <QLoggingCategory>

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
