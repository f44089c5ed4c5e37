#include "DisplayReport.h"
#include "SystemDisplaySystem.h"

#include <QFile>
#include <QGuiApplication>

#include <cstdio>
#include <cstring>

// Prints what the display discovery sees, or decodes a raw EDID file (--edid FILE): how an installer learns
// what to put in a device settings file.
int main(int argc, char* argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--edid") == 0) {
        QFile file(QString::fromLocal8Bit(argv[2]));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "Cannot read %s: %s\n", argv[2],
                         file.errorString().toLocal8Bit().constData());
            return 1;
        }
        std::fputs(EdidReport(file.read(64 * 1024)).toUtf8().constData(), stdout);
        return 0;
    }
    if (argc != 1) {
        std::fprintf(stderr, "usage: %s [--edid FILE]\n", argv[0]);
        return 2;
    }
    // Without a display the toolkit's offscreen screen stands in, so the tool still answers.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const std::unique_ptr<IDisplaySystem> system = CreateSystemDisplaySystem();
    std::fputs(DisplayReport(*system).toUtf8().constData(), stdout);
    std::fflush(stdout);
    return 0;
}
