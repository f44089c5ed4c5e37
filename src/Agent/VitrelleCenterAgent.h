#pragma once

#include "AgentNotifier.h"
#include "AgentPlatform.h"
#include "AgentScheduleSource.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleDevice.h"
#include "VitrelleDeviceSettings.h"
#include "VitrellePlayer.h"
#include "VitrelleRepository.h"
#include "VitrelleScheduler.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>

#include <chrono>
#include <memory>
#include <unordered_map>
#include <vector>

class QTimer;

// The spine of the system: owns the settings and everything started from them, performs the start-up in its
// fixed order and serves the pages of the main window, which hear of its changes through Notifier(). Made by
// main before the window and freed after it.
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
    // Its news for the pages; it lives as long as the agent.
    TAgentNotifier& Notifier() { return FNotifier; }

    // Main thread. Takes the list file that a list fetch wrote (TVitrelleRepository::LoadList, whose errors
    // it raises) and tells of the new list (VitrelleListChanged); null, telling nothing, when it gave none.
    TVitrelleList* LoadVitrelleList();

    // At most this many displays: a monitor beyond them gets no device (logged at level 2 once while it
    // stays on the desktop).
    static constexpr int MaxDevices = 16;
    // A device whose monitor has been gone this long is let go (see ReleaseLostDevices), checked this often.
    static constexpr std::chrono::minutes LostDeviceRelease{10};
    static constexpr std::chrono::minutes ReleaseCheckPeriod{1};

    // The active displays, those found at start in desktop order, then those plugged in later; a device let
    // go leaves the list and the later ones move up. An index outside 0 to count - 1 raises EOutOfRange.
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
    // folder, and the choice of one file per device (a file goes to one device at most, see
    // ::ConfigureDevices). A device whose name, or its player's, another device or a schedule source has
    // already gets a free name "Name (2)", "Name (3)", ... in its settings (its file keeps its name), logged
    // at level 2.
    void DetectDisplayDevices();
    void LoadDeviceSettings();
    void ConfigureDevices();
    // One player per device, each registering with the scheduler.
    void CreatePlayers();

    // The desktop's monitors have changed while the program runs (a display plugged in, switched back on or
    // unplugged). Each device finds its monitor again by name: its window follows it and, when it plays, its
    // display mode is applied again. A monitor that no device had before becomes a new device with its own
    // settings and player, so a display switched on after the computer still gets its show; it takes no
    // file a live device holds, and gets the lowest number no live device has. A device whose monitor is
    // gone is kept for its monitor's return, until ReleaseLostDevices lets it go; a monitor that comes back
    // after that is matched like any new one.
    void MonitorsChanged();
    // Lets go of every device whose monitor has been gone for LostDeviceRelease or longer (by the platform's
    // clock), unless a settings file names it (one it was given, one it would save to, or one whose Name is
    // its display name) or an enabled action of the live scheduler belongs to it or its player: its player
    // stops and goes with its window, the device leaves the scheduler and goes, a level-3 line says so and
    // the notifier's DeviceRemoved follows; a monitor refused for want of room then gets a device. Run by
    // MonitorsChanged and every ReleaseCheckPeriod by a timer. MonitorsChanged ends with DevicesAdded when it
    // added a device.
    void ReleaseLostDevices();

    // Main thread. Gives the display at this index another name and settings file name (a plain file name of
    // the device folder; the .xml extension is forced), at once in the running program and on disk: its
    // settings file is written under the new file name with the new name (the settings it last saved, or its
    // defaults when it has no file), its actions and its player's in the schedule file and the run state
    // follow the new name, and the old file is removed when the file name changed. A kill at any moment
    // leaves the next start one name or the other with everything that goes with it. Raises EVitrelleError,
    // changing nothing, for a name (letter case aside) that another display has, running or in its settings
    // file, and for a file name that is no plain file name or is another display's file (or any other file of
    // the device folder); the file layer's errors when the disk refuses, after taking back what was done.
    // Then the notifier's DeviceRenamed follows, with the display name it had.
    void RenameDevice(int index, const QString& name, const QString& fileName);

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
    // Whether another device may be added for the monitor; logs the refusal once per monitor name.
    bool RoomForDevice(const QString& monitorName);
    // Chooses and applies the settings files of the devices from this position on; those before it are live
    // and keep theirs.
    void ConfigureDevicesFrom(size_t first);
    // A name no device before this position and no schedule source has (nor its player's name).
    QString FreeDisplayName(size_t position, const QString& name) const;
    // Whether a settings file names the device or the live scheduler has an enabled action for it or its
    // player.
    bool DeviceInUse(size_t position) const;
    void ReleaseDevice(size_t position);
    // Lets go of the devices lost long enough (ReleaseLostDevices without the guard); how many.
    int ReleaseExpiredDevices();
    // Guards against re-entry: releases first when asked, then handles the monitors while a report waits.
    void ChangeMonitors(bool releaseFirst);
    void MonitorsChangedOnce();
    void AddPlayer(TVitrelleDevice& device);
    // Raises when the display cannot take the name or the file name; an empty one is not checked.
    void CheckRenameIsFree(int index, const QString& displayName, const QString& fileName,
                           const QString& ownFile) const;
    // A rename interrupted by the end of the program is finished, before the displays read their files.
    void FinishInterruptedRename();
    QString RenameJournalPath() const;

    TAgentPlatform FPlatform;
    // Before everything it tells of, so that it goes last.
    TAgentNotifier FNotifier;
    std::unique_ptr<TVitrelleCenterSettings> FSettings;
    std::unique_ptr<TVitrelleRepository> FRepository;
    std::vector<std::unique_ptr<TVitrelleDevice>> FDevices;
    std::vector<std::unique_ptr<TVitrelleDeviceSettings>> FDeviceSettings;
    std::vector<std::unique_ptr<TVitrellePlayer>> FPlayers;
    std::unique_ptr<TVitrelleScheduler> FScheduler;
    std::unique_ptr<TAgentScheduleSource> FScheduleSource;
    // Names of the monitors of devices whose monitor has gone from the desktop, with the moment it went.
    QHash<QString, QDateTime> FLostMonitors;
    // Monitors on the desktop that got no device because there were MaxDevices already (logged once).
    QSet<QString> FRefusedMonitors;
    // The settings file each device was given at start or when plugged in (only those given one).
    std::unordered_map<const TVitrelleDevice*, QString> FGivenFiles;
    // MonitorsChanged or ReleaseLostDevices is running (a device let go serves events while its player
    // ends) / a report of the monitors waits.
    bool FChangingMonitors = false;
    bool FMonitorsChangedAgain = false;
    std::unique_ptr<QTimer> FReleaseTimer;
};

// Constructs and initialises the agent for the application folder. A failing start-up logs its error, shows
// it through the platform, frees the agent and gives null.
std::unique_ptr<TVitrelleCenterAgent> CreateAgent(const QString& appFolder, TAgentPlatform platform);
