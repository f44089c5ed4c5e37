#include "X11ScreenSaver.h"

#include "Log.h"
#include "MainThread.h"
#include "XErrorTrap.h"

#include <QString>

// Xlib last: its macros would break the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

struct TX11ScreenSaver::TImpl
{
    Display* FDisplay = nullptr;
    // Why the saver cannot be held off; empty while it can.
    QString FUnavailable;
    bool FLost = false;
    bool FReported = false;
    int FHolds = 0;

    static void OnConnectionLost(Display*, void* self) { static_cast<TImpl*>(self)->FLost = true; }

    bool Usable()
    {
        if (FLost && FUnavailable.isEmpty())
            FUnavailable = QStringLiteral("the connection to the X display was lost");
        return FUnavailable.isEmpty();
    }

    void ReportOnce()
    {
        if (FReported)
            return;
        FReported = true;
        WriteLog(LogSource, 3,
                 QStringLiteral("The displays may blank while a vitrelle plays: %1").arg(FUnavailable));
    }
};

TX11ScreenSaver::TX11ScreenSaver(const QByteArray& displayName) : F(std::make_unique<TImpl>())
{
    const QString name = QString::fromLocal8Bit(displayName.isEmpty() ? qgetenv("DISPLAY") : displayName);
    F->FDisplay = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (F->FDisplay == nullptr) {
        F->FUnavailable = QStringLiteral("the X display '%1' cannot be opened").arg(name);
        return;
    }
    XSetIOErrorExitHandler(F->FDisplay, &TImpl::OnConnectionLost, F.get());
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    bool offered = false;
    {
        const TXErrorTrap trap(F->FDisplay);
        // Suspension came with version 1.1.
        offered = XScreenSaverQueryExtension(F->FDisplay, &event, &error) &&
                  XScreenSaverQueryVersion(F->FDisplay, &major, &minor) &&
                  (major > 1 || (major == 1 && minor >= 1));
    }
    if (!offered && F->Usable()) {
        F->FUnavailable = QStringLiteral("the X display '%1' offers no screen saver extension 1.1").arg(name);
        XCloseDisplay(F->FDisplay);
        F->FDisplay = nullptr;
    }
}

TX11ScreenSaver::~TX11ScreenSaver()
{
    if (F->FDisplay != nullptr)
        XCloseDisplay(F->FDisplay);
}

void TX11ScreenSaver::Suspend()
{
    VC_ASSERT_MAIN_THREAD();
    if (F->FHolds++ > 0)
        return;
    if (!F->Usable()) {
        F->ReportOnce();
        return;
    }
    const TXErrorTrap trap(F->FDisplay);
    XScreenSaverSuspend(F->FDisplay, True);
    // Suspending keeps the saver from starting, but leaves one that already runs (a blanked display) alone.
    XResetScreenSaver(F->FDisplay);
}

void TX11ScreenSaver::Resume()
{
    VC_ASSERT_MAIN_THREAD();
    Q_ASSERT(F->FHolds > 0);
    if (F->FHolds == 0 || --F->FHolds > 0 || !F->Usable())
        return;
    const TXErrorTrap trap(F->FDisplay);
    XScreenSaverSuspend(F->FDisplay, False);
}
