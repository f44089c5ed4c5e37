// The X server's screen saver held off while a vitrelle plays, against a real Xvfb server. The server's
// shortest saver time-out is one second, so holding off is seen by waiting a little longer than that.
#include "EventWait.h"
#include "LogCapture.h"
#include "SystemScreenSaver.h"
#include "XvfbServer.h"

#include <gtest/gtest.h>

// Xlib last: its macros would break the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace {

// The saver's state as the server reports it to another client: ScreenSaverOn while it runs (the display
// blanked), ScreenSaverOff while it waits for its time-out.
int SaverState(Display* display)
{
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    XScreenSaverQueryInfo(display, DefaultRootWindow(display), info);
    const int state = info->state;
    XFree(info);
    return state;
}

bool SaverStateBecomes(Display* display, int state, int timeoutMs)
{
    return ServeEventsUntil([&] { return SaverState(display) == state; }, timeoutMs);
}

TEST(X11ScreenSaverTest, HoldsOffTheSaverUntilTheLastReleaseAndWakesABlankedDisplay)
{
    TXvfbServer server;
    if (!server.Start())
        GTEST_SKIP() << "Xvfb could not be started";
    Display* display = XOpenDisplay(server.Name().constData());
    ASSERT_NE(display, nullptr);
    XSetScreenSaver(display, 1, 0, DontPreferBlanking, AllowExposures);
    XForceScreenSaver(display, ScreenSaverActive);
    ASSERT_EQ(SaverState(display), ScreenSaverOn);
    const std::unique_ptr<IScreenSaver> saver = CreateSystemScreenSaver("xcb", server.Name());

    saver->Suspend();
    EXPECT_EQ(SaverState(display), ScreenSaverOff) << "the blanked display was not woken";
    saver->Suspend();
    saver->Resume();
    // Past the one-second time-out: the saver would be running again were it not held off.
    EXPECT_FALSE(SaverStateBecomes(display, ScreenSaverOn, 1300)) << "the saver started while held off";

    saver->Resume();
    EXPECT_TRUE(SaverStateBecomes(display, ScreenSaverOn, 3000)) << "the saver stayed held off";
    XCloseDisplay(display);
}

// Where the saver cannot be held off, playing goes on: both calls do nothing, and the log says so once.
TEST(X11ScreenSaverTest, ASaverThatCannotBeHeldIsLeftAloneAndLoggedOnce)
{
    struct TRow
    {
        const char* Case;
        QStringList ServerArguments;
        const char* Platform;
        QByteArray Display; // the server's when empty
        bool LoseServer;
        const char* Logged; // none when empty
    };
    const TRow rows[] = {
        {"no screen saver extension",
         {"-extension", "MIT-SCREEN-SAVER"},
         "xcb",
         {},
         false,
         "offers no screen saver extension"},
        {"the server lost while holding", {}, "xcb", {}, true, "connection to the X display was lost"},
        {"no X display", {}, "xcb", ":1999", false, "the X display ':1999' cannot be opened"},
        {"not an X11 session", {}, "wayland", {}, false, ""},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Case);
        TXvfbServer server;
        if (!server.Start(row.ServerArguments))
            GTEST_SKIP() << "Xvfb could not be started";
        const TLogCapture log;
        const std::unique_ptr<IScreenSaver> saver =
            CreateSystemScreenSaver(row.Platform, row.Display.isEmpty() ? server.Name() : row.Display);
        saver->Suspend();
        if (row.LoseServer)
            server.Stop();
        saver->Resume();
        saver->Suspend();
        saver->Resume();
        const QStringList lines = log.Lines();
        EXPECT_EQ(lines.size(), *row.Logged != '\0' ? 1 : 0) << lines.join('\n').toStdString();
        EXPECT_EQ(lines.filter("[3] TX11ScreenSaver: The displays may blank while a vitrelle plays: ")
                      .filter(QLatin1String(row.Logged))
                      .size(),
                  *row.Logged != '\0' ? 1 : 0)
            << lines.join('\n').toStdString();
    }
}

} // namespace
