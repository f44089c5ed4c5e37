// The display system of a session that is not X11, read from the toolkit's screens: here the offscreen
// platform's one screen. That platform offers no public way to add or change a screen; the change notice is
// tested on the X11 platform (DevicesX11Tests, with a probe program).
#include "ScreenDisplaySystem.h"

#include "MonitorIds.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

namespace {

TEST(ScreenDisplaySystemTest, DescribesEachScreenAsAnAdapterWithoutModesOrPower)
{
    ASSERT_EQ(QGuiApplication::screens().size(), 1);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QString name = screen->name();
    TScreenDisplaySystem system;

    const QList<TDesktopMonitor> monitors = system.Monitors();
    ASSERT_EQ(monitors.size(), 1);
    EXPECT_EQ(monitors[0].Name, name);
    EXPECT_EQ(monitors[0].Geometry, QRect(0, 0, 800, 800));
    EXPECT_EQ(monitors[0].Outputs, QStringList{name});
    EXPECT_TRUE(monitors[0].Primary);
    const QList<TDisplayAdapter> adapters = system.Adapters();
    ASSERT_EQ(adapters.size(), 1);
    EXPECT_EQ(adapters[0].DeviceName, name);
    EXPECT_EQ(adapters[0].StateFlags(), 0x5u); // attached, primary

    // Without an EDID every screen is kept under Default_Monitor, told apart by its name.
    const QList<TMonitorDevice> devices = system.AdapterMonitors(name);
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].DeviceID, MonitorDeviceId("Default_Monitor", 0));
    EXPECT_TRUE(devices[0].Active);
    const std::optional<QList<TMonitorInstance>> instances = system.MonitorInstances("Default_Monitor");
    ASSERT_TRUE(instances && instances->size() == 1);
    EXPECT_EQ(instances->at(0).PnpID, name);
    EXPECT_EQ(instances->at(0).EDID, std::nullopt);
    EXPECT_FALSE(system.MonitorInstances("VTR2415"));

    // The current mode only, in the monitor's pixels; the compositor owns the modes and the power.
    const TSystemDisplayMode current{800, 800, quint32(std::lround(screen->refreshRate())),
                                     screen->depth() == 24 ? 32u : quint32(screen->depth())};
    EXPECT_EQ(system.CurrentDisplayMode(name), current);
    EXPECT_TRUE(system.DisplayModes(name).isEmpty());
    EXPECT_FALSE(system.SetDisplayMode(name, current));
    EXPECT_FALSE(system.SetMonitorPower(false));
    EXPECT_EQ(system.MonitorPowerOn(), std::nullopt);

    // A name that is no screen.
    EXPECT_TRUE(system.AdapterMonitors("HDMI-1").isEmpty());
    EXPECT_EQ(system.CurrentDisplayMode("HDMI-1"), std::nullopt);
}

} // namespace
