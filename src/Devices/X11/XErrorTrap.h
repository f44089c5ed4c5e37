#pragma once

// Xlib's display, declared without Xlib's headers (their macros would break names of the program).
struct _XDisplay;

// Catches the X errors of one connection of ours while a call of ours runs, so that a request the server
// refuses (a mode that went away, a screen size out of range) fails that call instead of ending the process
// through Xlib's default handler. Errors of other connections go to the handler that was installed before.
// The I/O error handler is covered the same way: Xlib's default one ends the process, and so does the
// toolkit's, which hands over to it; a lost connection is left to the connection's own exit handler
// (XSetIOErrorExitHandler). Main thread only; one trap at a time.
class TXErrorTrap
{
public:
    explicit TXErrorTrap(_XDisplay* display);
    ~TXErrorTrap();
    TXErrorTrap(const TXErrorTrap&) = delete;
    TXErrorTrap& operator=(const TXErrorTrap&) = delete;

    // Waits for the server to have handled every request so far; true when one of them failed.
    bool Failed();

private:
    _XDisplay* FDisplay;
    int FErrors = 0;
};
