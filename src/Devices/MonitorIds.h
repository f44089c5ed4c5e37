#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringList>

#include <optional>

class IDisplaySystem;

// The monitors the system keeps, found through their device ids
// (MONITOR\<VesaID>\{4d36e96e-e325-11ce-bfc1-08002be10318}\<NNNN>).

// The class identifier of monitors, the third component of a monitor device id.
constexpr QLatin1StringView MonitorClassGuid{"{4d36e96e-e325-11ce-bfc1-08002be10318}"};

// The driver key of the output with this index: the class identifier, a backslash, four decimal digits.
QString MonitorDriverKey(int outputIndex);
// The device id of a monitor with this VESA id on the output with this index.
QString MonitorDeviceId(const QString& vesaId, int outputIndex);

struct TMonitorIdParts
{
    QString VesaID;
    // Everything after the second backslash: the class identifier, a backslash and the instance number.
    QString DriverKey;
};
// The VESA id lies between the first backslash at or after the second character and the next one; none
// when the id does not have these two backslashes.
std::optional<TMonitorIdParts> SplitMonitorId(const QString& monitorId);

// The device ids of the active monitors of the adapter, in the system's order (each at most 128 characters,
// up to a NUL).
QStringList ListMonitorIds(const IDisplaySystem& system, const QString& adapterName);
// The PnP id of the monitor kept under the VESA id whose driver key is exactly this one; empty when none.
QString FindInstanceByDriver(const IDisplaySystem& system, const QString& vesaId, const QString& driverKey);
// The monitor is kept, has a HardwareID whose first string begins with "Monitor\" (any letter case), and is
// present now. A HardwareID that cannot be read raises EDisplaySystemError (see ReadMultiString).
bool IsPresentMonitor(const IDisplaySystem& system, const QString& vesaId, const QString& pnpId);
// The strings of the monitor's HardwareID, up to the first empty one; empty when the monitor is not kept.
// Raises EDisplaySystemError "Error while reading EDID value" when the value cannot be read and "EDID value
// type is not MULTI_SZ" when it is no list of strings (the texts do not name the value).
QStringList ReadMultiString(const IDisplaySystem& system, const QString& vesaId, const QString& pnpId);

// The list as one comma-separated text; an item holding a character of code 32 or less, a comma or a double
// quote is quoted, its double quotes doubled.
QString CommaText(const QStringList& items);
