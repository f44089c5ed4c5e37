// The X11 display system against a real Xvfb server: monitors made with xrandr, an EDID put on the output,
// modes added with xrandr and switched by our code, read back with xrandr.
#include "DeferredDisplaySystem.h"
#include "EventWait.h"
#include "LogCapture.h"
#include "MonitorIds.h"
#include "ScreenDisplaySystem.h"
#include "SystemDisplaySystem.h"
#include "TestFiles.h"
#include "VitrelleDeviceInfo.h"
#include "X11DisplaySystem.h"
#include "XvfbServer.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>

// Xlib last: its macros would break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

using namespace std::chrono_literals;

namespace {

QByteArray EdidFile(const char* name)
{
    return ReadFileBytes(QStringLiteral(VC_TEST_DATA_DIR "/edid/%1").arg(QLatin1String(name)));
}

class X11DisplaySystemTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!FServer.Start())
            GTEST_SKIP() << "Xvfb could not be started";
        FName = FServer.Name();
        FDisplay = XOpenDisplay(FName.constData());
        ASSERT_NE(FDisplay, nullptr);
        // Two monitors side by side: one follows the output, the other is a logical one without an output.
        Xrandr({"--setmonitor", "Left", "640/169x1024/270+0+0", "screen"});
        Xrandr({"--setmonitor", "Right", "640/169x1024/270+640+0", "none"});
    }

    void TearDown() override { StopServer(); }

    void StopServer()
    {
        // Our connection first: Xlib's default handler ends the process on a connection the server dropped.
        if (FDisplay != nullptr)
            XCloseDisplay(FDisplay);
        FDisplay = nullptr;
        FServer.Stop();
    }

    QString Xrandr(const QStringList& arguments) { return FServer.Xrandr(arguments); }

    // The line xrandr prints for the output, e.g. "screen connected 800x600+0+0 0mm x 0mm".
    QString OutputLine() { return Xrandr({}).split('\n').filter(QRegularExpression("^screen ")).value(0); }

    RROutput Output() const
    {
        XRRScreenResources* resources = XRRGetScreenResourcesCurrent(FDisplay, DefaultRootWindow(FDisplay));
        const RROutput output = resources->noutput > 0 ? resources->outputs[0] : 0;
        XRRFreeScreenResources(resources);
        return output;
    }

    // Places the output's CRTC further right, keeping its mode (xrandr would move it back to the origin).
    void MoveCrtc(int x)
    {
        const Window root = DefaultRootWindow(FDisplay);
        XRRScreenResources* resources = XRRGetScreenResourcesCurrent(FDisplay, root);
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(FDisplay, resources, resources->crtcs[0]);
        XRRSetScreenSize(FDisplay, root, x + int(crtc->width), int(crtc->height), 100, 100);
        XRRSetCrtcConfig(FDisplay, resources, resources->crtcs[0], CurrentTime, x, 0, crtc->mode,
                         crtc->rotation, crtc->outputs, crtc->noutput);
        XRRFreeCrtcInfo(crtc);
        XRRFreeScreenResources(resources);
        XSync(FDisplay, False);
    }

    void PutEdid(const QByteArray& bytes, Atom type = XA_INTEGER, int format = 8)
    {
        const Atom edid = XInternAtom(FDisplay, RR_PROPERTY_RANDR_EDID, False);
        XRRChangeOutputProperty(FDisplay, Output(), edid, type, format, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(bytes.constData()),
                                int(bytes.size() / (format / 8)));
        XSync(FDisplay, False);
    }

    TXvfbServer FServer;
    QByteArray FName;
    Display* FDisplay = nullptr;
};

TEST_F(X11DisplaySystemTest, DiscoversMonitorsAdaptersAndIdentityInDesktopOrder)
{
    PutEdid(EdidFile("tv-384.bin"));
    TX11DisplaySystem system(FName);

    const QList<TDesktopMonitor> monitors = system.Monitors();
    ASSERT_EQ(monitors.size(), 2);
    EXPECT_EQ(monitors[0].Name, "screen");
    EXPECT_EQ(monitors[0].Geometry, QRect(0, 0, 640, 1024));
    EXPECT_EQ(monitors[0].Outputs, QStringList{"screen"});
    EXPECT_EQ(monitors[1].Name, "Right");
    EXPECT_EQ(monitors[1].Geometry, QRect(640, 0, 640, 1024));
    EXPECT_TRUE(monitors[1].Outputs.isEmpty());

    QStringList adapters;
    for (const TDisplayAdapter& adapter : system.Adapters())
        adapters << QStringLiteral("%1 %2").arg(adapter.DeviceName, QString::number(adapter.StateFlags()));
    EXPECT_EQ(adapters, (QStringList{"screen 1", "Right 1"}));

    const QList<TMonitorDevice> devices = system.AdapterMonitors("screen");
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].DeviceID, MonitorDeviceId("HLT6502", 0));
    EXPECT_TRUE(devices[0].Active);
    const std::optional<QList<TMonitorInstance>> instances = system.MonitorInstances("HLT6502");
    ASSERT_TRUE(instances && instances->size() == 1);
    EXPECT_EQ(instances->at(0).PnpID, "screen");
    EXPECT_TRUE(instances->at(0).ControlPresent);
    // The whole property, extension blocks included: the identity logic keeps what it needs.
    EXPECT_EQ(instances->at(0).EDID, EdidFile("tv-384.bin"));
    EXPECT_FALSE(system.MonitorInstances("Default_Monitor"));

    // The identity logic on top of it: the output's monitor is identified, the logical one has none.
    const TLogCapture log;
    TVitrelleDeviceInfo info;
    EXPECT_TRUE(TVitrelleDeviceInfo::IsAdapterActive(system, "screen"));
    ASSERT_TRUE(info.ReadFromSystem(system, "screen"));
    EXPECT_EQ(QStringList({info.GetVesaID(), info.GetPnpID(), info.GetManufacturer(), info.GetModel(),
                           info.GetSerial()}),
              (QStringList{"HLT6502", "screen", "HLT", "HALL TV 65", "HT65-0099"}));
    EXPECT_TRUE(TVitrelleDeviceInfo::IsAdapterActive(system, "Right"));
    EXPECT_FALSE(TVitrelleDeviceInfo().ReadFromSystem(system, "Right"));
}

TEST_F(X11DisplaySystemTest, OnlyAByteListPropertyIsAnEdid)
{
    const QByteArray edid = EdidFile("office-monitor.bin");
    struct TRow
    {
        const char* Case;
        Atom Type;
        int Format;
        bool Kept;
    };
    for (const TRow& row : {TRow{"bytes", XA_INTEGER, 8, true}, TRow{"text", XA_STRING, 8, false},
                            TRow{"32-bit numbers", XA_INTEGER, 32, false}}) {
        SCOPED_TRACE(row.Case);
        PutEdid(edid, row.Type, row.Format);
        const TX11DisplaySystem system(FName);
        const QString vesaId = row.Kept ? "VTR2415" : "Default_Monitor";
        EXPECT_EQ(system.AdapterMonitors("screen").value(0).DeviceID, MonitorDeviceId(vesaId, 0));
        const std::optional<QList<TMonitorInstance>> instances = system.MonitorInstances(vesaId);
        ASSERT_TRUE(instances && instances->size() == 1);
        EXPECT_EQ(instances->at(0).EDID, row.Kept ? std::optional(edid) : std::nullopt);
    }
}

TEST_F(X11DisplaySystemTest, ListsAndSwitchesModesGrowingTheScreenFirst)
{
    Xrandr({"--newmode", "m800", "40.00", "800", "840", "968", "1056", "600", "601", "605", "628"});
    Xrandr({"--newmode", "m1024", "75.00", "1024", "1048", "1184", "1328", "768", "771", "777", "806"});
    for (const char* mode : {"m800", "m1024"})
        Xrandr({"--addmode", "screen", mode});
    TX11DisplaySystem system(FName);

    // The virtual server's own mode has no timings: 0 Hz. Depth 24 reads as 32 bits.
    const TSystemDisplayMode native{1280, 1024, 0, 32};
    const TSystemDisplayMode small{800, 600, 60, 32};   // 60.3 Hz
    const TSystemDisplayMode medium{1024, 768, 70, 32}; // 70.07 Hz
    EXPECT_EQ(system.DisplayModes("screen"), (QList<TSystemDisplayMode>{native, small, medium}));
    EXPECT_EQ(system.CurrentDisplayMode("screen"), native);
    // A logical monitor has only its geometry.
    EXPECT_EQ(system.DisplayModes("Right"), QList<TSystemDisplayMode>{TSystemDisplayMode(640, 1024, 0, 32)});
    EXPECT_FALSE(system.SetDisplayMode("Right", TSystemDisplayMode{640, 1024, 0, 32}));

    ASSERT_TRUE(system.SetDisplayMode("screen", small));
    EXPECT_TRUE(OutputLine().startsWith("screen connected 800x600+0+0")) << OutputLine().toStdString();
    EXPECT_EQ(system.CurrentDisplayMode("screen"), small);

    // Shrunk behind our connection's back: the switch must see the screen as it is now, grow it, then switch.
    Xrandr({"--fb", "800x600"});
    ASSERT_TRUE(system.SetDisplayMode("screen", medium));
    EXPECT_TRUE(Xrandr({}).contains("current 1024 x 768"));
    EXPECT_TRUE(OutputLine().startsWith("screen connected 1024x768+0+0")) << OutputLine().toStdString();

    // Refused without harm: a mode the output lacks, and one the screen cannot hold at the CRTC's position
    // (the server answers with an error, which must not end the process).
    EXPECT_FALSE(system.SetDisplayMode("screen", TSystemDisplayMode{1024, 768, 60, 32}));
    MoveCrtc(256);
    ASSERT_TRUE(OutputLine().startsWith("screen connected 1024x768+256+0")) << OutputLine().toStdString();
    EXPECT_FALSE(system.SetDisplayMode("screen", native));
    EXPECT_EQ(system.CurrentDisplayMode("screen"), medium);
}

TEST_F(X11DisplaySystemTest, MonitorPowerFailsWithoutDpms)
{
    TX11DisplaySystem system(FName);
    EXPECT_FALSE(system.SetMonitorPower(false));
    EXPECT_FALSE(system.SetMonitorPower(true));
    EXPECT_EQ(system.MonitorPowerOn(), std::nullopt);
}

TEST_F(X11DisplaySystemTest, ALostServerIsReportedAndDoesNotEndTheProcess)
{
    const TLogCapture log;
    TX11DisplaySystem system(FName);
    ASSERT_EQ(system.Monitors().size(), 2);
    StopServer();

    EXPECT_TRUE(system.Monitors().isEmpty());
    EXPECT_TRUE(system.ConnectionLost());
    EXPECT_TRUE(system.Adapters().isEmpty());
    EXPECT_FALSE(system.SetDisplayMode("screen", TSystemDisplayMode{1280, 1024, 0, 32}));
    EXPECT_FALSE(system.SetMonitorPower(true));
    EXPECT_EQ(log.Lines().filter("connection to the X display was lost").size(), 1)
        << log.Lines().join('\n').toStdString();
}

// The program assembles its platform before it initialises its log: the choice, and the line that says why
// an X display cannot be used, wait for the first call.
TEST_F(X11DisplaySystemTest, TheSessionChoosesTheDisplaySystemOnItsFirstUse)
{
    struct TRow
    {
        const char* Platform;
        QByteArray Display;
        bool X11;
    };
    for (const TRow& row :
         {TRow{"xcb", FName, true}, TRow{"xcb", ":1999", false}, TRow{"wayland", FName, false}}) {
        SCOPED_TRACE(row.Platform + std::string(" ") + row.Display.toStdString());
        const std::unique_ptr<IDisplaySystem> system = CreateSystemDisplaySystem(row.Platform, row.Display);
        const TLogCapture log;
        EXPECT_EQ(system->Monitors().size(), row.X11 ? 2 : 0); // no toolkit screens in this suite
        const IDisplaySystem& chosen = dynamic_cast<TDeferredDisplaySystem&>(*system).System();
        EXPECT_EQ(dynamic_cast<const TX11DisplaySystem*>(&chosen) != nullptr, row.X11);
        EXPECT_EQ(dynamic_cast<const TScreenDisplaySystem*>(&chosen) != nullptr, !row.X11);
        const bool unusable = row.Display == ":1999";
        EXPECT_EQ(
            log.Lines().filter("[2] CreateSystemDisplaySystem: Cannot open the X display ':1999'").size(),
            unusable ? 1 : 0)
            << log.Lines().join('\n').toStdString();
    }
}

// A display plugged in or switched back on gives a burst of RandR events; the program hears of it once, after
// the burst, whether the events wake the watch or arrive with the replies of its own calls. A lost server
// is no change, and must not end the process.
TEST_F(X11DisplaySystemTest, ABurstOfMonitorChangesIsReportedOnce)
{
    Xrandr({"--newmode", "m800", "40.00", "800", "840", "968", "1056", "600", "601", "605", "628"});
    Xrandr({"--addmode", "screen", "m800"});
    const auto serve = [](int ms) { ServeEventsUntil([] { return false; }, ms); };
    struct TRow
    {
        const char* Case;
        std::chrono::milliseconds Settle;
        std::function<void(TX11DisplaySystem&)> Burst;
        int Reports;
    };
    const TRow rows[] = {
        {"a monitor set, read before the watch wakes", 100ms,
         [&](TX11DisplaySystem& system) {
             Xrandr({"--setmonitor", "Extra", "320/85x200/53+0+0", "none"});
             EXPECT_EQ(system.Monitors().size(), 3);
         },
         1},
        {"a monitor deleted", 100ms,
         [&](TX11DisplaySystem&) {
             Xrandr({"--delmonitor", "Extra"});
         },
         1},
        {"a mode switch and monitors over a while", IDisplaySystem::MonitorChangeSettleTime,
         [&](TX11DisplaySystem&) {
             Xrandr({"--output", "screen", "--mode", "m800"});
             serve(40);
             Xrandr({"--setmonitor", "Extra", "320/85x200/53+0+0", "none"});
             serve(40);
             Xrandr({"--delmonitor", "Extra"});
         },
         1},
        {"the server lost", 100ms, [&](TX11DisplaySystem&) { StopServer(); }, 0},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Case);
        const TLogCapture log;
        TX11DisplaySystem system(FName, row.Settle);
        int reports = 0;
        system.SetOnMonitorsChanged([&] { ++reports; });
        row.Burst(system);
        ServeEventsUntil([&] { return reports >= row.Reports; });
        // Long enough for a second report of the same burst to come.
        serve(int(row.Settle.count()) + 150);
        EXPECT_EQ(reports, row.Reports);
        EXPECT_EQ(system.ConnectionLost(), row.Reports == 0);
    }
}

// The screens' fallback, run where the toolkit's screens can change: a probe program on the toolkit's X11
// platform watches them while xrandr changes the monitors.
TEST_F(X11DisplaySystemTest, TheScreenFallbackReportsABurstOfScreenChangesOnce)
{
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("DISPLAY", QString::fromLatin1(FName));
    probe.setProcessEnvironment(environment);
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(QStringLiteral(VC_SCREEN_CHANGE_PROBE), {});
    QStringList lines;
    const auto readLines = [&] {
        while (probe.canReadLine())
            lines << QString::fromLocal8Bit(probe.readLine()).trimmed();
    };
    const auto waitFor = [&](const QString& line, int ms) {
        const QDeadlineTimer deadline(ms);
        while (!lines.contains(line) && !deadline.hasExpired() && probe.state() != QProcess::NotRunning) {
            probe.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
            readLines();
        }
        return lines.contains(line);
    };
    ASSERT_TRUE(waitFor("ready 2", 10000)) << lines.join('\n').toStdString();

    // One request, three signals of the toolkit: the output's own screen added and made primary, the deleted
    // monitor's screen removed.
    Xrandr({"--delmonitor", "Left"});
    EXPECT_TRUE(waitFor("changed 2", 5000)) << lines.join('\n').toStdString();
    waitFor("-", int(IDisplaySystem::MonitorChangeSettleTime.count()) + 250);
    EXPECT_EQ(lines.filter("changed").size(), 1) << lines.join('\n').toStdString();

    probe.closeWriteChannel();
    EXPECT_TRUE(probe.waitForFinished(5000));
    EXPECT_EQ(probe.exitCode(), 0);
}

} // namespace
