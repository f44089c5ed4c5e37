#pragma once

#include "AgentPlatform.h"
#include "AgentScheduleSource.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleDevice.h"
#include "VitrelleDeviceSettings.h"
#include "VitrellePlayer.h"
#include "VitrelleRepository.h"
#include "VitrelleScheduler.h"

#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// The spine of the system: owns the settings and everything started from them, performs the start-up in its
// fixed order and serves the pages of the main window.
class TVitrelleCenterAgent
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TVitrelleCenterAgent"};

    // Raises EVitrelleError when the platform lacks an entry.
    TVitrelleCenterAgent(const QString& appFolder, TAgentPlatform platform);
    // Frees the scheduler first, so that no scheduled action runs while the rest is taken down, then the
    // players, whose clocks work on the content, the repository and the devices.
    ~TVitrelleCenterAgent();

    TVitrelleCenterAgent(const TVitrelleCenterAgent&) = delete;
    TVitrelleCenterAgent& operator=(const TVitrelleCenterAgent&) = delete;

    // The start-up sequence; an error not handled inside a step is raised to the caller.
    void Initialize();

    TVitrelleCenterSettings& Settings() { return *FSettings; }
    const TVitrelleCenterSettings& Settings() const { return *FSettings; }
    TVitrelleRepository& Repository() { return *FRepository; }
    const TVitrelleRepository& Repository() const { return *FRepository; }
    TVitrelleScheduler& Scheduler() { return *FScheduler; }
    const TVitrelleScheduler& Scheduler() const { return *FScheduler; }

    // The active displays in desktop order; an index outside 0 to count - 1 raises EOutOfRange.
    int DeviceCount() const { return static_cast<int>(FDevices.size()); }
    TVitrelleDevice& Devices(int index) const;
    // Players(i) plays on Devices(i); an index outside 0 to count - 1 raises EOutOfRange.
    int PlayerCount() const { return static_cast<int>(FPlayers.size()); }
    TVitrellePlayer& Players(int index) const;
    // Plays the vitrelle on the device's player with this slide duration; an empty id does nothing (false),
    // whatever the index. False when the player cannot play it.
    bool PlayVitrelle(const QString& id, int deviceIndex, qint32 seconds);
    // Stops the device's player and closes its window.
    void StopPlayer(int deviceIndex);

    // Every device settings file that loaded, in folder order (file names sorted).
    const std::vector<std::unique_ptr<TVitrelleDeviceSettings>>& DeviceSettings() const
    {
        return FDeviceSettings;
    }

    // The start-up steps for the displays: one device per active monitor, the settings files of the device
    // folder, and the choice of one file per device.
    void DetectDisplayDevices();
    void LoadDeviceSettings();
    void ConfigureDevices();
    // One player per device, each registering with the scheduler.
    void CreatePlayers();

    // The desktop's monitors have changed while the program runs (a display plugged in, switched back on or
    // unplugged). Each device finds its monitor again by name: its window follows it and, when it plays, its
    // display mode is applied again. A monitor that no device had before becomes a new device with its own
    // settings and player, so a display switched on after the computer still gets its show.
    void MonitorsChanged();
    // Called after MonitorsChanged has added a device (the pages show it).
    std::function<void()> OnDevicesAdded;

    // The effective device and template folders, absolute; created with their parents when missing.
    QString GetDeviceFolder() const;
    QString GetTemplateFolder() const;

    // Start-up: the cache folder and the list file as set must not overlap the program's own folders
    // (TVitrelleCenterSettings::FolderConflict). When they do, the conflict is logged at level 1 and this
    // run uses the default list file, or the default cache folder, or both, the first of these that does
    // not overlap (the settings file is not changed); when none does (the device or template folder set to
    // the default cache), nothing is downloaded and the list is not loaded: false.
    bool CheckFolders();
    void CheckXmlLibrary() const;
    bool IsRemoteDesktop() const;

    const TAgentPlatform& Platform() const { return FPlatform; }

private:
    // A device for the monitor at this position of the desktop's list, appended when active (and its
    // identity and mode logged); null when the monitor's adapter is not active.
    TVitrelleDevice* AddDevice(const TDesktopMonitor& monitor, qsizetype position);
    // Chooses and applies the settings files of the devices from this position on.
    void ConfigureDevicesFrom(size_t first);
    void AddPlayer(TVitrelleDevice& device);

    TAgentPlatform FPlatform;
    std::unique_ptr<TVitrelleCenterSettings> FSettings;
    std::unique_ptr<TVitrelleRepository> FRepository;
    std::vector<std::unique_ptr<TVitrelleDevice>> FDevices;
    std::vector<std::unique_ptr<TVitrelleDeviceSettings>> FDeviceSettings;
    std::vector<std::unique_ptr<TVitrellePlayer>> FPlayers;
    std::unique_ptr<TVitrelleScheduler> FScheduler;
    std::unique_ptr<TAgentScheduleSource> FScheduleSource;
    // Names of the monitors of devices whose monitor has gone from the desktop.
    QSet<QString> FLostMonitors;
};

// Constructs and initialises the agent for the application folder. A failing start-up logs its error, shows
// it through the platform, frees the agent and gives null.
std::unique_ptr<TVitrelleCenterAgent> CreateAgent(const QString& appFolder, TAgentPlatform platform);
