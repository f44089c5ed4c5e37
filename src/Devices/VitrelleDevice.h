#pragma once

#include "Clock.h"
#include "DeviceControl.h"
#include "DisplaySystem.h"
#include "PlayRecords.h"
#include "ScheduleSource.h"
#include "VitrelleDeviceInfo.h"
#include "VitrelleDeviceSettings.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class TVitrelleScheduler;
class TWorkQueue;

// What a display device takes from the agent that owns it.
struct TDeviceServices
{
    // The machine's displays. Required.
    std::shared_ptr<IDisplaySystem> Display;
    // Opens the serial lines of the power control. Required.
    std::shared_ptr<const ISerialPortFactory> SerialPorts;
    // The scheduler the device registers with when it gets its settings; null (or answering null): none.
    std::function<TVitrelleScheduler*()> Scheduler;
    // The local time the last power command is stamped with; null: the system's.
    std::shared_ptr<const IClock> Clock = nullptr;
};

// The last power command a display was given, for the operator: when, which, and how it ended.
struct TPowerCommandRecord
{
    QDateTime Time;
    bool On = false;
    bool Succeeded = false;
    // Not empty when the serial exchange raised an error (the command then failed).
    QString Error;
};

// One display the program drives: a monitor of the desktop, its identity read from the system, its current
// settings and its serial power control. As a schedule source it offers power on (code 0) and power off
// (code 1).
//
// Threads: main thread, except where a member says otherwise. The display's serial exchanges run on a
// worker of its own, one at a time and in the order they were asked for; the settings they use are read on
// the main thread when they are asked for.
class TVitrelleDevice : public IScheduleSource
{
public:
    // The outcome of an asynchronous command or query, on the main thread; error is null when the exchange
    // ended normally.
    using TPowerDone = std::function<void(bool success, std::exception_ptr error)>;
    using TStatusDone = std::function<void(TPowerStatus status, std::exception_ptr error)>;
    // The displays to switch, asked for on the main thread.
    using TDeviceList = std::function<std::vector<TVitrelleDevice*>()>;

    static constexpr QLatin1StringView LogSource{"TVitrelleDevice"};
    static constexpr qint32 PowerOnAction = 0;
    static constexpr qint32 PowerOffAction = 1;
    // The pause before all monitors are switched: the key or click that asked for it is over by then and
    // cannot wake a monitor that was just switched off.
    static constexpr std::chrono::milliseconds PowerAllPause{500};

    // Raises EVitrelleError when a required service is missing.
    explicit TVitrelleDevice(TDeviceServices services);
    ~TVitrelleDevice();
    TVitrelleDevice(const TVitrelleDevice&) = delete;
    TVitrelleDevice& operator=(const TVitrelleDevice&) = delete;

    // 1-based number among the active displays, set by the agent; -1 until then.
    int Index = -1;
    // The desktop monitor this device stands for, set by the agent.
    std::optional<TDesktopMonitor> Monitor;
    // Called on the main thread after every power command that reached its end (the Devices page shows the
    // state).
    std::function<void(TVitrelleDevice&)> OnPowerStatusChange;

    TVitrelleDeviceInfo& Info() { return *FInfo; }
    const TVitrelleDeviceInfo& Info() const { return *FInfo; }
    TVitrelleDeviceSettings& Settings() { return *FSettings; }
    const TVitrelleDeviceSettings& Settings() const { return *FSettings; }
    TDeviceControl& Control() { return *FControl; }

    // The adapter device name of the monitor (at most 32 characters); empty without a monitor.
    QString GetMonitorDeviceName() const;
    bool IsActive() const;
    bool ReadInfo();

    // Null without a monitor or when the system cannot tell.
    std::unique_ptr<TDisplayMode> GetCurrentDisplayMode() const;
    // The modes in the system's order, duplicates kept; null without a monitor. An empty list is logged.
    std::unique_ptr<std::vector<TDisplayMode>> GetDisplayModes() const;
    // Null: false.
    bool SupportsDisplayMode(const TDisplayMode* mode) const;
    // Switches to the mode for this session when it is supported and not the current one; silent.
    void SetDisplayMode(const TDisplayMode* mode);

    // Copies the settings (null: keeps its own), takes the identity read from the system into them (an empty
    // model as GenericModel), hands their port settings to the control, publishes the name and registers the
    // device with the scheduler. The one place the live settings change as a whole.
    void ApplySettings(const TVitrelleDeviceSettings* settings);

    QString GetDisplayName() const;
    // The display name this device has with the given settings' name (a name about to be saved).
    QString DisplayNameOf(const QString& name) const;
    // Takes the display name as it is now for the readers on other threads (GetSourceName). Called by
    // whoever changes what the name depends on: the settings' name, Index or Monitor.
    void PublishName();
    QString GetCaption() const;
    QString GetConfigFileName() const;

    // Serial errors reach the caller unlogged. On a worker (a scheduled action's) the exchange runs on this
    // display's worker and the caller waits for it; it gives up with EVitrelleError when it is asked to stop
    // first. On the main thread the exchange runs inline, as in the tests; the program never calls them
    // there.
    bool PowerOn();
    bool PowerOff();
    TPowerStatus GetPowerStatus();
    // The same without waiting: the exchange runs on this display's worker after those asked for before it,
    // and done gets its outcome on the main thread, after OnPowerStatusChange when the command ran to its
    // end. Nothing is called when the device is destroyed first.
    // Who asked for a power command, as the play journal records it.
    static inline const QString ScheduleOrigin = QStringLiteral("schedule");
    static inline const QString OperatorOrigin = QStringLiteral("operator");
    void PowerAsync(bool on, TPowerDone done = {}, const QString& origin = OperatorOrigin);
    void QueryPowerStatusAsync(TStatusDone done);
    // Any thread. True while an exchange of this display runs or waits for its turn.
    bool Busy() const;
    // Any thread. The last power command that ended, whatever its outcome; nothing before the first.
    std::optional<TPowerCommandRecord> LastPowerCommand() const;
    // Any thread. The power command given and not ended yet (the latest when several wait); nothing when
    // none.
    std::optional<TPowerCommandRecord> PowerCommandInProgress() const;

    // Every monitor at once through the display system's monitor power; no serial line, no device state.
    static bool PowerOnAll(IDisplaySystem& system, std::chrono::milliseconds pause = PowerAllPause);
    static bool PowerOffAll(IDisplaySystem& system, std::chrono::milliseconds pause = PowerAllPause);
    // The same, and every display of the list that has the command's code is also switched over its serial
    // line: all of them at once, each on its own worker. The pause comes before the monitor power only (the
    // serial commands need none). Returns when every display has answered, with the monitor power's success;
    // a display's serial error is logged. On a worker it gives up with EVitrelleError when asked to stop; on
    // the main thread the displays are switched one after the other.
    static bool PowerAll(bool on, IDisplaySystem& system, const TDeviceList& devices,
                         std::chrono::milliseconds pause = PowerAllPause);

    // IScheduleSource. Any thread: the display name on the main thread; elsewhere (the scheduler's tick and
    // lanes) the copy the main thread last published, since the settings are the main thread's.
    QString GetSourceName() const override;
    std::unique_ptr<TScheduleAction> CreateDefaultAction(qint32 actionCode) override;
    QString GetActionDescription(const TScheduleAction* action) const override;
    void FilterActions(TScheduleActionList& actions) override;
    bool ExecuteAction(TScheduleAction* action) override;

private:
    // One power command from the moment it is given: what it sends and how it is recorded.
    struct TCommand
    {
        TControlSnapshot Control;
        TPowerCommandRecord Record;
        QString DisplayName;
        TJournalDisplay Journal;
        QString Origin;
        // Set once the command no longer counts as in progress.
        std::shared_ptr<std::atomic<bool>> Ended = std::make_shared<std::atomic<bool>>(false);
    };

    bool Power(bool on);
    // Main thread: the command as the settings stand now, counted as in progress.
    TCommand BeginCommand(bool on, const QString& origin);
    // Any thread: the exchange, its record and its log line.
    bool RunCommand(const TCommand& command);
    // Any thread: no longer in progress; the record (when given) is the last command.
    void EndCommand(const TCommand& command, const TPowerCommandRecord* record);

    const TDeviceServices FServices;
    std::unique_ptr<TVitrelleDeviceInfo> FInfo;
    std::unique_ptr<TVitrelleDeviceSettings> FSettings;
    std::unique_ptr<TDeviceControl> FControl; // after the settings: it is bound to their control settings
    mutable std::mutex FNameMutex;            // guards FPublishedName
    QString FPublishedName;
    mutable std::mutex FMutex; // guards the command records below
    std::optional<TPowerCommandRecord> FLastPowerCommand;
    std::optional<TPowerCommandRecord> FCommandInProgress;
    int FCommandsInProgress = 0;
    // Last: destroyed first, so an exchange still running ends before what it uses goes.
    std::unique_ptr<TWorkQueue> FQueue;
};
