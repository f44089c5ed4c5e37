#include "DeferredDisplaySystem.h"
#include "MonitorIds.h"
#include "SimulatedDisplaySystem.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

// The program's display system is chosen on its first use; until then nothing is made, and afterwards every
// call, and the change notice, must reach the system chosen: a call that went astray would leave a display
// in the wrong mode, or dark.
TEST(DeferredDisplaySystemTest, ChoosesOnFirstUseAndPassesEveryCallAndChangeThrough)
{
    const TSystemDisplayMode fullHd{1920, 1080, 60, 32};
    const TSystemDisplayMode hdReady{1280, 720, 50, 32};
    int made = 0;
    TSimulatedDisplaySystem* chosen = nullptr;
    TDeferredDisplaySystem system([&] {
        ++made;
        auto simulated = std::make_unique<TSimulatedDisplaySystem>();
        TSimulatedDisplaySystem::TOutput& output =
            simulated->AddOutput("HDMI-1", ReadFileBytes(TestDataPath("edid/office-monitor.bin")));
        output.Geometry = QRect(0, 0, 1920, 1080);
        output.Modes = {fullHd, hdReady};
        output.Current = fullHd;
        simulated->AddOutput("DP-1").Attached = false;
        chosen = simulated.get();
        return simulated;
    });
    int changes = 0;
    system.SetOnMonitorsChanged([&] { ++changes; });
    EXPECT_EQ(made, 0);

    ASSERT_EQ(system.Monitors().size(), 1);
    EXPECT_EQ(system.Monitors()[0].Geometry, QRect(0, 0, 1920, 1080));
    EXPECT_EQ(system.Adapters().size(), 2);
    EXPECT_EQ(system.AdapterMonitors("HDMI-1").value(0).DeviceID, MonitorDeviceId("VTR2415", 0));
    EXPECT_EQ(system.MonitorInstances("VTR2415").value_or(QList<TMonitorInstance>()).value(0).PnpID,
              "HDMI-1");
    EXPECT_EQ(system.DisplayModes("HDMI-1"), (QList<TSystemDisplayMode>{fullHd, hdReady}));
    EXPECT_TRUE(system.SetDisplayMode("HDMI-1", hdReady));
    EXPECT_EQ(system.CurrentDisplayMode("HDMI-1"), hdReady);
    EXPECT_TRUE(system.SetMonitorPower(false));
    EXPECT_EQ(system.MonitorPowerOn(), false);
    EXPECT_EQ(chosen->PowerRequests, QList<bool>{false});
    EXPECT_EQ(&system.System(), chosen);

    chosen->FireMonitorsChanged();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(made, 1);
}

} // namespace
