#include "VitrelleDevice.h"

#include "Errors.h"
#include "Log.h"
#include "LogErrors.h"
#include "MainThread.h"
#include "ScheduleAction.h"
#include "ScheduleActionList.h"
#include "ThreadLink.h"
#include "VitrelleScheduler.h"
#include "WorkQueue.h"
#include "XmlHelpers.h"

#include <QThread>

#include <condition_variable>
#include <thread>

namespace {

// The adapter name as the system hands it out: at most 32 characters.
constexpr int MaxDeviceNameLength = 32;

QString Outcome(bool success, const char* successWord)
{
    return success ? QString::fromLatin1(successWord) : QStringLiteral("failed");
}

// On a worker the pause is slept in slices, so that a stop request is seen.
void PauseBeforeSwitching(std::chrono::milliseconds pause)
{
    if (pause.count() <= 0)
        return;
    if (OnMainThread()) {
        QThread::msleep(static_cast<unsigned long>(pause.count()));
        return;
    }
    const auto end = std::chrono::steady_clock::now() + pause;
    for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
        if (WorkerStopRequested())
            throw EVitrelleError(QStringLiteral("Switching all devices was abandoned"));
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(50)));
    }
}

// The display system belongs to the main thread.
bool SwitchMonitors(IDisplaySystem& system, bool on)
{
    bool success = false;
    RunOnMainThread([&] { success = system.SetMonitorPower(on); });
    return success;
}

void LogPowerAll(bool on, bool success)
{
    // The two words are spelled as the log readers of this system expect them.
    WriteLog(TVitrelleDevice::LogSource, 3,
             on ? QStringLiteral("Power on of all devices %1").arg(Outcome(success, "succeeded"))
                : QStringLiteral("Power off of all devices %1").arg(Outcome(success, "suceeded")));
}

} // namespace

TVitrelleDevice::TVitrelleDevice(TDeviceServices services) : FServices(std::move(services))
{
    if (!FServices.Display || !FServices.SerialPorts)
        throw EVitrelleError(QStringLiteral("A display device needs a display system and serial ports"));
    FInfo = std::make_unique<TVitrelleDeviceInfo>();
    FSettings = std::make_unique<TVitrelleDeviceSettings>();
    FControl = std::make_unique<TDeviceControl>(&FSettings->ControlSettings(), FServices.SerialPorts);
    FQueue = std::make_unique<TWorkQueue>(QStringLiteral("Serial line of a display"));
}

TVitrelleDevice::~TVitrelleDevice()
{
    if (FServices.Scheduler)
        if (TVitrelleScheduler* scheduler = FServices.Scheduler())
            scheduler->UnregisterSource(this);
    // An exchange in progress is abandoned (its port closed) and waited for; those waiting never start.
    FQueue.reset();
    FInfo.reset();
    FSettings.reset();
    FControl.reset();
}

QString TVitrelleDevice::GetMonitorDeviceName() const
{
    return Monitor ? Monitor->Name.left(MaxDeviceNameLength) : QString();
}

bool TVitrelleDevice::IsActive() const
{
    const QString name = GetMonitorDeviceName();
    return !name.isEmpty() && TVitrelleDeviceInfo::IsAdapterActive(*FServices.Display, name);
}

bool TVitrelleDevice::ReadInfo()
{
    VC_ASSERT_MAIN_THREAD();
    const QString name = GetMonitorDeviceName();
    return !name.isEmpty() && FInfo->ReadFromSystem(*FServices.Display, name);
}

std::unique_ptr<TDisplayMode> TVitrelleDevice::GetCurrentDisplayMode() const
{
    const QString name = GetMonitorDeviceName();
    if (name.isEmpty())
        return nullptr;
    const std::optional<TSystemDisplayMode> current = FServices.Display->CurrentDisplayMode(name);
    return current ? std::make_unique<TDisplayMode>(*current) : nullptr;
}

std::unique_ptr<std::vector<TDisplayMode>> TVitrelleDevice::GetDisplayModes() const
{
    const QString name = GetMonitorDeviceName();
    std::unique_ptr<std::vector<TDisplayMode>> modes;
    if (!name.isEmpty()) {
        const QList<TSystemDisplayMode> listed = FServices.Display->DisplayModes(name);
        if (!listed.isEmpty()) {
            modes = std::make_unique<std::vector<TDisplayMode>>();
            for (const TSystemDisplayMode& mode : listed)
                modes->emplace_back(mode);
        }
    }
    if (!modes || modes->empty())
        WriteLog(LogSource, 1, QStringLiteral("Error while retrieving the display mode list '%1'").arg(name));
    return modes;
}

bool TVitrelleDevice::SupportsDisplayMode(const TDisplayMode* mode) const
{
    if (mode == nullptr || mode->GetWidth() == 0 || mode->GetHeight() == 0 || mode->GetFrequency() == 0 ||
        mode->GetBitsPerPixel() == 0)
        return false;
    const std::unique_ptr<std::vector<TDisplayMode>> modes = GetDisplayModes();
    if (!modes)
        return false;
    return std::any_of(modes->begin(), modes->end(),
                       [&](const TDisplayMode& listed) { return listed == *mode; });
}

void TVitrelleDevice::SetDisplayMode(const TDisplayMode* mode)
{
    VC_ASSERT_MAIN_THREAD();
    const QString name = GetMonitorDeviceName();
    if (name.isEmpty() || mode == nullptr)
        return;
    const std::unique_ptr<TDisplayMode> current = GetCurrentDisplayMode();
    if (current && *current == *mode)
        return;
    if (!SupportsDisplayMode(mode))
        return;
    FServices.Display->SetDisplayMode(name, mode->ToSystem()); // a refusal leaves the display as it was
}

void TVitrelleDevice::ApplySettings(const TVitrelleDeviceSettings* settings)
{
    if (settings != nullptr && settings != FSettings.get()) {
        *FSettings = *settings;
        // A display keeps the file it was given, also when its name changes later.
        if (FSettings->FileName.isEmpty())
            FSettings->FileName = FSettings->GetFileName();
    }
    // The identity of the display actually present, so that a later save writes that one.
    FSettings->DeviceInfo() = FInfo->WithModelNamed();
    FControl->ApplyComSettings(FSettings->ControlSettings().ComSettings);
    PublishName();
    if (FServices.Scheduler)
        if (TVitrelleScheduler* scheduler = FServices.Scheduler())
            scheduler->RegisterSource(this);
}

QString TVitrelleDevice::GetDisplayName() const
{
    return DisplayNameOf(FSettings->Name);
}

void TVitrelleDevice::PublishName()
{
    VC_ASSERT_MAIN_THREAD();
    QString name = GetDisplayName();
    std::lock_guard lock(FNameMutex);
    FPublishedName = std::move(name);
}

QString TVitrelleDevice::GetSourceName() const
{
    if (OnMainThread())
        return GetDisplayName();
    std::lock_guard lock(FNameMutex);
    return FPublishedName;
}

QString TVitrelleDevice::DisplayNameOf(const QString& name) const
{
    if (!name.isEmpty())
        return name;
    return Monitor ? QStringLiteral("Device %1").arg(Index) : QString();
}

QString TVitrelleDevice::GetCaption() const
{
    return FSettings->Name.isEmpty() ? QStringLiteral("Device %1").arg(Index)
                                     : QStringLiteral("[%1] %2").arg(QString::number(Index), FSettings->Name);
}

QString TVitrelleDevice::GetConfigFileName() const
{
    const QString name = FSettings->GetFileName();
    return ForceXmlExtension(name.isEmpty() ? GetDisplayName() : name);
}

TVitrelleDevice::TCommand TVitrelleDevice::BeginCommand(bool on, const QString& origin)
{
    VC_ASSERT_MAIN_THREAD();
    TCommand command;
    command.Control = FControl->Snapshot();
    command.Record.Time = FServices.Clock ? FServices.Clock->Now() : QDateTime::currentDateTime();
    command.Record.On = on;
    command.DisplayName = GetDisplayName();
    command.Journal = TJournalDisplay{command.DisplayName, Monitor ? Monitor->Name : QString(),
                                      FInfo->GetManufacturer(), FInfo->GetModel(), FInfo->GetSerial()};
    command.Origin = origin;
    std::lock_guard lock(FMutex);
    ++FCommandsInProgress;
    FCommandInProgress = command.Record;
    return command;
}

void TVitrelleDevice::EndCommand(const TCommand& command, const TPowerCommandRecord* record)
{
    std::lock_guard lock(FMutex);
    if (!command.Ended->exchange(true) && --FCommandsInProgress == 0)
        FCommandInProgress.reset();
    if (record != nullptr)
        FLastPowerCommand = *record;
}

bool TVitrelleDevice::RunCommand(const TCommand& command)
{
    TPowerCommandRecord record = command.Record;
    const auto journal = [&] {
        RecordPlayEvent(TPowerRecord{command.Journal, record.On, command.Origin, record.Succeeded,
                                     record.Error, record.Time});
    };
    bool success = false;
    try {
        success = FControl->Power(command.Control, record.On);
    } catch (const EVitrelleError& error) {
        record.Error = error.Message();
        EndCommand(command, &record);
        journal();
        throw; // serial errors pass through
    } catch (const std::exception& error) {
        record.Error = QString::fromUtf8(error.what());
        EndCommand(command, &record);
        journal();
        throw;
    }
    record.Succeeded = success;
    EndCommand(command, &record);
    journal();
    WriteLog(LogSource, 3,
             QStringLiteral("Power %1 of device '%2' %3")
                 .arg(record.On ? QStringLiteral("on") : QStringLiteral("off"), command.DisplayName,
                      Outcome(success, "suceeded")));
    return success;
}

bool TVitrelleDevice::Power(bool on)
{
    if (OnMainThread()) {
        const bool success = RunCommand(BeginCommand(on, ScheduleOrigin));
        if (OnPowerStatusChange)
            OnPowerStatusChange(*this);
        return success;
    }
    // The job may outlive this call when the caller gives up: it holds what it uses.
    struct TState
    {
        TCommand Command;
        bool Success = false;
    };
    auto state = std::make_shared<TState>();
    RunOnMainThread([&] { state->Command = BeginCommand(on, ScheduleOrigin); });
    try {
        FQueue->Run([this, state] { state->Success = RunCommand(state->Command); });
    } catch (...) {
        EndCommand(state->Command, nullptr); // when it never started; nothing otherwise
        throw;
    }
    RunOnMainThread([this] {
        if (OnPowerStatusChange)
            OnPowerStatusChange(*this);
    });
    return state->Success;
}

bool TVitrelleDevice::PowerOn()
{
    return Power(true);
}

bool TVitrelleDevice::PowerOff()
{
    return Power(false);
}

TPowerStatus TVitrelleDevice::GetPowerStatus()
{
    if (OnMainThread())
        return FControl->GetPowerStatus();
    struct TState
    {
        TControlSnapshot Control;
        TPowerStatus Status = pwUnknown;
    };
    auto state = std::make_shared<TState>();
    RunOnMainThread([&] { state->Control = FControl->Snapshot(); });
    FQueue->Run([this, state] { state->Status = FControl->QueryPowerStatus(state->Control); });
    return state->Status;
}

void TVitrelleDevice::PowerAsync(bool on, TPowerDone done, const QString& origin)
{
    VC_ASSERT_MAIN_THREAD();
    auto command = std::make_shared<TCommand>(BeginCommand(on, origin));
    auto success = std::make_shared<bool>(false);
    FQueue->Post([this, command, success] { *success = RunCommand(*command); },
                 [this, success, done = std::move(done)](std::exception_ptr error) {
                     // A command that raised has told the operator nothing yet: the caller shows the error.
                     if (!error && OnPowerStatusChange)
                         OnPowerStatusChange(*this);
                     if (done)
                         done(*success, error);
                 });
}

void TVitrelleDevice::QueryPowerStatusAsync(TStatusDone done)
{
    VC_ASSERT_MAIN_THREAD();
    auto status = std::make_shared<TPowerStatus>(pwUnknown);
    FQueue->Post(
        [this, status, control = FControl->Snapshot()] { *status = FControl->QueryPowerStatus(control); },
        [this, status, done = std::move(done)](std::exception_ptr error) {
            if (!error)
                RecordPlayEvent(TStateRecord{GetDisplayName(), std::nullopt,
                                             *status == pwOn ? 1 : (*status == pwOff ? 0 : -1)});
            if (done)
                done(*status, error);
        });
}

bool TVitrelleDevice::Busy() const
{
    return FQueue->Busy();
}

std::optional<TPowerCommandRecord> TVitrelleDevice::LastPowerCommand() const
{
    std::lock_guard lock(FMutex);
    return FLastPowerCommand;
}

std::optional<TPowerCommandRecord> TVitrelleDevice::PowerCommandInProgress() const
{
    std::lock_guard lock(FMutex);
    return FCommandInProgress;
}

bool TVitrelleDevice::PowerOnAll(IDisplaySystem& system, std::chrono::milliseconds pause)
{
    return PowerAll(true, system, {}, pause);
}

bool TVitrelleDevice::PowerOffAll(IDisplaySystem& system, std::chrono::milliseconds pause)
{
    return PowerAll(false, system, {}, pause);
}

bool TVitrelleDevice::PowerAll(bool on, IDisplaySystem& system, const TDeviceList& devices,
                               std::chrono::milliseconds pause)
{
    const auto hasCode = [on](const TVitrelleDevice& device) {
        const TDeviceControlSettings& control = device.Settings().ControlSettings();
        return !(on ? control.PowerOn : control.PowerOff).isEmpty();
    };
    const auto logError = [](std::exception_ptr error) {
        LogErrors(LogSource, [&] { std::rethrow_exception(error); });
    };
    if (OnMainThread()) {
        if (devices)
            for (TVitrelleDevice* device : devices())
                if (device != nullptr && hasCode(*device))
                    LogErrors(LogSource, [&] { device->Power(on); });
        PauseBeforeSwitching(pause);
        const bool success = SwitchMonitors(system, on);
        LogPowerAll(on, success);
        return success;
    }

    // The displays answer at their own pace, each on its own worker; this one waits for the last.
    struct TWaiting
    {
        std::mutex Mutex;
        std::condition_variable Changed;
        int Left = 0;
    };
    auto waiting = std::make_shared<TWaiting>();
    if (devices)
        RunOnMainThread([&] {
            for (TVitrelleDevice* device : devices()) {
                if (device == nullptr || !hasCode(*device))
                    continue;
                {
                    std::lock_guard lock(waiting->Mutex);
                    ++waiting->Left;
                }
                device->PowerAsync(
                    on,
                    [waiting, logError](bool, std::exception_ptr error) {
                        if (error)
                            logError(error);
                        std::lock_guard lock(waiting->Mutex);
                        --waiting->Left;
                        waiting->Changed.notify_all();
                    },
                    ScheduleOrigin);
            }
        });
    PauseBeforeSwitching(pause);
    const bool success = SwitchMonitors(system, on);
    {
        std::unique_lock lock(waiting->Mutex);
        while (waiting->Left > 0) {
            waiting->Changed.wait_for(lock, std::chrono::milliseconds(50));
            if (waiting->Left > 0 && WorkerStopRequested())
                throw EVitrelleError(QStringLiteral("Switching all devices was abandoned"));
        }
    }
    LogPowerAll(on, success);
    return success;
}

std::unique_ptr<TScheduleAction> TVitrelleDevice::CreateDefaultAction(qint32 actionCode)
{
    if (actionCode != PowerOnAction && actionCode != PowerOffAction)
        return nullptr;
    return TScheduleAction::CreateAction(this, actionCode, 0,
                                         actionCode == PowerOnAction ? QTime(8, 0) : QTime(23, 0), false);
}

QString TVitrelleDevice::GetActionDescription(const TScheduleAction* action) const
{
    if (action == nullptr)
        return {};
    if (action->Action == PowerOnAction)
        return QStringLiteral("Power on");
    if (action->Action == PowerOffAction)
        return QStringLiteral("Power off");
    return {};
}

void TVitrelleDevice::FilterActions(TScheduleActionList& actions)
{
    // Both power actions due in one pass: only the later one runs.
    if (actions.Count() == 2)
        actions.Delete(0);
}

bool TVitrelleDevice::ExecuteAction(TScheduleAction* action)
{
    if (action == nullptr)
        return false;
    if (action->Action == PowerOnAction)
        return PowerOn();
    if (action->Action == PowerOffAction)
        return PowerOff();
    return false;
}
