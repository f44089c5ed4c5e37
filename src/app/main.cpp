#include "FleetService.h"
#include "Log.h"
#include "PlayRecording.h"
#include "QuitOnSignal.h"
#include "RunMarker.h"
#include "ServiceManager.h"
#include "SystemPlatform.h"
#include "VitrelleCenterApplication.h"
#include "VitrelleCenterForm.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QScreen>

#include <cstdio>
#include <string_view>
#include <unistd.h>

// An installed system fixes its application folder when it is built, since the executable's folder belongs to
// root there; empty, the folder is the executable's.
#ifndef VC_APPLICATION_FOLDER
#define VC_APPLICATION_FOLDER ""
#endif

namespace {

constexpr QLatin1StringView LogSource{"VitrelleCenter"};

QString ApplicationFolder()
{
    constexpr std::string_view fixed{VC_APPLICATION_FOLDER};
    if (fixed.empty())
        return QCoreApplication::applicationDirPath();
    return QString::fromUtf8(fixed.data(), static_cast<qsizetype>(fixed.size()));
}

} // namespace

int main(int argc, char* argv[])
{
    // Asked by the packaging script, which refuses a program that would look for its files elsewhere.
    if (argc == 2 && std::string_view(argv[1]) == "--print-application-folder") {
        const QCoreApplication core(argc, argv);
        std::printf("%s\n", ApplicationFolder().toLocal8Bit().constData());
        return 0;
    }
    // First, while this is the only thread: the notification variables leave the environment here.
    const std::unique_ptr<IServiceManager> serviceManager = TakeServiceManagerFromEnvironment();
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

    const QString folder = ApplicationFolder();
    TRunMarker runMarker(folder);
    if (runMarker.PreviousRunEndedAbnormally()) {
        // Said before the start-up, which may itself be what failed last time.
        InitializeLog(3);
        WriteLog(
            LogSource, 2,
            QStringLiteral("Restarted: the previous run did not end in order (a crash, a kill or a hang)"));
    }

    // What the displays show is journalled from the first moment; the run's start is the first record. The
    // journal's own troubles (a damaged file moved aside) are logged from then on.
    InitializeLog(3);
    auto recording = std::make_shared<TPlayRecording>(folder, runMarker.PreviousRunEndedAbnormally());
    SetPlayRecorder(recording);

    int exitCode = 0;
    {
        // A failing start-up has shown its error; the program then ends with 1.
        const std::unique_ptr<TVitrelleCenterAgent> agent = CreateAgent(folder, SystemPlatform());
        if (!agent) {
            exitCode = 1;
        } else if (TerminationRequested()) {
            exitCode = 0; // asked to end during start-up: closing is all that is left
        } else {
            recording->Journal().SetRetentionDays(agent->Settings().PlayJournalDays);
            recording->SetMetricsFile(agent->Settings().MetricsFile);
            // The window and its pages go before the agent they show.
            TfrmVitrelleCenter form(*agent);
            // The fleet's broker, when one is set; it goes before the window and the agent.
            const std::unique_ptr<TFleetService> fleet =
                StartFleet(*agent, folder, recording, recording->Journal().Path());
            // The program ends when its operator window is closed, never when the last slide window is (the
            // evening's scheduled stop): an end the operator did not ask for would leave the next morning
            // dark.
            QApplication::setQuitOnLastWindowClosed(false);
            QObject::connect(&form, &TfrmVitrelleCenter::Closed, &form, [] { QCoreApplication::exit(0); });
            // Centred on the primary screen: a kiosk's X server has no window manager to place it.
            if (const QScreen* screen = QGuiApplication::primaryScreen())
                form.move(screen->availableGeometry().center() - form.rect().center());
            form.show();
            serviceManager->NotifyReady();
            // The watchdog hears from the main event loop alone (TServiceWatchdog): transfers and serial
            // exchanges run on workers, so a main thread that stops serving events is a real hang, which
            // systemd restarts.
            const TServiceWatchdog watchdog(*serviceManager);
            exitCode = QApplication::exec();
        }
        serviceManager->NotifyStopping();
    }
    SetPlayRecorder(nullptr);
    recording.reset(); // the run's end, and what is queued, are written
    if (exitCode == 0)
        runMarker.Remove();
    FinalizeLog(); // last, after the window and the agent are gone
    return exitCode;
}
