#pragma once

#include "DisplaySystem.h"

#include <chrono>
#include <memory>

class QScreen;
class QTimer;

// The display system of a session that is not X11 (Wayland, for example), read from the toolkit's screens:
// each screen is one adapter with one monitor named after the screen, with its geometry and current mode.
// The compositor owns the modes and the power of the monitors: no mode list, no switching, no monitor power.
// Screens report no EDID, so every monitor is kept under Default_Monitor and is told apart by its name.
// Screens added, removed, made primary or resized are reported once the burst has settled.
class TScreenDisplaySystem : public IDisplaySystem
{
public:
    explicit TScreenDisplaySystem(std::chrono::milliseconds settleTime = MonitorChangeSettleTime);
    ~TScreenDisplaySystem() override;
    TScreenDisplaySystem(const TScreenDisplaySystem&) = delete;
    TScreenDisplaySystem& operator=(const TScreenDisplaySystem&) = delete;

    QList<TDesktopMonitor> Monitors() const override;
    QList<TDisplayAdapter> Adapters() const override;
    QList<TMonitorDevice> AdapterMonitors(const QString& adapterName) const override;
    std::optional<QList<TMonitorInstance>> MonitorInstances(const QString& vesaId) const override;
    QList<TSystemDisplayMode> DisplayModes(const QString& adapterName) const override;
    std::optional<TSystemDisplayMode> CurrentDisplayMode(const QString& adapterName) const override;
    bool SetDisplayMode(const QString& adapterName, const TSystemDisplayMode& mode) override;
    bool SetMonitorPower(bool on) override;
    std::optional<bool> MonitorPowerOn() const override;

private:
    void Watch(QScreen* screen);

    // Restarted by every change; also the context of the connections to the toolkit's signals.
    std::unique_ptr<QTimer> FSettle;
};
