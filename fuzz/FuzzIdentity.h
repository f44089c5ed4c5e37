#pragma once

#include "VitrelleDeviceInfo.h"

// Two identities hold the same stored fields. Their Equals reads the other side through GetModel, which
// stands in a generic text for an empty model, so an identity without a model never equals its own copy.
inline bool FuzzSameIdentity(const TVitrelleDeviceInfo& a, const TVitrelleDeviceInfo& b)
{
    return a.Model() == b.Model() && a.GetManufacturer() == b.GetManufacturer() &&
           a.GetSerial() == b.GetSerial() && a.GetVesaID() == b.GetVesaID() && a.GetPnpID() == b.GetPnpID();
}
