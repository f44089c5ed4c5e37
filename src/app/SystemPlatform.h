#pragma once

#include "AgentPlatform.h"

// The real machine, assembled here and nowhere else: the system clock, the libraries and environment of this
// session, logind's sleep inhibitor, the machine's network interfaces, HTTP over libcurl, the displays (X11
// or the toolkit's screens), the serial ports and the error box. Call it once the application object exists.
TAgentPlatform SystemPlatform();
