#pragma once

#include "VitrelleDeviceInfo.h"

// Two identities hold the same stored fields.
inline bool FuzzSameIdentity(const TVitrelleDeviceInfo& a, const TVitrelleDeviceInfo& b)
{
    return a == b;
}
