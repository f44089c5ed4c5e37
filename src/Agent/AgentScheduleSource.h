#pragma once

#include "DisplaySystem.h"
#include "ScheduleSource.h"

#include <chrono>
#include <memory>
#include <vector>

class TVitrelleDevice;

// The agent's own schedule actions: switch every display on (code 0) or off (code 1) at once through the
// display system's monitor power, and each display that has the code over its serial line, all of them at
// the same time. ExecuteAction waits for the last display; it runs on the scheduler's worker (the displays
// are read and the monitor power is switched on the main thread) or, in tests, on the main thread.
class TAgentScheduleSource : public IScheduleSource
{
public:
    static constexpr qint32 PowerOnAllAction = 0;
    static constexpr qint32 PowerOffAllAction = 1;

    // The pause before switching: 500 ms in the program, none in tests. devices (not owned, read on the
    // main thread) are the displays switched over their serial lines; none without it.
    TAgentScheduleSource(IDisplaySystem& display, std::chrono::milliseconds pause,
                         const std::vector<std::unique_ptr<TVitrelleDevice>>* devices = nullptr);

    QString GetSourceName() const override;
    std::unique_ptr<TScheduleAction> CreateDefaultAction(qint32 actionCode) override;
    QString GetActionDescription(const TScheduleAction* action) const override;
    void FilterActions(TScheduleActionList& actions) override;
    bool ExecuteAction(TScheduleAction* action) override;

private:
    IDisplaySystem& FDisplay;
    const std::chrono::milliseconds FPause;
    const std::vector<std::unique_ptr<TVitrelleDevice>>* FDevices;
};
