#pragma once

#include "Errors.h"

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

// What the program asks of the machine's display system: the desktop's monitors, the display adapters
// behind them, the monitors the system keeps under each VESA id (with their EDID), display modes, mode
// switching and monitor power. The X11 implementation reads RandR (monitors, outputs, the EDID property,
// modes, CRTC configuration) and DPMS; the tests use a simulated one. No window-system header is included
// here: Xlib's macros (Status, Bool, True, None) would break the names of the program.
//
// The monitors are named the way the discovery logic expects them, so that id splitting, matching, log lines
// and files do not depend on the platform:
//   monitor device id  MONITOR\<VesaID>\{4d36e96e-e325-11ce-bfc1-08002be10318}\<NNNN>  (NNNN: output index)
//   VesaID             EDID manufacturer letters + product code as 4 upper-case hex digits, or
//                      Default_Monitor without EDID
//   PnP id             the output (connector) name, stable across reboots
//   HardwareID         the multi-string MONITOR\<VesaID>
// All calls are made on the main thread.

// A failure of the display system while reading what it keeps about a monitor.
class EDisplaySystemError : public EVitrelleError
{
public:
    using EVitrelleError::EVitrelleError;
};

// A monitor of the desktop, as the window system lists it.
struct TDesktopMonitor
{
    // The adapter device name of the monitor: for a monitor that follows one output, the output's name.
    QString Name;
    QRect Geometry;
    // Its outputs; the first one gives the EDID, the modes and the mode switches. None for a logical monitor.
    QStringList Outputs;
    bool Primary = false;
};

// A display adapter (an output) and its state.
struct TDisplayAdapter
{
    QString DeviceName;
    // Drives a CRTC of the desktop.
    bool AttachedToDesktop = false;
    // Shows the same CRTC as an earlier output.
    bool MirroringDriver = false;
    bool PrimaryDevice = false;

    // The state in the form the log reports: attached 0x1, primary 0x4, mirroring 0x8.
    quint32 StateFlags() const
    {
        return (AttachedToDesktop ? 0x1u : 0u) | (PrimaryDevice ? 0x4u : 0u) | (MirroringDriver ? 0x8u : 0u);
    }
};

// A monitor on an adapter.
struct TMonitorDevice
{
    QString DeviceID;
    // The monitor is attached (connected) now.
    bool Active = false;
};

// A value the system keeps for a monitor, and how it could be read.
struct TSystemValue
{
    enum TState
    {
        vsMissing,    // no such value
        vsUnreadable, // the value exists but reading it failed
        vsOtherType,  // a value of another type than a list of strings
        vsStrings,    // a list of strings
    };
    TState State = vsMissing;
    QStringList Strings;
};

// A monitor the system keeps under its VESA id (one per output that reports that id).
struct TMonitorInstance
{
    QString PnpID;
    // The class identifier, a backslash and the instance number: the tail of the monitor device id.
    QString Driver;
    TSystemValue HardwareID;
    // The monitor is present (its output is connected).
    bool ControlPresent = false;
    // The EDID as the output reports it, at any length (TVs with extension blocks give 384 or 512 bytes);
    // none when the output has no EDID or one of a foreign type.
    std::optional<QByteArray> EDID;
};

// A display mode as the system reports it, before the program keeps its low bits.
struct TSystemDisplayMode
{
    quint32 Width = 0;
    quint32 Height = 0;
    // Whole Hz, rounded.
    quint32 Frequency = 0;
    // The screen's depth; 24 is reported as 32.
    quint32 BitsPerPixel = 0;

    bool operator==(const TSystemDisplayMode&) const = default;
};

class IDisplaySystem
{
public:
    // How long the desktop's monitors must stay unchanged before a burst of changes is reported: plugging a
    // display in gives several events over a few tenths of a second (output, CRTC, screen size).
    static constexpr std::chrono::milliseconds MonitorChangeSettleTime{250};

    virtual ~IDisplaySystem() = default;

    // The desktop's monitors in desktop order.
    virtual QList<TDesktopMonitor> Monitors() const = 0;
    // Every display adapter, in the system's order.
    virtual QList<TDisplayAdapter> Adapters() const = 0;
    // The monitors on the named adapter; empty for an unknown adapter.
    virtual QList<TMonitorDevice> AdapterMonitors(const QString& adapterName) const = 0;
    // The monitors kept under the VESA id, in the system's order; none when the system keeps nothing under
    // it.
    virtual std::optional<QList<TMonitorInstance>> MonitorInstances(const QString& vesaId) const = 0;

    // The modes of the adapter's first output, in the system's order, duplicates kept; empty when it has none
    // (a logical monitor without an output lists only its current geometry).
    virtual QList<TSystemDisplayMode> DisplayModes(const QString& adapterName) const = 0;
    // None when the adapter is unknown or its mode cannot be read.
    virtual std::optional<TSystemDisplayMode> CurrentDisplayMode(const QString& adapterName) const = 0;
    // Switches the adapter's first output to the mode for this session only (not persisted); true when the
    // system took it.
    virtual bool SetDisplayMode(const QString& adapterName, const TSystemDisplayMode& mode) = 0;

    // Switches every monitor on or off (DPMS); true when monitor power is offered and the level reads back.
    virtual bool SetMonitorPower(bool on) = 0;
    // Whether the monitors are on; none when monitor power is not offered.
    virtual std::optional<bool> MonitorPowerOn() const = 0;

    // Called on the main thread once the desktop's monitors have changed (a display plugged in, unplugged,
    // switched back on, or its mode changed); a burst of changes gives one call. Replaces an earlier handler;
    // null: none.
    void SetOnMonitorsChanged(std::function<void()> handler) { FOnMonitorsChanged = std::move(handler); }

protected:
    // For the implementations: tells the handler.
    void MonitorsChanged() const
    {
        if (FOnMonitorsChanged)
            FOnMonitorsChanged();
    }

private:
    std::function<void()> FOnMonitorsChanged;
};
