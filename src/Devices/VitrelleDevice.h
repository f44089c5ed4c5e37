#pragma once

#include "Clock.h"
#include "DeviceControl.h"
#include "DisplaySystem.h"
#include "ScheduleSource.h"
#include "VitrelleDeviceInfo.h"
#include "VitrelleDeviceSettings.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TVitrelleScheduler;

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
// (code 1). Main thread only.
class TVitrelleDevice : public IScheduleSource
{
public:
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
    // The name its settings file holds: the one it is configured with, then the last one saved. The next
    // start finds the device (and its scheduled actions) under this name, whatever name was applied since.
    QString StoredName;
    // Called after every power command that reached its end (the Devices page shows the state).
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
    bool SupportsDisplayMode(const IDisplayMode* mode) const;
    // Switches to the mode for this session when it is supported and not the current one; silent.
    void SetDisplayMode(const IDisplayMode* mode);

    // Copies the settings (null: keeps its own) and takes their name as the stored one, takes the identity
    // read from the system into them and registers the device with the scheduler.
    void ApplySettings(const TVitrelleDeviceSettings* settings);

    QString GetDisplayName() const;
    // The display name this device has with the given settings' name (a name about to be saved).
    QString DisplayNameOf(const QString& name) const;
    // The display name the next start gives the device: that of StoredName.
    QString StoredDisplayName() const { return DisplayNameOf(StoredName); }
    QString GetCaption() const;
    QString GetConfigFileName() const;

    // Serial errors reach the caller unlogged.
    bool PowerOn();
    bool PowerOff();
    TPowerStatus GetPowerStatus();
    // The last power command given, whatever its outcome; nothing before the first.
    const std::optional<TPowerCommandRecord>& LastPowerCommand() const { return FLastPowerCommand; }

    // Every monitor at once through the display system's monitor power; no serial line, no device state.
    static bool PowerOnAll(IDisplaySystem& system, std::chrono::milliseconds pause = PowerAllPause);
    static bool PowerOffAll(IDisplaySystem& system, std::chrono::milliseconds pause = PowerAllPause);

    // IScheduleSource
    QString GetSourceName() const override { return GetDisplayName(); }
    std::unique_ptr<TScheduleAction> CreateDefaultAction(qint32 actionCode) override;
    QString GetActionDescription(const TScheduleAction* action) const override;
    void FilterActions(TScheduleActionList& actions) override;
    bool ExecuteAction(TScheduleAction* action) override;

private:
    bool Power(bool on);

    const TDeviceServices FServices;
    std::unique_ptr<TVitrelleDeviceInfo> FInfo;
    std::unique_ptr<TVitrelleDeviceSettings> FSettings;
    std::unique_ptr<TDeviceControl> FControl; // after the settings: it is bound to their control settings
    std::optional<TPowerCommandRecord> FLastPowerCommand;
};
