#pragma once

#include "DisplaySystem.h"

#include <QByteArray>
#include <QLatin1StringView>

#include <chrono>
#include <memory>

// The display system of an X11 session: RandR outputs, monitors, modes and CRTC configuration, and DPMS.
// It holds a connection of its own to the X server, so that nothing it does disturbs the toolkit's. Errors of
// the server never end the process: requests that fail are failures of the call that made them, and a lost
// connection makes every later call report nothing (and log once). While an application runs its event loop,
// RandR's change events on that connection are watched, and a burst of them is reported once it has settled
// (see SetOnMonitorsChanged).
class TX11DisplaySystem : public IDisplaySystem
{
public:
    static constexpr QLatin1StringView LogSource{"TX11DisplaySystem"};

    // Connects to the named display (the session's DISPLAY when empty); raises EDisplaySystemError when it
    // cannot be opened or has no RandR 1.5 (monitors). A change is reported once no other has come for the
    // settle time.
    explicit TX11DisplaySystem(const QByteArray& displayName = {},
                               std::chrono::milliseconds settleTime = MonitorChangeSettleTime);
    ~TX11DisplaySystem() override;
    TX11DisplaySystem(const TX11DisplaySystem&) = delete;
    TX11DisplaySystem& operator=(const TX11DisplaySystem&) = delete;

    QList<TDesktopMonitor> Monitors() const override;
    QList<TDisplayAdapter> Adapters() const override;
    QList<TMonitorDevice> AdapterMonitors(const QString& adapterName) const override;
    std::optional<QList<TMonitorInstance>> MonitorInstances(const QString& vesaId) const override;
    QList<TSystemDisplayMode> DisplayModes(const QString& adapterName) const override;
    std::optional<TSystemDisplayMode> CurrentDisplayMode(const QString& adapterName) const override;
    bool SetDisplayMode(const QString& adapterName, const TSystemDisplayMode& mode) override;
    bool SetMonitorPower(bool on) override;
    std::optional<bool> MonitorPowerOn() const override;

    // The connection to the server was lost (the server ended or the link broke).
    bool ConnectionLost() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> F;
};
