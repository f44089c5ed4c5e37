#pragma once

#include "ScreenSaver.h"

#include <QByteArray>
#include <QString>

#include <memory>

// The screen saver hold of the session the program runs in: the X server's (TX11ScreenSaver) when the
// toolkit runs on X11, else one that does nothing (another session's compositor keeps its own idle rules).
std::unique_ptr<IScreenSaver> CreateSystemScreenSaver();

// The same choice for a named toolkit platform ("xcb" for X11) and X display (the session's DISPLAY when
// empty).
std::unique_ptr<IScreenSaver> CreateSystemScreenSaver(const QString& platformName,
                                                      const QByteArray& displayName = {});
