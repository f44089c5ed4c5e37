#pragma once

#include "DisplaySystem.h"

#include <QByteArray>
#include <QString>

// What the display discovery sees, as text for the engineer who installs the system: every monitor of the
// desktop in order with its position and size, its adapter and monitor ids, the VESA and PnP ids, the EDID
// identity as the program decodes it, the current and the supported modes, and whether monitor power is
// available. It is what goes into a device settings file.
QString DisplayReport(const IDisplaySystem& system);

// The identity a raw EDID gives, one field a line: "Manufacturer: ...", "Model name: ...", "Serial number:
// ...".
QString EdidReport(const QByteArray& edid);
