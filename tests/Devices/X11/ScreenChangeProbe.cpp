// Watches the toolkit's screens through the screens' display system, for the X11 tests: runs on the
// platform and display of its environment, prints "ready <monitors>" once it watches, then
// "changed <monitors>" for every change reported, and ends when its standard input closes.
#include "ScreenDisplaySystem.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    TScreenDisplaySystem system;
    system.SetOnMonitorsChanged([&system] {
        std::printf("changed %lld\n", static_cast<long long>(system.Monitors().size()));
        std::fflush(stdout);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &application, [&input] {
        char buffer[64];
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    std::printf("ready %lld\n", static_cast<long long>(system.Monitors().size()));
    std::fflush(stdout);
    return QGuiApplication::exec();
}
