#pragma once

#include "DisplaySystem.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>

#include <memory>

// The display system of the session the program runs in: X11 (RandR, DPMS) when the toolkit runs on X11 and
// the display offers RandR 1.5, else the read-only one of the toolkit's screens. A display that cannot be
// used is logged at level 2 and the screens are used instead, so that the program still shows its content.
// The choice is made on the first call of the display system, not here: the program assembles its platform
// before it initialises its log, and the line must reach the log.
std::unique_ptr<IDisplaySystem> CreateSystemDisplaySystem();

// The same choice for a named toolkit platform ("xcb" for X11) and X display (the session's DISPLAY when
// empty).
std::unique_ptr<IDisplaySystem> CreateSystemDisplaySystem(const QString& platformName,
                                                          const QByteArray& displayName = {});

constexpr QLatin1StringView SystemDisplaySystemLogSource{"CreateSystemDisplaySystem"};
