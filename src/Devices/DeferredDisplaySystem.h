#pragma once

#include "DisplaySystem.h"

#include <functional>
#include <memory>

// A display system that is chosen on its first use rather than when it is made. The program assembles its
// platform before its log exists, and the choice of a display system logs why a display cannot be used:
// made at first use (once the agent reads its monitors), the line reaches the log. Every call goes to the
// system chosen, and its change notice comes through this one's handler.
class TDeferredDisplaySystem : public IDisplaySystem
{
public:
    using TFactory = std::function<std::unique_ptr<IDisplaySystem>()>;

    // The factory runs once, on the first call; it must give a system.
    explicit TDeferredDisplaySystem(TFactory factory);

    // The system chosen; chooses it now when no call has yet.
    IDisplaySystem& System() const;

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
    mutable TFactory FFactory;
    mutable std::unique_ptr<IDisplaySystem> FSystem;
};
