#pragma once

#include "AgentPlatform.h"

// The real machine, assembled here and nowhere else: the system clock, the libraries and environment of this
// session, logind's sleep inhibitor, the machine's network interfaces, HTTP over libcurl and the error box.
TAgentPlatform SystemPlatform();
