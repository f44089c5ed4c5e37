#include "AgentScheduleSource.h"

#include "ScheduleAction.h"
#include "ScheduleActionList.h"
#include "VitrelleDevice.h"

TAgentScheduleSource::TAgentScheduleSource(IDisplaySystem& display, std::chrono::milliseconds pause,
                                           const std::vector<std::unique_ptr<TVitrelleDevice>>* devices)
    : FDisplay(display), FPause(pause), FDevices(devices)
{
}

QString TAgentScheduleSource::GetSourceName() const
{
    return QStringLiteral("VitrelleCenterAgent");
}

std::unique_ptr<TScheduleAction> TAgentScheduleSource::CreateDefaultAction(qint32 actionCode)
{
    if (actionCode != PowerOnAllAction && actionCode != PowerOffAllAction)
        return nullptr;
    return TScheduleAction::CreateAction(this, actionCode, 0,
                                         actionCode == PowerOnAllAction ? QTime(8, 0) : QTime(23, 0), false);
}

QString TAgentScheduleSource::GetActionDescription(const TScheduleAction* action) const
{
    if (action == nullptr)
        return {};
    if (action->Action == PowerOnAllAction)
        return QStringLiteral("Power on all display devices");
    if (action->Action == PowerOffAllAction)
        return QStringLiteral("Power off all display devices");
    return {};
}

void TAgentScheduleSource::FilterActions(TScheduleActionList& actions)
{
    // Both due in one pass: only the later one runs.
    if (actions.Count() == 2)
        actions.Delete(0);
}

bool TAgentScheduleSource::ExecuteAction(TScheduleAction* action)
{
    if (action == nullptr || (action->Action != PowerOnAllAction && action->Action != PowerOffAllAction))
        return false;
    TVitrelleDevice::TDeviceList devices;
    if (FDevices != nullptr)
        devices = [list = FDevices] {
            std::vector<TVitrelleDevice*> all;
            for (const std::unique_ptr<TVitrelleDevice>& device : *list)
                all.push_back(device.get());
            return all;
        };
    return TVitrelleDevice::PowerAll(action->Action == PowerOnAllAction, FDisplay, devices, FPause);
}
