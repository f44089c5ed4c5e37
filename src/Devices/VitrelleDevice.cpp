#include "VitrelleDevice.h"

#include "Errors.h"
#include "Log.h"
#include "MainThread.h"
#include "ScheduleAction.h"
#include "ScheduleActionList.h"
#include "VitrelleScheduler.h"
#include "XmlHelpers.h"

#include <QThread>

namespace {

// The adapter name as the system hands it out: at most 32 characters.
constexpr int MaxDeviceNameLength = 32;

QString Outcome(bool success, const char* successWord)
{
    return success ? QString::fromLatin1(successWord) : QStringLiteral("failed");
}

bool PowerAll(IDisplaySystem& system, bool on, std::chrono::milliseconds pause)
{
    VC_ASSERT_MAIN_THREAD();
    if (pause.count() > 0)
        QThread::msleep(static_cast<unsigned long>(pause.count()));
    const bool success = system.SetMonitorPower(on);
    // The two words are spelled as the log readers of this system expect them.
    WriteLog(TVitrelleDevice::LogSource, 3,
             on ? QStringLiteral("Power on of all devices %1").arg(Outcome(success, "succeeded"))
                : QStringLiteral("Power off of all devices %1").arg(Outcome(success, "suceeded")));
    return success;
}

} // namespace

TVitrelleDevice::TVitrelleDevice(TDeviceServices services) : FServices(std::move(services))
{
    if (!FServices.Display || !FServices.SerialPorts)
        throw EVitrelleError(QStringLiteral("A display device needs a display system and serial ports"));
    FInfo = std::make_unique<TVitrelleDeviceInfo>();
    FSettings = std::make_unique<TVitrelleDeviceSettings>();
    FControl = std::make_unique<TDeviceControl>(&FSettings->ControlSettings(), FServices.SerialPorts);
}

TVitrelleDevice::~TVitrelleDevice()
{
    if (FServices.Scheduler)
        if (TVitrelleScheduler* scheduler = FServices.Scheduler())
            scheduler->UnregisterSource(this);
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

bool TVitrelleDevice::SupportsDisplayMode(const IDisplayMode* mode) const
{
    if (mode == nullptr || mode->GetWidth() == 0 || mode->GetHeight() == 0 || mode->GetFrequency() == 0 ||
        mode->GetBitsPerPixel() == 0)
        return false;
    const std::unique_ptr<std::vector<TDisplayMode>> modes = GetDisplayModes();
    if (!modes)
        return false;
    return std::any_of(modes->begin(), modes->end(),
                       [&](const TDisplayMode& listed) { return listed.Equals(mode); });
}

void TVitrelleDevice::SetDisplayMode(const IDisplayMode* mode)
{
    VC_ASSERT_MAIN_THREAD();
    const QString name = GetMonitorDeviceName();
    if (name.isEmpty() || mode == nullptr)
        return;
    const std::unique_ptr<TDisplayMode> current = GetCurrentDisplayMode();
    if (current && current->Equals(mode))
        return;
    if (!SupportsDisplayMode(mode))
        return;
    FServices.Display->SetDisplayMode(name,
                                      TDisplayMode(mode->GetWidth(), mode->GetHeight(), mode->GetFrequency(),
                                                   mode->GetBitsPerPixel())
                                          .ToSystem()); // a refusal leaves the display as it was
}

void TVitrelleDevice::ApplySettings(const TVitrelleDeviceSettings* settings)
{
    if (settings != nullptr)
        FSettings->Assign(settings);
    StoredName = FSettings->Name;
    // The identity of the display actually present, so that a later save writes that one.
    FSettings->DeviceInfo().Assign(FInfo.get());
    if (FServices.Scheduler)
        if (TVitrelleScheduler* scheduler = FServices.Scheduler())
            scheduler->RegisterSource(this);
}

QString TVitrelleDevice::GetDisplayName() const
{
    return DisplayNameOf(FSettings->Name);
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

bool TVitrelleDevice::Power(bool on)
{
    VC_ASSERT_MAIN_THREAD();
    TPowerCommandRecord record;
    record.Time = FServices.Clock ? FServices.Clock->Now() : QDateTime::currentDateTime();
    record.On = on;
    bool success = false;
    try {
        success = on ? FControl->PowerOn() : FControl->PowerOff();
    } catch (const EVitrelleError& error) {
        record.Error = error.Message();
        FLastPowerCommand = record;
        throw; // serial errors pass through
    } catch (const std::exception& error) {
        record.Error = QString::fromUtf8(error.what());
        FLastPowerCommand = record;
        throw;
    }
    record.Succeeded = success;
    FLastPowerCommand = record;
    WriteLog(LogSource, 3,
             QStringLiteral("Power %1 of device '%2' %3")
                 .arg(on ? QStringLiteral("on") : QStringLiteral("off"), GetDisplayName(),
                      Outcome(success, "suceeded")));
    if (OnPowerStatusChange)
        OnPowerStatusChange(*this);
    return success;
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
    return FControl->GetPowerStatus();
}

bool TVitrelleDevice::PowerOnAll(IDisplaySystem& system, std::chrono::milliseconds pause)
{
    return PowerAll(system, true, pause);
}

bool TVitrelleDevice::PowerOffAll(IDisplaySystem& system, std::chrono::milliseconds pause)
{
    return PowerAll(system, false, pause);
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
