#pragma once

#include "DisplaySystem.h"

#include <QList>

#include <optional>
#include <utility>

// A display system built from test data: outputs with their state, EDID and modes, each output one adapter;
// the monitors of the desktop and the monitors kept under each VESA id are derived from them the way the X11
// system derives them. Mode switches and power requests are recorded; a test reports its changes of the
// monitors with FireMonitorsChanged.
class TSimulatedDisplaySystem : public IDisplaySystem
{
public:
    struct TOutput
    {
        QString Name;
        bool Connected = true;
        bool Attached = true;
        bool Mirroring = false;
        bool Primary = false;
        // Listed among the desktop's monitors (by default when attached).
        std::optional<bool> OnDesktop;
        QRect Geometry;
        std::optional<QByteArray> EDID;
        QList<TSystemDisplayMode> Modes;
        std::optional<TSystemDisplayMode> Current;
        // Replace what would be derived, for damaged systems.
        std::optional<QString> DeviceID;
        std::optional<TSystemValue> HardwareID;
    };

    // Appends a connected, attached output; its index (the NNNN of its ids) is its position. The reference
    // is valid until the next output is added.
    TOutput& AddOutput(const QString& name, std::optional<QByteArray> edid = std::nullopt);
    TOutput& Output(const QString& name);

    QList<TDesktopMonitor> Monitors() const override;
    QList<TDisplayAdapter> Adapters() const override;
    QList<TMonitorDevice> AdapterMonitors(const QString& adapterName) const override;
    std::optional<QList<TMonitorInstance>> MonitorInstances(const QString& vesaId) const override;
    QList<TSystemDisplayMode> DisplayModes(const QString& adapterName) const override;
    std::optional<TSystemDisplayMode> CurrentDisplayMode(const QString& adapterName) const override;
    bool SetDisplayMode(const QString& adapterName, const TSystemDisplayMode& mode) override;
    bool SetMonitorPower(bool on) override;
    std::optional<bool> MonitorPowerOn() const override { return PowerOn; }

    // The VESA id the output's monitor is kept under.
    QString VesaID(const QString& outputName) const;

    // Reports a change of the monitors at once, as a real system does once a burst has settled: change the
    // outputs first (AddOutput, Output(name)), then call this.
    void FireMonitorsChanged() const { MonitorsChanged(); }

    // Monitor power: none when the system offers no DPMS.
    std::optional<bool> PowerOn = true;
    QList<bool> PowerRequests;
    QList<std::pair<QString, TSystemDisplayMode>> ModeSwitches;

private:
    const TOutput* Find(const QString& name) const;
    QList<TOutput> FOutputs;
};
