#pragma once

#include "DisplaySystem.h"

// The display system of a session that is not X11 (Wayland, for example), read from the toolkit's screens:
// each screen is one adapter with one monitor named after the screen, with its geometry and current mode.
// The compositor owns the modes and the power of the monitors: no mode list, no switching, no monitor power.
// Screens report no EDID, so every monitor is kept under Default_Monitor and is told apart by its name.
class TScreenDisplaySystem : public IDisplaySystem
{
public:
    QList<TDesktopMonitor> Monitors() const override;
    QList<TDisplayAdapter> Adapters() const override;
    QList<TMonitorDevice> AdapterMonitors(const QString& adapterName) const override;
    std::optional<QList<TMonitorInstance>> MonitorInstances(const QString& vesaId) const override;
    QList<TSystemDisplayMode> DisplayModes(const QString& adapterName) const override;
    std::optional<TSystemDisplayMode> CurrentDisplayMode(const QString& adapterName) const override;
    bool SetDisplayMode(const QString& adapterName, const TSystemDisplayMode& mode) override;
    bool SetMonitorPower(bool on) override;
    std::optional<bool> MonitorPowerOn() const override;
};
