#include "AgentScheduleSource.h"

#include "ScheduleAction.h"
#include "ScheduleActionList.h"
#include "ThreadLink.h"
#include "VitrelleDevice.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>

TAgentScheduleSource::TAgentScheduleSource(IDisplaySystem& display, std::chrono::milliseconds pause)
    : FDisplay(display), FPause(pause)
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
    if (action == nullptr)
        return false;
    const bool on = action->Action == PowerOnAllAction;
    if (!on && action->Action != PowerOffAllAction)
        return false;
    // The pause is spent on the scheduler's lane, and cut short when the program ends; the switch itself
    // is the display system's, which lives on the main thread.
    const QDeadlineTimer deadline(FPause);
    while (!deadline.hasExpired()) {
        if (WorkerStopRequested())
            return false;
        QThread::msleep(static_cast<unsigned long>(std::clamp<qint64>(deadline.remainingTime(), 1, 50)));
    }
    bool success = false;
    RunOnMainThread([&] {
        success = on ? TVitrelleDevice::PowerOnAll(FDisplay, std::chrono::milliseconds(0))
                     : TVitrelleDevice::PowerOffAll(FDisplay, std::chrono::milliseconds(0));
    });
    return success;
}
