#include "SimulatedDisplaySystem.h"

#include "Edid.h"
#include "MonitorIds.h"

TSimulatedDisplaySystem::TOutput& TSimulatedDisplaySystem::AddOutput(const QString& name,
                                                                     std::optional<QByteArray> edid)
{
    FOutputs << TOutput{};
    FOutputs.last().Name = name;
    FOutputs.last().EDID = std::move(edid);
    return FOutputs.last();
}

TSimulatedDisplaySystem::TOutput& TSimulatedDisplaySystem::Output(const QString& name)
{
    return *const_cast<TOutput*>(Find(name));
}

const TSimulatedDisplaySystem::TOutput* TSimulatedDisplaySystem::Find(const QString& name) const
{
    for (const TOutput& output : FOutputs)
        if (output.Name == name)
            return &output;
    return nullptr;
}

QString TSimulatedDisplaySystem::VesaID(const QString& outputName) const
{
    const TOutput* output = Find(outputName);
    return output != nullptr ? VesaIdFromEDID(output->EDID.value_or(QByteArray())) : QString();
}

QList<TDesktopMonitor> TSimulatedDisplaySystem::Monitors() const
{
    QList<TDesktopMonitor> monitors;
    for (const TOutput& output : FOutputs)
        if (output.OnDesktop.value_or(output.Attached))
            monitors << TDesktopMonitor{output.Name, output.Geometry, {output.Name}, output.Primary};
    return monitors;
}

QList<TDisplayAdapter> TSimulatedDisplaySystem::Adapters() const
{
    QList<TDisplayAdapter> adapters;
    for (const TOutput& output : FOutputs)
        adapters << TDisplayAdapter{output.Name, output.Attached, output.Mirroring, output.Primary};
    return adapters;
}

QList<TMonitorDevice> TSimulatedDisplaySystem::AdapterMonitors(const QString& adapterName) const
{
    for (qsizetype i = 0; i < FOutputs.size(); ++i) {
        const TOutput& output = FOutputs[i];
        if (output.Name == adapterName)
            return {TMonitorDevice{output.DeviceID.value_or(MonitorDeviceId(VesaID(output.Name), int(i))),
                                   output.Connected}};
    }
    return {};
}

std::optional<QList<TMonitorInstance>> TSimulatedDisplaySystem::MonitorInstances(const QString& vesaId) const
{
    QList<TMonitorInstance> instances;
    for (qsizetype i = 0; i < FOutputs.size(); ++i) {
        const TOutput& output = FOutputs[i];
        if (VesaID(output.Name) != vesaId)
            continue;
        const TSystemValue hardwareId{TSystemValue::vsStrings, {QStringLiteral("MONITOR\\") + vesaId}};
        instances << TMonitorInstance{output.Name, MonitorDriverKey(int(i)),
                                      output.HardwareID.value_or(hardwareId), output.Connected, output.EDID};
    }
    if (instances.isEmpty())
        return std::nullopt;
    return instances;
}

QList<TSystemDisplayMode> TSimulatedDisplaySystem::DisplayModes(const QString& adapterName) const
{
    const TOutput* output = Find(adapterName);
    return output != nullptr ? output->Modes : QList<TSystemDisplayMode>();
}

std::optional<TSystemDisplayMode>
TSimulatedDisplaySystem::CurrentDisplayMode(const QString& adapterName) const
{
    const TOutput* output = Find(adapterName);
    return output != nullptr ? output->Current : std::nullopt;
}

bool TSimulatedDisplaySystem::SetDisplayMode(const QString& adapterName, const TSystemDisplayMode& mode)
{
    ModeSwitches << std::pair{adapterName, mode};
    TOutput* output = const_cast<TOutput*>(Find(adapterName));
    if (output == nullptr || !output->Modes.contains(mode))
        return false;
    output->Current = mode;
    return true;
}

bool TSimulatedDisplaySystem::SetMonitorPower(bool on)
{
    PowerRequests << on;
    if (!PowerOn)
        return false;
    PowerOn = on;
    return true;
}
