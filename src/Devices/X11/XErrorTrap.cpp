#include "XErrorTrap.h"

#include <QtGlobal>

// Xlib last: its macros would break the headers above.
#include <X11/Xlib.h>

namespace {

// Xlib's handlers are process-wide: the connection of the trap that holds them, its error count, and the
// handlers it replaced.
Display* CurrentDisplay = nullptr;
int* CurrentErrors = nullptr;
XErrorHandler PreviousError = nullptr;
XIOErrorHandler PreviousIOError = nullptr;

int OnError(Display* display, XErrorEvent* event)
{
    if (display == CurrentDisplay) {
        ++*CurrentErrors;
        return 0;
    }
    return PreviousError != nullptr ? PreviousError(display, event) : 0;
}

int OnIOError(Display* display)
{
    if (display == CurrentDisplay)
        return 0;
    return PreviousIOError != nullptr ? PreviousIOError(display) : 0;
}

} // namespace

TXErrorTrap::TXErrorTrap(_XDisplay* display) : FDisplay(display)
{
    Q_ASSERT(CurrentDisplay == nullptr);
    CurrentDisplay = FDisplay;
    CurrentErrors = &FErrors;
    PreviousError = XSetErrorHandler(&OnError);
    PreviousIOError = XSetIOErrorHandler(&OnIOError);
}

TXErrorTrap::~TXErrorTrap()
{
    XSync(FDisplay, False);
    XSetIOErrorHandler(PreviousIOError);
    XSetErrorHandler(PreviousError);
    CurrentDisplay = nullptr;
    CurrentErrors = nullptr;
}

bool TXErrorTrap::Failed()
{
    XSync(FDisplay, False);
    return FErrors > 0;
}
