#include "Log.h"
#include "QuitOnSignal.h"
#include "VitrelleCenterForm.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VitrelleCenter"));
    QuitOnTerminationSignals();

    int exitCode = 0;
    {
        TfrmVitrelleCenter form(QCoreApplication::applicationDirPath(), TAgentPlatform::System());
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
