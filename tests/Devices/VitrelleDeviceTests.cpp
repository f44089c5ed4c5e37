#include "FakeSerialPorts.h"
#include "LogCapture.h"
#include "ManualClock.h"
#include "ScheduleActionList.h"
#include "SimulatedDisplaySystem.h"
#include "VitrelleDevice.h"
#include "VitrelleScheduler.h"

#include <gtest/gtest.h>

namespace {

class Device : public ::testing::Test
{
protected:
    Device()
    {
        auto& output = System->AddOutput("HDMI-1");
        output.Modes = {{1920, 1080, 60, 32}, {1280, 720, 60, 32}, {1280, 720, 60, 32}};
        output.Current = TSystemDisplayMode{1920, 1080, 60, 32};
    }

    std::unique_ptr<TVitrelleDevice> Make(const QString& name = {}, int index = 1, bool withMonitor = true)
    {
        auto device =
            std::make_unique<TVitrelleDevice>(TDeviceServices{System, Ports, [this] { return &Scheduler; }});
        device->Index = index;
        if (withMonitor)
            device->Monitor = System->Monitors().value(0);
        device->Settings().Name = name;
        return device;
    }

    std::shared_ptr<TSimulatedDisplaySystem> System = std::make_shared<TSimulatedDisplaySystem>();
    std::shared_ptr<TFakeSerialPorts> Ports = std::make_shared<TFakeSerialPorts>();
    TVitrelleScheduler Scheduler{std::make_shared<TManualClock>()};
    TLogCapture Log;
};

} // namespace

TEST_F(Device, NamesCaptionsAndFileNames)
{
    const auto unnamed = Make({}, 2);
    EXPECT_EQ(unnamed->GetDisplayName(), "Device 2");
    EXPECT_EQ(unnamed->GetCaption(), "Device 2");
    EXPECT_EQ(unnamed->GetConfigFileName(), "Device 2.xml");
    EXPECT_EQ(unnamed->GetMonitorDeviceName(), "HDMI-1");

    const auto lobby = Make("Lobby", 1);
    EXPECT_EQ(lobby->GetCaption(), "[1] Lobby");
    EXPECT_EQ(lobby->GetSourceName(), "Lobby");

    const auto detached = Make({}, 3, false);
    EXPECT_EQ(detached->GetDisplayName(), "");
    EXPECT_FALSE(detached->IsActive());
    EXPECT_FALSE(detached->ReadInfo());
    EXPECT_EQ(detached->GetCurrentDisplayMode(), nullptr);
}

TEST_F(Device, PowerActionsLogTheirOutcomeAndTellThePage)
{
    const auto device = Make();
    TVitrelleDeviceSettings file;
    file.Name = "Hall";
    file.ControlSettings().ComSettings.Port = "/dev/ttyUSB0";
    file.ControlSettings().ComSettings.TimeOutConstant = 50;
    file.ControlSettings().PowerOn = "ka 01 01#13";
    file.ControlSettings().PowerOnOK = "a 01 OK01x";
    device->ApplySettings(&file); // also sets up the serial port
    Ports->Script().Reply = "a 01 OK01x";
    int told = 0;
    device->OnPowerStatusChange = [&](TVitrelleDevice&) { ++told; };

    auto on = device->CreateDefaultAction(TVitrelleDevice::PowerOnAction);
    auto off = device->CreateDefaultAction(TVitrelleDevice::PowerOffAction);
    EXPECT_TRUE(device->ExecuteAction(on.get()));
    ASSERT_EQ(Ports->Script().Written.size(), 1);
    EXPECT_EQ(Ports->Script().Written.first(), QByteArray("ka 01 01\r"));
    EXPECT_FALSE(device->ExecuteAction(off.get())) << "no power-off code";
    EXPECT_FALSE(device->ExecuteAction(nullptr));
    EXPECT_EQ(device->CreateDefaultAction(2), nullptr);
    EXPECT_EQ(told, 2);
    EXPECT_EQ(Log.Lines().filter("TVitrelleDevice"),
              QStringList({"[3] TVitrelleDevice: Power on of device 'Hall' suceeded",
                           "[3] TVitrelleDevice: Power off of device 'Hall' failed"}));
    EXPECT_EQ(device->GetActionDescription(off.get()), "Power off");
    EXPECT_EQ(off->Periodicity.Time, QTime(23, 0));

    // Both due in one pass: only the second runs.
    TScheduleActionList due(false);
    due.Add(on.get());
    due.Add(off.get());
    device->FilterActions(due);
    ASSERT_EQ(due.Count(), 1);
    EXPECT_EQ(due.At(0), off.get());

    // A serial failure reaches the caller, unlogged and without telling the page.
    Log.Clear();
    Ports->Script().OpenError = "Cannot open /dev/ttyUSB0: busy";
    EXPECT_THROW(device->PowerOn(), ESerialError);
    EXPECT_TRUE(Log.Lines().filter("TVitrelleDevice").isEmpty());
    EXPECT_EQ(told, 2);
    // The operator still learns how the last command ended.
    ASSERT_TRUE(device->LastPowerCommand());
    EXPECT_TRUE(device->LastPowerCommand()->On);
    EXPECT_FALSE(device->LastPowerCommand()->Succeeded);
    EXPECT_EQ(device->LastPowerCommand()->Error, "Cannot open /dev/ttyUSB0: busy");
}

TEST_F(Device, ApplyingSettingsTakesTheSystemIdentityAndRegisters)
{
    const auto device = Make();
    device->Info().SetModel("Office 24");
    device->Info().SetPnpID("HDMI-1");
    device->ApplySettings(nullptr);
    EXPECT_EQ(device->Settings().DeviceInfo().GetModel(), "Office 24");
    EXPECT_EQ(Scheduler.FindSource("Device 1"), device.get());

    TVitrelleDeviceSettings file;
    file.Name = "Window";
    file.DeviceInfo().SetModel("Another screen");
    file.ControlSettings().ComSettings.Port = "/dev/ttyUSB3";
    const auto other = Make({}, 2);
    other->ApplySettings(&file);
    EXPECT_EQ(other->Settings().Name, "Window");
    EXPECT_EQ(other->Settings().FileName, "Window.xml");
    EXPECT_EQ(other->Control().ComPort().Port, "/dev/ttyUSB3") << "the next command opens the new port";
    EXPECT_EQ(other->Settings().DeviceInfo().GetModel(), TVitrelleDeviceInfo::GenericModel)
        << "the identity read from the system (none here) replaces the file's";
}

TEST_F(Device, ModesAreSwitchedOnlyWhenSupportedAndDifferent)
{
    const auto device = Make();
    ASSERT_EQ(device->GetDisplayModes()->size(), 3u) << "duplicates stay";
    const TDisplayMode current(1920, 1080, 60, 32), other(1280, 720, 60, 32), unknown(800, 600, 75, 16);
    device->SetDisplayMode(&current);
    device->SetDisplayMode(&unknown);
    device->SetDisplayMode(nullptr);
    const TDisplayMode empty;
    device->SetDisplayMode(&empty);
    EXPECT_TRUE(System->ModeSwitches.isEmpty());
    device->SetDisplayMode(&other);
    ASSERT_EQ(System->ModeSwitches.size(), 1);
    EXPECT_EQ(System->ModeSwitches.first().first, "HDMI-1");

    System->Output("HDMI-1").Modes.clear();
    EXPECT_FALSE(device->SupportsDisplayMode(&other));
    EXPECT_EQ(Log.Lines().filter("mode list"),
              QStringList{"[1] TVitrelleDevice: Error while retrieving the display mode list 'HDMI-1'"});
}

TEST_F(Device, AllMonitorsAtOnceThroughMonitorPower)
{
    EXPECT_TRUE(TVitrelleDevice::PowerOffAll(*System, std::chrono::milliseconds(0)));
    EXPECT_EQ(System->PowerRequests, QList<bool>{false});
    System->PowerOn.reset(); // no DPMS, as on every virtual X server
    EXPECT_FALSE(TVitrelleDevice::PowerOnAll(*System, std::chrono::milliseconds(0)));
    EXPECT_EQ(Log.Lines(), QStringList({"[3] TVitrelleDevice: Power off of all devices suceeded",
                                        "[3] TVitrelleDevice: Power on of all devices failed"}));
}
