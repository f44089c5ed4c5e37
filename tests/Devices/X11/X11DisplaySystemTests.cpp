// The X11 display system against a real Xvfb server: monitors made with xrandr, an EDID put on the output,
// modes added with xrandr and switched by our code, read back with xrandr.
#include "LogCapture.h"
#include "MonitorIds.h"
#include "ScreenDisplaySystem.h"
#include "SystemDisplaySystem.h"
#include "TestFiles.h"
#include "VitrelleDeviceInfo.h"
#include "X11DisplaySystem.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

// Xlib last: its macros would break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

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
        if (!StartServer())
            GTEST_SKIP() << "Xvfb could not be started";
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
        // Terminated rather than killed, so that the server removes its socket and lock file.
        if (FServer.state() != QProcess::NotRunning) {
            FServer.terminate();
            if (!FServer.waitForFinished(5000)) {
                FServer.kill();
                FServer.waitForFinished(5000);
            }
        }
    }

    // Starts Xvfb on a display number the server picks itself (-displayfd: it writes the number once it
    // accepts connections). The server keeps its state across clients (-noreset), and our own connection
    // stays open for the test.
    bool StartServer()
    {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return false;
        FServer.setStandardOutputFile(QProcess::nullDevice());
        FServer.setStandardErrorFile(QProcess::nullDevice());
        FServer.start(QStringLiteral("Xvfb"),
                      {"-displayfd", QString::number(pipeFds[1]), "-screen", "0", "1280x1024x24",
                       "+extension", "RANDR", "-nolisten", "tcp", "-noreset"});
        const bool started = FServer.waitForStarted(5000);
        close(pipeFds[1]);
        QByteArray number;
        const QDeadlineTimer deadline(10000);
        pollfd ready{pipeFds[0], POLLIN, 0};
        char c = 0;
        while (started && !number.endsWith('\n') && poll(&ready, 1, int(deadline.remainingTime())) > 0 &&
               read(pipeFds[0], &c, 1) == 1)
            number += c;
        close(pipeFds[0]);
        if (number.endsWith('\n')) {
            FName = ':' + number.trimmed();
            FDisplay = XOpenDisplay(FName.constData());
        }
        if (FDisplay == nullptr)
            StopServer();
        return FDisplay != nullptr;
    }

    QString Xrandr(const QStringList& arguments)
    {
        QProcess xrandr;
        xrandr.setProgram(QStringLiteral("xrandr"));
        xrandr.setArguments(QStringList{"-display", QString::fromLatin1(FName)} + arguments);
        xrandr.start();
        const bool done = xrandr.waitForFinished(10000);
        EXPECT_TRUE(done && xrandr.exitCode() == 0)
            << arguments.join(' ').toStdString() << ": " << xrandr.readAllStandardError().toStdString();
        return QString::fromLocal8Bit(xrandr.readAllStandardOutput());
    }

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

    QProcess FServer;
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

TEST_F(X11DisplaySystemTest, TheSessionChoosesTheDisplaySystem)
{
    const TLogCapture log;
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
        EXPECT_EQ(dynamic_cast<TX11DisplaySystem*>(system.get()) != nullptr, row.X11);
        EXPECT_EQ(dynamic_cast<TScreenDisplaySystem*>(system.get()) != nullptr, !row.X11);
    }
    EXPECT_EQ(log.Lines().filter("Cannot open the X display ':1999'").size(), 1);
}

} // namespace
