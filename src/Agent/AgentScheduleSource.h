#pragma once

#include "DisplaySystem.h"
#include "ScheduleSource.h"

#include <chrono>

// The agent's own schedule actions: switch every display on (code 0) or off (code 1) at once through the
// display system's monitor power. Actions run on the scheduler's lane: the pause there, the switch on the
// main thread.
class TAgentScheduleSource : public IScheduleSource
{
public:
    static constexpr qint32 PowerOnAllAction = 0;
    static constexpr qint32 PowerOffAllAction = 1;

    // The pause before switching: 500 ms in the program, none in tests.
    TAgentScheduleSource(IDisplaySystem& display, std::chrono::milliseconds pause);

    QString GetSourceName() const override;
    std::unique_ptr<TScheduleAction> CreateDefaultAction(qint32 actionCode) override;
    QString GetActionDescription(const TScheduleAction* action) const override;
    void FilterActions(TScheduleActionList& actions) override;
    bool ExecuteAction(TScheduleAction* action) override;

private:
    IDisplaySystem& FDisplay;
    const std::chrono::milliseconds FPause;
};
