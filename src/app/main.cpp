#include "Log.h"
#include "QuitOnSignal.h"
#include "SystemPlatform.h"
#include "VitrelleCenterApplication.h"
#include "VitrelleCenterForm.h"

int main(int argc, char* argv[])
{
    TVitrelleCenterApplication application(argc, argv);
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
