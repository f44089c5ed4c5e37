// Opens the operator's window of the real program on an application folder, shows each page and both serial
// dialogs in turn and saves a picture of each: the pictures of the README.
//   PageScreenshots <application folder> <output folder>
// Exits 1 when the start-up fails or a picture cannot be made.

#include "ModalDialogs.h"
#include "SystemPlatform.h"
#include "VitrelleCenterApplication.h"
#include "VitrelleCenterForm.h"

#include <QAbstractButton>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>
#include <QWidget>

#include <cstdio>

#include <unistd.h>

namespace {

// Runs the event loop for a while, so that the window and the slide windows settle and the pages' buttons
// work out their state at the idle moments.
void Settle(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Save(QWidget& widget, const QString& path)
{
    const bool saved = widget.grab().save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <application folder> <output folder>\n", argv[0]);
        return 2;
    }
    // As the program starts: the web engine without its sandbox as root, shared OpenGL contexts.
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TVitrelleCenterApplication application(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    const QString appFolder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QDir out(QString::fromLocal8Bit(argv[2]));
    QDir().mkpath(out.absolutePath());

    bool ok = true;
    {
        const std::unique_ptr<TVitrelleCenterAgent> agent = CreateAgent(appFolder, SystemPlatform());
        if (!agent)
            return 1;
        TfrmVitrelleCenter form(*agent);
        form.show();
        form.raise();
        Settle(3000); // the scheduled show starts on the displays
        // The Devices page shows the picture the first slide's swap leaves (later on a busy machine).
        for (int waited = 0; waited < 30 && QDir(appFolder + QStringLiteral("/Screens")).isEmpty(); ++waited)
            Settle(500);
        Settle(500);

        const struct
        {
            const char* Button;
            const char* File;
        } pages[] = {{"sbDevices", "devices.png"},
                     {"sbVitrelles", "vitrelles.png"},
                     {"sbSchedule", "schedule.png"},
                     {"sbSettings", "settings.png"}};
        for (const auto& page : pages) {
            auto* button = form.findChild<QAbstractButton*>(QString::fromLatin1(page.Button));
            if (button == nullptr) {
                std::fprintf(stderr, "no button %s\n", page.Button);
                ok = false;
                continue;
            }
            button->click();
            Settle(500);
            ok = Save(form, out.filePath(QString::fromLatin1(page.File))) && ok;
        }

        // The two dialogs of the first display's tab, pictured as they open and then cancelled.
        form.findChild<QAbstractButton*>(QStringLiteral("sbDevices"))->click();
        Settle(300);
        const struct
        {
            const char* Button;
            const char* File;
        } dialogs[] = {{"btnComSettings0", "serial-port.png"},
                       {"btnCommandSettings0", "control-commands.png"}};
        for (const auto& dialog : dialogs) {
            auto* button = form.findChild<QAbstractButton*>(QString::fromLatin1(dialog.Button));
            if (button == nullptr) {
                std::fprintf(stderr, "no button %s\n", dialog.Button);
                ok = false;
                continue;
            }
            const QString file = out.filePath(QString::fromLatin1(dialog.File));
            TModal::SetNextDialogAnswer([&ok, file](QDialog& shown) {
                shown.show();
                Settle(500);
                ok = Save(shown, file) && ok;
                shown.hide();
                return static_cast<int>(QDialog::Rejected);
            });
            button->click();
            if (TModal::AnswerPending()) {
                std::fprintf(stderr, "%s opened no dialog\n", dialog.Button);
                TModal::ResetForTests();
                ok = false;
            }
        }
    }
    return ok ? 0 : 1;
}
