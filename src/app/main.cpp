#include "Log.h"
#include "QuitOnSignal.h"
#include "SystemPlatform.h"
#include "VitrelleCenterApplication.h"
#include "VitrelleCenterForm.h"

#include <QLoggingCategory>

#include <unistd.h>

int main(int argc, char* argv[])
{
    // The web engine refuses to start as root with its sandbox (installers and test machines run so); a kiosk
    // runs the program as its own user, with the sandbox.
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // The web views share the toolkit's OpenGL contexts; this must be set before the application exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TVitrelleCenterApplication application(argc, argv);
    // The web engine describes its set-up at every start; that is no news in the system's journal.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QuitOnTerminationSignals();

    int exitCode = 0;
    {
        TfrmVitrelleCenter form(QCoreApplication::applicationDirPath(), SystemPlatform());
        if (form.StartupFailed()) {
            exitCode = 1;
        } else if (TerminationRequested()) {
            exitCode = 0; // asked to end during start-up: closing is all that is left
        } else {
            form.show();
            exitCode = QApplication::exec();
        }
    }
    FinalizeLog(); // last, after the window and the agent are gone
    return exitCode;
}
