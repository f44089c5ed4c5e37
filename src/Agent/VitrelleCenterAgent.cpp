#include "VitrelleCenterAgent.h"

#include "ConfigureDevices.h"
#include "DiapositiveType.h"
#include "Errors.h"
#include "Log.h"
#include "LogErrors.h"
#include "MainThread.h"
#include "Paths.h"
#include "XmlDocument.h"
#include "XmlHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace {

// A configured path resolved against the current folder, with a trailing separator; created when missing.
QString MakeFolder(const QString& path)
{
    const QString absolute = IncludeTrailingPathDelimiter(AbsolutePath(path));
    ForceFolder(absolute);
    return absolute;
}

} // namespace

void TAgentPlatform::CheckComplete() const
{
    const auto require = [](bool present, const char* entry) {
        if (!present)
            throw EVitrelleError(QStringLiteral("The agent's platform has no %1").arg(QLatin1String(entry)));
    };
    require(Session != nullptr, "Session");
    require(Errors != nullptr, "Errors");
    require(Clock != nullptr, "Clock");
    require(SleepInhibitor != nullptr, "SleepInhibitor");
    require(Network != nullptr, "Network");
    require(Downloaders != nullptr, "Downloaders");
    require(Display != nullptr, "Display");
    require(SerialPorts != nullptr, "SerialPorts");
    require(ScreenSaver != nullptr, "ScreenSaver");
    require(SlideViews != nullptr, "SlideViews");
    require(SlideClock != nullptr, "SlideClock");
}

namespace {
TAgentPlatform Checked(TAgentPlatform platform)
{
    platform.CheckComplete();
    return platform;
}
} // namespace

TVitrelleCenterAgent::TVitrelleCenterAgent(const QString& appFolder, TAgentPlatform platform)
    : FPlatform(Checked(std::move(platform))),
      FSettings(std::make_unique<TVitrelleCenterSettings>(appFolder)),
      FRepository(std::make_unique<TVitrelleRepository>(
          *FSettings, TRepositoryServices{[this] { return FScheduler.get(); }, FPlatform.Network,
                                          FPlatform.Downloaders, FPlatform.Clock})),
      FScheduler(std::make_unique<TVitrelleScheduler>(FPlatform.Clock, FPlatform.SleepInhibitor)),
      FScheduleSource(
          std::make_unique<TAgentScheduleSource>(*FPlatform.Display, FPlatform.PowerAllPause, &FDevices))
{
}

TVitrelleCenterAgent::~TVitrelleCenterAgent()
{
    FPlatform.Display->SetOnMonitorsChanged(nullptr);
    FReleaseTimer.reset();
    FScheduler.reset(); // stops the tick, serving an action that is being handed over
    // Next, and not after the devices: a player points to its device, the repository and the slide types,
    // and its clock's last steps must not outlive them.
    FPlayers.clear();
    // Before the slide types: a running media download reads the resources of the types.
    FRepository.reset();
    FDevices.clear();
    FDeviceSettings.clear();
    TDiapositiveType::FreeTypes();
    // The folders were this agent's: nothing reads templates or documents through them any more.
    TDiapositiveType::SetTemplateFolder(QString());
    SetXmlReadableFolders({});
    FSettings.reset();
}

void TVitrelleCenterAgent::Initialize()
{
    CheckXmlLibrary();
    InitializeLog(3);
    if (IsRemoteDesktop())
        WriteLog(TVitrelleCenterAgent::LogSource, 3, QStringLiteral("Remote desktop detected"));
    // An unparsable file gives false and keeps the defaults; a missing one is logged.
    LogErrors(TVitrelleCenterSettings::LogSource, [this] { FSettings->Load(); });
    // Before anything is removed from or written into the cache.
    const bool cacheUsable = CheckFolders();
    LogErrors(TVitrelleCenterSettings::LogSource, [this] { FSettings->RemoveLeftoverFiles(); });
    // Before the displays read their files and the schedule is read: both may be half-way through a rename.
    LogErrors(LogSource, [this] { FinishInterruptedRename(); });
    DetectDisplayDevices();
    LoadDeviceSettings();
    ConfigureDevices();
    CreatePlayers();
    // The vitrelle list (fetched when there is no cached copy) and one downloader per vitrelle. A content
    // server that is down or a damaged list file must not keep the displays dark and the schedule dead: the
    // error is logged and start-up goes on with what the repository has.
    try {
        if (cacheUsable) {
            FRepository->LoadList();
            FRepository->PrepareDownloaders();
        }
    } catch (const EVitrelleListError&) {
        // already logged by the list
    } catch (const EDownloadCancelled& cancelled) {
        WriteLog(TVitrelleRepository::LogSource, 3, cancelled.Message()); // the program is asked to end
    } catch (const EVitrelleError& error) {
        WriteLog(TVitrelleRepository::LogSource, 1, error.Message());
    }
    // Slide types: templates are read from their folder (created when missing); a template may read files
    // of that folder and of the cache, nothing else.
    const QString templateFolder = GetTemplateFolder();
    TDiapositiveType::SetTemplateFolder(templateFolder);
    SetXmlReadableFolders({templateFolder, AbsolutePath(FSettings->GetRepositoryPath())});
    TDiapositiveType::LoadTypes(AbsolutePath(FSettings->GetTypeFilePath())); // logs its own errors
    FScheduler->RegisterSource(FScheduleSource.get());
    // Read after the sources have registered, since actions of unknown sources are dropped. A missing or
    // unreadable schedule is no error: the schedule starts empty. The run state beside it first, so that a
    // restart does not run again what already ran before it.
    const QString scheduleFile = FSettings->GetScheduleFileName();
    FScheduler->UseStateFile(TScheduleRunState::PathBeside(scheduleFile));
    FScheduler->LoadFromFile(scheduleFile);
    FScheduler->StartTicking();
    FPlatform.Display->SetOnMonitorsChanged([this] { LogErrors(LogSource, [this] { MonitorsChanged(); }); });
    FReleaseTimer = std::make_unique<QTimer>();
    FReleaseTimer->setInterval(ReleaseCheckPeriod);
    QObject::connect(FReleaseTimer.get(), &QTimer::timeout,
                     [this] { LogErrors(LogSource, [this] { ReleaseLostDevices(); }); });
    FReleaseTimer->start();
    WriteLog(TVitrelleCenterAgent::LogSource, 3, QStringLiteral("VitrelleCenter successfully initialized"));
}

bool TVitrelleCenterAgent::CheckFolders()
{
    const QString conflict = FSettings->FolderConflict();
    if (conflict.isEmpty())
        return true;
    // An operator's slip: the server's files must not replace the program's own, and the displays should
    // not go dark for it. This run uses the default cache or list file instead (where the content was before
    // the slip, most likely), changing as little as it can; the settings file keeps what was set, for the
    // operator to correct.
    const auto useDefaultList = [](TVitrelleCenterSettings& settings) {
        settings.SetVitrelleListFilePath({});
    };
    const auto useDefaultCache = [](TVitrelleCenterSettings& settings) { settings.SetRepositoryPath({}); };
    const auto useBoth = [&](TVitrelleCenterSettings& settings) {
        useDefaultList(settings);
        useDefaultCache(settings);
    };
    const std::function<void(TVitrelleCenterSettings&)> fallbacks[] = {useDefaultList, useDefaultCache,
                                                                       useBoth};
    QString left;
    for (const auto& fallback : fallbacks) {
        const std::unique_ptr<TVitrelleCenterSettings> trial = FSettings->Clone();
        fallback(*trial);
        left = trial->FolderConflict();
        if (!left.isEmpty())
            continue;
        FSettings->Assign(trial.get());
        WriteLog(LogSource, 1,
                 QStringLiteral("%1. This run uses the cache folder %2 and the vitrelle list file %3")
                     .arg(conflict,
                          IncludeTrailingPathDelimiter(AbsolutePath(FSettings->GetRepositoryPath())),
                          AbsolutePath(FSettings->GetVitrelleListFilePath())));
        return true;
    }
    WriteLog(LogSource, 1,
             (left == conflict
                  ? conflict
                  : QStringLiteral("%1. The defaults cannot be used either: %2").arg(conflict, left)) +
                 QStringLiteral(". No vitrelle is downloaded or shown"));
    return false;
}

TVitrelleDevice& TVitrelleCenterAgent::Devices(int index) const
{
    if (index < 0 || index >= DeviceCount())
        throw EOutOfRange(QStringLiteral("Device index %1 out of range (0 to %2)")
                              .arg(QString::number(index), QString::number(DeviceCount() - 1)));
    return *FDevices[static_cast<size_t>(index)];
}

TVitrellePlayer& TVitrelleCenterAgent::Players(int index) const
{
    if (index < 0 || index >= PlayerCount())
        throw EOutOfRange(QStringLiteral("Player index %1 out of range (0 to %2)")
                              .arg(QString::number(index), QString::number(PlayerCount() - 1)));
    return *FPlayers[static_cast<size_t>(index)];
}

bool TVitrelleCenterAgent::PlayVitrelle(const QString& id, int deviceIndex, qint32 seconds)
{
    if (id.isEmpty())
        return false;
    TVitrellePlayer& player = Players(deviceIndex);
    player.SetSlideDuration(seconds);
    return player.Play(id);
}

void TVitrelleCenterAgent::StopPlayer(int deviceIndex)
{
    Players(deviceIndex).StopPlaying(true);
}

TVitrelleList* TVitrelleCenterAgent::LoadVitrelleList()
{
    VC_ASSERT_MAIN_THREAD();
    TVitrelleList* list = FRepository->LoadList();
    if (list != nullptr)
        Q_EMIT FNotifier.VitrelleListChanged();
    return list;
}

void TVitrelleCenterAgent::CreatePlayers()
{
    FPlayers.clear();
    for (const std::unique_ptr<TVitrelleDevice>& device : FDevices)
        AddPlayer(*device);
}

void TVitrelleCenterAgent::AddPlayer(TVitrelleDevice& device)
{
    TPlayerServices services;
    services.SlideViews = FPlatform.SlideViews;
    services.ScreenSaver = FPlatform.ScreenSaver;
    services.Scheduler = [this] { return FScheduler.get(); };
    services.Tick = FPlatform.SlideTick;
    services.Clock = FPlatform.SlideClock;
    services.WallClock = FPlatform.Clock;
    services.ScreensFolder = QDir(FSettings->GetBasePath()).filePath(QStringLiteral("Screens"));
    FPlayers.push_back(std::make_unique<TVitrellePlayer>(&device, *FRepository, std::move(services)));
}

void TVitrelleCenterAgent::MonitorsChanged()
{
    VC_ASSERT_MAIN_THREAD();
    FMonitorsChangedAgain = true;
    if (!FChangingMonitors)
        ChangeMonitors(false);
}

void TVitrelleCenterAgent::ChangeMonitors(bool releaseFirst)
{
    // A player let go serves events while it ends, a report of the monitors or the release timer among
    // them: they are handled after this pass, never inside it.
    FChangingMonitors = true;
    const std::unique_ptr<bool, void (*)(bool*)> done(&FChangingMonitors, [](bool* busy) { *busy = false; });
    // A monitor refused for want of room gets the room a device let go leaves.
    if (releaseFirst && ReleaseExpiredDevices() > 0 && !FRefusedMonitors.isEmpty())
        FMonitorsChangedAgain = true;
    while (FMonitorsChangedAgain) {
        FMonitorsChangedAgain = false;
        MonitorsChangedOnce();
    }
}

void TVitrelleCenterAgent::MonitorsChangedOnce()
{
    const QList<TDesktopMonitor> monitors = FPlatform.Display->Monitors();
    QSet<QString> known;
    for (size_t i = 0; i < FDevices.size(); ++i) {
        TVitrelleDevice& device = *FDevices[i];
        if (!device.Monitor)
            continue;
        const QString name = device.Monitor->Name;
        known.insert(name);
        const auto found = std::find_if(monitors.begin(), monitors.end(),
                                        [&](const TDesktopMonitor& monitor) { return monitor.Name == name; });
        if (found == monitors.end()) {
            // Its window stays where it was, and the show goes on there, until the monitor comes back or the
            // device is let go.
            if (!FLostMonitors.contains(name)) {
                WriteLog(LogSource, 2,
                         QStringLiteral("Display device '%1' has lost its monitor '%2'")
                             .arg(device.GetDisplayName(), name));
                FLostMonitors.insert(name, FPlatform.Clock->Now());
                if (i < FPlayers.size())
                    FPlayers[i]->SetDisplayPresent(false);
            }
            continue;
        }
        const bool back = FLostMonitors.remove(name) > 0;
        if (back && i < FPlayers.size())
            FPlayers[i]->SetDisplayPresent(true);
        const bool moved = found->Geometry != device.Monitor->Geometry;
        device.Monitor = *found;
        const bool modeApplied = i < FPlayers.size() && FPlayers[i]->MonitorChanged();
        if (back || moved || modeApplied)
            WriteLog(LogSource, 3,
                     QStringLiteral("Display device '%1' matched to monitor '%2' again: %3x%4 at %5,%6%7")
                         .arg(device.GetDisplayName(), name, QString::number(found->Geometry.width()),
                              QString::number(found->Geometry.height()), QString::number(found->Geometry.x()),
                              QString::number(found->Geometry.y()),
                              modeApplied ? QStringLiteral(", display mode applied again") : QString()));
    }
    // Before the new monitors: a device let go makes room for them.
    ReleaseExpiredDevices();
    QSet<QString> present;
    for (const TDesktopMonitor& monitor : monitors)
        present.insert(monitor.Name);
    // Only monitors on the desktop are remembered as refused: the set stays small however many come and go.
    FRefusedMonitors.intersect(present);

    const size_t firstNew = FDevices.size();
    for (qsizetype i = 0; i < monitors.size(); ++i) {
        if (known.contains(monitors[i].Name) || !RoomForDevice(monitors[i].Name))
            continue;
        if (TVitrelleDevice* added = AddDevice(monitors[i], i))
            WriteLog(LogSource, 3,
                     QStringLiteral("New display device '%1' on monitor '%2'")
                         .arg(added->GetDisplayName(), monitors[i].Name));
    }
    if (FDevices.size() == firstNew)
        return;
    ConfigureDevicesFrom(firstNew);
    for (size_t i = firstNew; i < FDevices.size(); ++i)
        AddPlayer(*FDevices[i]);
    Q_EMIT FNotifier.DevicesAdded();
}

bool TVitrelleCenterAgent::RoomForDevice(const QString& monitorName)
{
    if (DeviceCount() < MaxDevices) {
        FRefusedMonitors.remove(monitorName);
        return true;
    }
    if (!FRefusedMonitors.contains(monitorName)) {
        FRefusedMonitors.insert(monitorName);
        WriteLog(LogSource, 2,
                 QStringLiteral("Monitor '%1' gets no display device: there are %2 already")
                     .arg(monitorName, QString::number(MaxDevices)));
    }
    return false;
}

void TVitrelleCenterAgent::ReleaseLostDevices()
{
    VC_ASSERT_MAIN_THREAD();
    if (!FChangingMonitors)
        ChangeMonitors(true);
}

int TVitrelleCenterAgent::ReleaseExpiredDevices()
{
    int released = 0;
    const QDateTime now = FPlatform.Clock->Now();
    const qint64 after = std::chrono::duration_cast<std::chrono::seconds>(LostDeviceRelease).count();
    for (size_t i = FDevices.size(); i-- > 0;) {
        if (i >= FDevices.size() || !FDevices[i]->Monitor)
            continue;
        const auto lost = FLostMonitors.constFind(FDevices[i]->Monitor->Name);
        if (lost == FLostMonitors.cend() || lost.value().secsTo(now) < after || DeviceInUse(i))
            continue;
        ReleaseDevice(i);
        ++released;
    }
    return released;
}

bool TVitrelleCenterAgent::DeviceInUse(size_t position) const
{
    const TVitrelleDevice& device = *FDevices[position];
    if (FGivenFiles.contains(&device))
        return true;
    const QString name = device.GetDisplayName();
    for (const auto& settings : FDeviceSettings)
        if (settings->Name.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    // A file saved since the start.
    if (QFileInfo::exists(GetDeviceFolder() + device.GetConfigFileName()))
        return true;
    const auto enabled = [this](const IScheduleSource* source) {
        const TVitrelleScheduler::TKeptActions kept = FScheduler->KeepActionsOf(source);
        return std::any_of(kept.Actions.begin(), kept.Actions.end(),
                           [](const auto& action) { return action->Enabled; });
    };
    return enabled(&device) || (position < FPlayers.size() && enabled(FPlayers[position].get()));
}

void TVitrelleCenterAgent::ReleaseDevice(size_t position)
{
    const auto at = static_cast<std::ptrdiff_t>(position);
    std::unique_ptr<TVitrelleDevice> device = std::move(FDevices[position]);
    FDevices.erase(FDevices.begin() + at);
    std::unique_ptr<TVitrellePlayer> player;
    if (position < FPlayers.size()) {
        player = std::move(FPlayers[position]);
        FPlayers.erase(FPlayers.begin() + at);
    }
    const QString monitor = device->Monitor ? device->Monitor->Name : QString();
    FLostMonitors.remove(monitor);
    FGivenFiles.erase(device.get());
    WriteLog(
        LogSource, 3,
        QStringLiteral("Display device '%1' is let go: its monitor '%2' has been gone for %3 minutes or more")
            .arg(device->GetDisplayName(), monitor,
                 QString::number(
                     std::chrono::duration_cast<std::chrono::minutes>(LostDeviceRelease).count())));
    player.reset(); // leaves the scheduler, stops and closes its window
    device.reset(); // leaves the scheduler; an exchange in progress is abandoned
    // Once both have left the scheduler: the pages' copies of the schedule drop their actions with them.
    Q_EMIT FNotifier.DeviceRemoved(static_cast<int>(position));
}

void TVitrelleCenterAgent::DetectDisplayDevices()
{
    const QList<TDesktopMonitor> monitors = FPlatform.Display->Monitors();
    WriteLog(LogSource, 3, QStringLiteral("%1 detected display devices").arg(monitors.size()));
    FPlayers.clear(); // they play on the devices
    FDevices.clear();
    FLostMonitors.clear();
    FRefusedMonitors.clear();
    FGivenFiles.clear();
    for (qsizetype i = 0; i < monitors.size(); ++i)
        if (RoomForDevice(monitors[i].Name))
            AddDevice(monitors[i], i);
}

TVitrelleDevice* TVitrelleCenterAgent::AddDevice(const TDesktopMonitor& monitor, qsizetype position)
{
    auto device = std::make_unique<TVitrelleDevice>(TDeviceServices{
        FPlatform.Display, FPlatform.SerialPorts, [this] { return FScheduler.get(); }, FPlatform.Clock});
    device->Monitor = monitor;
    if (!device->IsActive())
        return nullptr;
    // The lowest number no live device has: a display's default name "Device N" never changes while it
    // lives.
    int number = 1;
    while (std::any_of(FDevices.begin(), FDevices.end(),
                       [&](const auto& other) { return other->Index == number; }))
        ++number;
    device->Index = number;
    device->PublishName();
    TVitrelleDevice& added = *FDevices.emplace_back(std::move(device));
    added.OnPowerStatusChange = [this](TVitrelleDevice& changed) {
        const auto found = std::find_if(FDevices.begin(), FDevices.end(),
                                        [&](const auto& device) { return device.get() == &changed; });
        if (found != FDevices.end())
            Q_EMIT FNotifier.PowerStatusChanged(static_cast<int>(found - FDevices.begin()));
    };
    // One display that cannot be read must not keep the others dark: it goes on with what was read.
    LogErrors(TVitrelleDevice::LogSource, [&] {
        if (added.ReadInfo())
            WriteLog(LogSource, 3,
                     QStringLiteral("Display device <%1> properties:\r\nModel name: %2\r\nManufacturer: "
                                    "%3\r\nSerial number: %4")
                         .arg(QString::number(position), added.Info().GetModel(),
                              added.Info().GetManufacturer(), added.Info().GetSerial()));
        if (const std::unique_ptr<TDisplayMode> mode = added.GetCurrentDisplayMode())
            WriteLog(LogSource, 3,
                     QStringLiteral("Display device '%1' current display mode: %2x%3 - %4 bits - %5 Hz")
                         .arg(added.GetDisplayName(), QString::number(mode->GetWidth()),
                              QString::number(mode->GetHeight()), QString::number(mode->GetBitsPerPixel()),
                              QString::number(mode->GetFrequency())));
    });
    return &added;
}

void TVitrelleCenterAgent::LoadDeviceSettings()
{
    WriteLog(LogSource, 3, QStringLiteral("Load display devices configurations"));
    FDeviceSettings.clear();
    const QString folder = GetDeviceFolder();
    // Sorted, so that ties between equally good files are decided the same way on every start.
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.xml")},
                                                     QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& file : files) {
        auto settings = std::make_unique<TVitrelleDeviceSettings>();
        bool loaded = false;
        LogErrors(TVitrelleDeviceSettings::LogSource,
                  [&] { loaded = settings->LoadFromFile(folder + file); });
        if (loaded)
            FDeviceSettings.push_back(std::move(settings));
    }
}

void TVitrelleCenterAgent::ConfigureDevices()
{
    ConfigureDevicesFrom(0);
}

void TVitrelleCenterAgent::ConfigureDevicesFrom(size_t first)
{
    QList<TDetectedDevice> detected;
    for (size_t i = first; i < FDevices.size(); ++i)
        detected.append(
            TDetectedDevice{FDevices[i]->Index, FDevices[i]->GetDisplayName(), &FDevices[i]->Info()});
    QList<TSettingsCandidate> candidates;
    for (const auto& settings : FDeviceSettings) {
        TSettingsCandidate candidate{&settings->DeviceInfo(), settings->GetFileName()};
        // A live device holds the file it was given, and the one it saves to.
        for (size_t i = 0; i < first && candidate.HeldBy.isEmpty(); ++i) {
            const auto given = FGivenFiles.find(FDevices[i].get());
            if ((given != FGivenFiles.end() && given->second == candidate.FileName) ||
                FDevices[i]->GetConfigFileName() == candidate.FileName)
                candidate.HeldBy = FDevices[i]->GetDisplayName();
        }
        candidates.append(candidate);
    }
    const TDeviceConfiguration configuration = ::ConfigureDevices(detected, candidates);
    for (const QString& line : configuration.LogLines)
        WriteLog(LogSource, 3, line);
    for (size_t i = first; i < FDevices.size(); ++i) {
        TVitrelleDevice& device = *FDevices[i];
        const qsizetype chosen = configuration.Chosen.value(static_cast<qsizetype>(i - first), -1);
        const TVitrelleDeviceSettings* file =
            chosen < 0 ? nullptr : FDeviceSettings[static_cast<size_t>(chosen)].get();
        // The name is made unique before the device registers under it.
        const QString name = device.DisplayNameOf(file != nullptr ? file->Name : device.Settings().Name);
        const QString free = FreeDisplayName(i, name);
        if (free != name)
            WriteLog(LogSource, 2,
                     QStringLiteral("Display device '%1' on monitor '%2' is called '%3': another display or "
                                    "schedule source is called '%1'%4")
                         .arg(name, device.Monitor ? device.Monitor->Name : QString(), free,
                              file != nullptr
                                  ? QStringLiteral(" (its file %1 keeps the name)").arg(file->GetFileName())
                                  : QString()));
        if (file == nullptr) {
            if (free != name)
                device.Settings().Name = free;
            device.ApplySettings(nullptr);
            continue;
        }
        FGivenFiles[&device] = file->GetFileName();
        if (free == name) {
            device.ApplySettings(file);
            continue;
        }
        TVitrelleDeviceSettings renamed = *file;
        renamed.Name = free;
        device.ApplySettings(&renamed);
    }
}

QString TVitrelleCenterAgent::FreeDisplayName(size_t position, const QString& name) const
{
    QSet<QString> taken;
    const auto take = [&](const QString& used) { taken.insert(used.toCaseFolded()); };
    for (size_t i = 0; i < position && i < FDevices.size(); ++i) {
        take(FDevices[i]->GetDisplayName());
        take(TVitrellePlayer::SourceNameOf(FDevices[i]->GetDisplayName()));
    }
    const TVitrelleDevice* device = position < FDevices.size() ? FDevices[position].get() : nullptr;
    const TVitrellePlayer* player = position < FPlayers.size() ? FPlayers[position].get() : nullptr;
    for (const IScheduleSource* source : FScheduler->Sources())
        if (source != device && source != player)
            take(source->GetSourceName());
    const auto isFree = [&](const QString& candidate) {
        return !taken.contains(candidate.toCaseFolded()) &&
               !taken.contains(TVitrellePlayer::SourceNameOf(candidate).toCaseFolded());
    };
    if (isFree(name))
        return name;
    for (int number = 2;; ++number) {
        const QString candidate = QStringLiteral("%1 (%2)").arg(name, QString::number(number));
        if (isFree(candidate))
            return candidate;
    }
}

QString TVitrelleCenterAgent::GetDeviceFolder() const
{
    return MakeFolder(FSettings->GetDevicePath());
}

QString TVitrelleCenterAgent::GetTemplateFolder() const
{
    return MakeFolder(FSettings->GetTemplatePath());
}

void TVitrelleCenterAgent::CheckXmlLibrary() const
{
    bool available = false;
    try {
        available = FPlatform.Session->XmlLibraryAvailable();
    } catch (const std::exception&) {
        available = false; // any failure of the check means the same to the operator
    }
    if (!available)
        throw EVitrelleError(
            QStringLiteral("VitrelleCenter needs the libxml2 and libxslt libraries to be "
                           "installed.\r\nPlease run the setup again to install these libraries."));
}

bool TVitrelleCenterAgent::IsRemoteDesktop() const
{
    return FPlatform.Session->IsRemoteDesktop();
}

namespace {
// On a kiosk nobody may be looking at the screen: the log keeps what the box shows (the log exists from the
// third step on; before that the line goes nowhere).
void ReportStartupError(const TVitrelleCenterAgent& agent, const QString& message)
{
    WriteLog(TVitrelleCenterAgent::LogSource, 1, message);
    agent.Platform().Errors->ShowError(message);
}
} // namespace

std::unique_ptr<TVitrelleCenterAgent> CreateAgent(const QString& appFolder, TAgentPlatform platform)
{
    auto agent = std::make_unique<TVitrelleCenterAgent>(appFolder, std::move(platform));
    try {
        agent->Initialize();
    } catch (const EVitrelleError& error) {
        ReportStartupError(*agent, error.Message());
        return nullptr;
    } catch (const std::exception& error) {
        ReportStartupError(*agent, QString::fromUtf8(error.what()));
        return nullptr;
    }
    return agent;
}
