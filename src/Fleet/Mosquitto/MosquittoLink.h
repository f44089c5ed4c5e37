#pragma once

#include "FleetLink.h"

#include <memory>

// The link on libmosquitto (MQTT 5). Reconnects with back-off; a refusal or a failure is logged at level 1
// once until the link is up again (then a level-3 line); the password is never logged.
std::unique_ptr<IFleetLink> CreateMosquittoLink(TFleetLinkOptions options);
