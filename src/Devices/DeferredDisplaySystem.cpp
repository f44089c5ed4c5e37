#include "DeferredDisplaySystem.h"

#include <utility>

TDeferredDisplaySystem::TDeferredDisplaySystem(TFactory factory) : FFactory(std::move(factory))
{
    Q_ASSERT(FFactory);
}

IDisplaySystem& TDeferredDisplaySystem::System() const
{
    if (!FSystem) {
        FSystem = std::exchange(FFactory, nullptr)();
        Q_ASSERT(FSystem);
        FSystem->SetOnMonitorsChanged([this] { MonitorsChanged(); });
    }
    return *FSystem;
}

QList<TDesktopMonitor> TDeferredDisplaySystem::Monitors() const
{
    return System().Monitors();
}

QList<TDisplayAdapter> TDeferredDisplaySystem::Adapters() const
{
    return System().Adapters();
}

QList<TMonitorDevice> TDeferredDisplaySystem::AdapterMonitors(const QString& adapterName) const
{
    return System().AdapterMonitors(adapterName);
}

std::optional<QList<TMonitorInstance>> TDeferredDisplaySystem::MonitorInstances(const QString& vesaId) const
{
    return System().MonitorInstances(vesaId);
}

QList<TSystemDisplayMode> TDeferredDisplaySystem::DisplayModes(const QString& adapterName) const
{
    return System().DisplayModes(adapterName);
}

std::optional<TSystemDisplayMode> TDeferredDisplaySystem::CurrentDisplayMode(const QString& adapterName) const
{
    return System().CurrentDisplayMode(adapterName);
}

bool TDeferredDisplaySystem::SetDisplayMode(const QString& adapterName, const TSystemDisplayMode& mode)
{
    return System().SetDisplayMode(adapterName, mode);
}

bool TDeferredDisplaySystem::SetMonitorPower(bool on)
{
    return System().SetMonitorPower(on);
}

std::optional<bool> TDeferredDisplaySystem::MonitorPowerOn() const
{
    return System().MonitorPowerOn();
}
