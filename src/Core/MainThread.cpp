#include "MainThread.h"

#include <QCoreApplication>
#include <QThread>

bool OnMainThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}
