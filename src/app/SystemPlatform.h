#pragma once

#include "AgentPlatform.h"

#include <functional>

// The real machine, assembled here and nowhere else: the system clock, the libraries and environment of this
// session, logind's sleep inhibitor, the machine's network interfaces, HTTP over libcurl, the displays (X11
// or the toolkit's screens), the serial ports and the error box. Call it once the application object exists.
// mainThreadWaiting is called about once a second while the main thread waits on the content server or on
// a display's serial line.
TAgentPlatform SystemPlatform(std::function<void()> mainThreadWaiting = {});
