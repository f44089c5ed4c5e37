#include "DisplayReport.h"
#include "SimulatedDisplaySystem.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

TEST(DisplayReport, ShowsWhatASettingsFileNeeds)
{
    const QByteArray edid = ReadFileBytes(TestDataPath("edid/office-monitor.bin"));
    EXPECT_EQ(EdidReport(edid), "Manufacturer: VTR\nModel name: LOBBY 24\nSerial number: 7HX42A1\n");
    EXPECT_EQ(EdidReport(QByteArray(3, '\0')),
              "Manufacturer: @@@\nModel name: Generic display device\nSerial number: \n")
        << "a truncated file decodes by the same rule";

    TSimulatedDisplaySystem system;
    auto& hall = system.AddOutput("HDMI-1", edid);
    hall.Geometry = QRect(0, 0, 1920, 1080);
    hall.Primary = true;
    hall.Modes = {{1920, 1080, 60, 32}, {1280, 720, 50, 32}};
    hall.Current = TSystemDisplayMode{1920, 1080, 60, 32};
    system.AddOutput("DP-1").Geometry = QRect(1920, 0, 1280, 1024);
    system.PowerOn.reset();
    const QStringList lines = DisplayReport(system).split('\n');
    for (const char* expected :
         {"2 monitor(s) on the desktop", "Monitor 0: HDMI-1 at 0,0 size 1920x1080 (primary)",
          "  Adapter: HDMI-1, attached to the desktop: yes, mirroring: no", "  PnP id: HDMI-1",
          "  Model name: LOBBY 24", "  Serial number: 7HX42A1", "  Current mode: 1920x1080, 60 Hz, 32 bits",
          "  Supported modes: 2", "    1280x720, 50 Hz, 32 bits", "Monitor 1: DP-1 at 1920,0 size 1280x1024",
          "  VESA id: Default_Monitor", "Monitor power (DPMS) available: no"})
        EXPECT_TRUE(lines.contains(expected)) << expected << "\n" << lines.join('\n').toStdString();
}
