#include "X11DisplaySystem.h"

#include "Edid.h"
#include "Log.h"
#include "MonitorIds.h"
#include "XErrorTrap.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cmath>

// Xlib last: its macros (Status, Bool, True, None) would break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/dpms.h>

namespace {

template <auto Free> struct TXFree
{
    void operator()(auto* p) const
    {
        if (p != nullptr)
            Free(p);
    }
};
using TResources = std::unique_ptr<XRRScreenResources, TXFree<XRRFreeScreenResources>>;
using TOutputInfo = std::unique_ptr<XRROutputInfo, TXFree<XRRFreeOutputInfo>>;
using TCrtcInfo = std::unique_ptr<XRRCrtcInfo, TXFree<XRRFreeCrtcInfo>>;
using TMonitorList = std::unique_ptr<XRRMonitorInfo, TXFree<XRRFreeMonitors>>;
using TXData = std::unique_ptr<unsigned char, TXFree<XFree>>;

struct TOutput
{
    RROutput Id = 0;
    QString Name;
    RRCrtc Crtc = 0;
    bool Connected = false;
    QList<RRMode> Modes;
};

// What one call needs of the server's configuration, read afresh each time.
struct TSnapshot
{
    TResources Resources;
    QList<TOutput> Outputs;
    RROutput Primary = 0;
    QList<TDesktopMonitor> Monitors;

    const TOutput* OutputById(RROutput id) const
    {
        for (const TOutput& output : Outputs)
            if (output.Id == id)
                return &output;
        return nullptr;
    }
    qsizetype OutputIndex(const QString& name) const
    {
        for (qsizetype i = 0; i < Outputs.size(); ++i)
            if (Outputs[i].Name == name)
                return i;
        return -1;
    }
    const XRRModeInfo* Mode(RRMode id) const
    {
        for (int i = 0; i < Resources->nmode; ++i)
            if (Resources->modes[i].id == id)
                return &Resources->modes[i];
        return nullptr;
    }
};

// What an adapter name stands for: an output, or a logical monitor without one.
struct TTarget
{
    qsizetype OutputIndex = -1;
    QRect Geometry;
};

quint32 RefreshHz(const XRRModeInfo& mode)
{
    double lines = mode.vTotal;
    if ((mode.modeFlags & RR_DoubleScan) != 0)
        lines *= 2;
    if ((mode.modeFlags & RR_Interlace) != 0)
        lines /= 2;
    // Virtual servers give modes without timings.
    if (mode.hTotal == 0 || lines == 0)
        return 0;
    return quint32(std::lround(double(mode.dotClock) / (double(mode.hTotal) * lines)));
}

QString AtomName(Display* display, Atom atom)
{
    const TXData name{reinterpret_cast<unsigned char*>(XGetAtomName(display, atom))};
    return name ? QString::fromUtf8(reinterpret_cast<const char*>(name.get())) : QString();
}

} // namespace

struct TX11DisplaySystem::TImpl
{
    Display* FDisplay = nullptr;
    Window FRoot = 0;
    int FScreen = 0;
    bool FLost = false;
    bool FLossLogged = false;
    int FEventBase = 0;
    // Watches the connection for RandR's change events while an application runs the event loop.
    std::unique_ptr<QSocketNotifier> FWatch;
    // Restarted by every change; the burst is reported once it has settled.
    QTimer FSettle;

    static void OnConnectionLost(Display*, void* self) { static_cast<TImpl*>(self)->FLost = true; }

    // Takes every event the connection holds or can read without waiting. A change of the configuration
    // restarts the settle timer; a lost connection ends the watch (its descriptor would stay readable) and
    // drops a burst that has not settled yet.
    void TakeEvents()
    {
        if (!FWatch || !FWatch->isEnabled())
            return;
        bool changed = false;
        const auto take = [&] {
            XEvent event;
            XNextEvent(FDisplay, &event);
            XRRUpdateConfiguration(&event);
            changed = changed || event.type == FEventBase + RRScreenChangeNotify ||
                      event.type == FEventBase + RRNotify ||
                      (event.type == ConfigureNotify && event.xconfigure.window == FRoot);
        };
        {
            TXErrorTrap trap(FDisplay);
            while (!FLost && XPending(FDisplay) > 0)
                take();
        }
        // The trap's last round trip may have queued more; taking those needs no reading.
        while (!FLost && XEventsQueued(FDisplay, QueuedAlready) > 0)
            take();
        if (!Usable()) {
            FWatch->setEnabled(false);
            FSettle.stop();
        } else if (changed) {
            FSettle.start();
        }
    }

    // One call of the program: the server's errors are trapped while it runs, and afterwards the change
    // events that its replies brought along are taken (they have left the socket: the watch would miss them).
    class TCall
    {
    public:
        explicit TCall(TImpl& impl) : FImpl(impl) { FTrap.emplace(impl.FDisplay); }
        ~TCall()
        {
            FTrap.reset();
            FImpl.TakeEvents();
        }
        TCall(const TCall&) = delete;
        TCall& operator=(const TCall&) = delete;

        TXErrorTrap& Trap() { return *FTrap; }

    private:
        TImpl& FImpl;
        std::optional<TXErrorTrap> FTrap;
    };

    bool Usable()
    {
        if (FLost && !FLossLogged) {
            FLossLogged = true;
            WriteLog(LogSource, 1, QStringLiteral("The connection to the X display was lost"));
        }
        return !FLost;
    }

    quint32 BitsPerPixel() const
    {
        const int depth = DefaultDepth(FDisplay, FScreen);
        return depth == 24 ? 32u : quint32(depth);
    }

    TSystemDisplayMode ModeOf(const XRRModeInfo& mode) const
    {
        return {mode.width, mode.height, RefreshHz(mode), BitsPerPixel()};
    }

    std::optional<TSnapshot> Read()
    {
        if (!Usable())
            return std::nullopt;
        TSnapshot snapshot;
        snapshot.Resources.reset(XRRGetScreenResourcesCurrent(FDisplay, FRoot));
        if (!snapshot.Resources || FLost)
            return std::nullopt;
        const XRRScreenResources& resources = *snapshot.Resources;
        snapshot.Primary = XRRGetOutputPrimary(FDisplay, FRoot);
        for (int i = 0; i < resources.noutput; ++i) {
            TOutput output;
            output.Id = resources.outputs[i];
            const TOutputInfo info{XRRGetOutputInfo(FDisplay, snapshot.Resources.get(), output.Id)};
            if (info) {
                output.Name = QString::fromUtf8(info->name, info->nameLen);
                output.Crtc = info->crtc;
                output.Connected = info->connection == RR_Connected;
                for (int m = 0; m < info->nmode; ++m)
                    output.Modes << info->modes[m];
            }
            snapshot.Outputs << output;
        }

        int count = 0;
        const TMonitorList monitors{XRRGetMonitors(FDisplay, FRoot, True, &count)};
        for (int i = 0; monitors && i < count; ++i) {
            const XRRMonitorInfo& monitor = monitors.get()[i];
            TDesktopMonitor desktop;
            desktop.Geometry = QRect(monitor.x, monitor.y, monitor.width, monitor.height);
            desktop.Primary = monitor.primary != 0;
            for (int o = 0; o < monitor.noutput; ++o)
                if (const TOutput* output = snapshot.OutputById(monitor.outputs[o]))
                    desktop.Outputs << output->Name;
            desktop.Name =
                desktop.Outputs.size() == 1 ? desktop.Outputs.first() : AtomName(FDisplay, monitor.name);
            snapshot.Monitors << desktop;
        }
        if (FLost)
            return std::nullopt;
        return snapshot;
    }

    std::optional<TTarget> Resolve(const TSnapshot& snapshot, const QString& adapterName) const
    {
        if (const qsizetype index = snapshot.OutputIndex(adapterName); index >= 0)
            return TTarget{index, {}};
        for (const TDesktopMonitor& monitor : snapshot.Monitors)
            if (monitor.Name == adapterName)
                return TTarget{monitor.Outputs.isEmpty() ? -1 : snapshot.OutputIndex(monitor.Outputs.first()),
                               monitor.Geometry};
        return std::nullopt;
    }

    // The output's EDID property; none without one, or when it is not a list of bytes.
    std::optional<QByteArray> EDID(RROutput output) const
    {
        const Atom edid = XInternAtom(FDisplay, RR_PROPERTY_RANDR_EDID, True);
        if (edid == None)
            return std::nullopt;
        Atom type = None;
        int format = 0;
        unsigned long items = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        // Up to 32 KiB, far beyond the largest EDID with extension blocks.
        const int status = XRRGetOutputProperty(FDisplay, output, edid, 0, 8192, False, False,
                                                AnyPropertyType, &type, &format, &items, &after, &data);
        const TXData owned{data};
        if (status != Success || type != XA_INTEGER || format != 8 || items == 0)
            return std::nullopt;
        return QByteArray(reinterpret_cast<const char*>(data), qsizetype(items));
    }

    QString VesaID(const TOutput& output) const
    {
        return VesaIdFromEDID(EDID(output.Id).value_or(QByteArray()));
    }

    std::optional<TSystemDisplayMode> Current(const TSnapshot& snapshot, const TTarget& target) const
    {
        if (target.OutputIndex < 0)
            return TSystemDisplayMode{quint32(target.Geometry.width()), quint32(target.Geometry.height()), 0,
                                      BitsPerPixel()};
        const TOutput& output = snapshot.Outputs[target.OutputIndex];
        if (output.Crtc == 0)
            return std::nullopt;
        const TCrtcInfo crtc{XRRGetCrtcInfo(FDisplay, snapshot.Resources.get(), output.Crtc)};
        const XRRModeInfo* mode = crtc ? snapshot.Mode(crtc->mode) : nullptr;
        if (mode == nullptr)
            return std::nullopt;
        return ModeOf(*mode);
    }

    // The root window's size as the server has it now (Xlib's DisplayWidth keeps the size at connection).
    std::optional<QSize> ScreenSize() const
    {
        Window root = 0;
        int x = 0;
        int y = 0;
        unsigned width = 0;
        unsigned height = 0;
        unsigned border = 0;
        unsigned depth = 0;
        if (XGetGeometry(FDisplay, FRoot, &root, &x, &y, &width, &height, &border, &depth) == 0)
            return std::nullopt;
        return QSize(int(width), int(height));
    }

    bool Switch(const TSnapshot& snapshot, const TOutput& output, const TSystemDisplayMode& wanted,
                TXErrorTrap& trap)
    {
        if (output.Crtc == 0)
            return false;
        const auto modeId = std::find_if(output.Modes.cbegin(), output.Modes.cend(), [&](RRMode id) {
            const XRRModeInfo* mode = snapshot.Mode(id);
            return mode != nullptr && ModeOf(*mode) == wanted;
        });
        if (modeId == output.Modes.cend())
            return false;
        const TCrtcInfo crtc{XRRGetCrtcInfo(FDisplay, snapshot.Resources.get(), output.Crtc)};
        const std::optional<QSize> screen = ScreenSize();
        if (!crtc || !screen)
            return false;

        const bool turned = (crtc->rotation & (RR_Rotate_90 | RR_Rotate_270)) != 0;
        const int width = crtc->x + int(turned ? wanted.Height : wanted.Width);
        const int height = crtc->y + int(turned ? wanted.Width : wanted.Height);
        if (width > screen->width() || height > screen->height()) {
            // The screen must hold the CRTC before the CRTC may grow; it is never shrunk here, since other
            // CRTCs may still need the space.
            const int newWidth = std::max(width, screen->width());
            const int newHeight = std::max(height, screen->height());
            // At 96 dots per inch: the size in millimetres only feeds DPI guesses of clients.
            XRRSetScreenSize(FDisplay, FRoot, newWidth, newHeight, int(std::lround(newWidth * 25.4 / 96)),
                             int(std::lround(newHeight * 25.4 / 96)));
            if (trap.Failed())
                return false;
        }
        const int status =
            XRRSetCrtcConfig(FDisplay, snapshot.Resources.get(), output.Crtc, CurrentTime, crtc->x, crtc->y,
                             *modeId, crtc->rotation, crtc->outputs, crtc->noutput);
        return status == RRSetConfigSuccess && !trap.Failed();
    }
};

TX11DisplaySystem::TX11DisplaySystem(const QByteArray& displayName, std::chrono::milliseconds settleTime)
    : F(std::make_unique<TImpl>())
{
    F->FDisplay = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    const QString name = QString::fromLocal8Bit(displayName.isEmpty() ? qgetenv("DISPLAY") : displayName);
    if (F->FDisplay == nullptr)
        throw EDisplaySystemError(QStringLiteral("Cannot open the X display '%1'").arg(name));
    XSetIOErrorExitHandler(F->FDisplay, &TImpl::OnConnectionLost, F.get());
    F->FScreen = DefaultScreen(F->FDisplay);
    F->FRoot = RootWindow(F->FDisplay, F->FScreen);

    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (!XRRQueryExtension(F->FDisplay, &event, &error) || !XRRQueryVersion(F->FDisplay, &major, &minor) ||
        major < 1 || (major == 1 && minor < 5)) {
        XCloseDisplay(F->FDisplay);
        throw EDisplaySystemError(
            QStringLiteral("The X display '%1' offers no RandR 1.5 (version %2)")
                .arg(name, QStringLiteral("%1.%2").arg(QString::number(major), QString::number(minor))));
    }

    F->FEventBase = event;
    F->FSettle.setSingleShot(true);
    F->FSettle.setInterval(settleTime);
    F->FSettle.callOnTimeout([this] { MonitorsChanged(); });
    // Without an event loop (a tool that reads once) nothing would take the events.
    if (QCoreApplication::instance() != nullptr) {
        const TXErrorTrap trap(F->FDisplay);
        // A display plugged in, unplugged, switched on or given another mode comes as screen, output and CRTC
        // changes. Output properties stay out: some drivers change theirs (backlight) all the time. Monitors
        // set or deleted (RandR 1.5) come only as a ConfigureNotify of the root window.
        XRRSelectInput(F->FDisplay, F->FRoot,
                       RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
        XSelectInput(F->FDisplay, F->FRoot, StructureNotifyMask);
        F->FWatch = std::make_unique<QSocketNotifier>(ConnectionNumber(F->FDisplay), QSocketNotifier::Read);
        QObject::connect(F->FWatch.get(), &QSocketNotifier::activated, F->FWatch.get(),
                         [impl = F.get()] { impl->TakeEvents(); });
    }
}

TX11DisplaySystem::~TX11DisplaySystem()
{
    F->FWatch.reset();
    XCloseDisplay(F->FDisplay);
}

bool TX11DisplaySystem::ConnectionLost() const
{
    return F->FLost;
}

QList<TDesktopMonitor> TX11DisplaySystem::Monitors() const
{
    TImpl::TCall call(*F);
    const std::optional<TSnapshot> snapshot = F->Read();
    return snapshot ? snapshot->Monitors : QList<TDesktopMonitor>();
}

QList<TDisplayAdapter> TX11DisplaySystem::Adapters() const
{
    TImpl::TCall call(*F);
    const std::optional<TSnapshot> snapshot = F->Read();
    if (!snapshot)
        return {};
    QList<TDisplayAdapter> adapters;
    for (qsizetype i = 0; i < snapshot->Outputs.size(); ++i) {
        const TOutput& output = snapshot->Outputs[i];
        const bool mirroring =
            output.Crtc != 0 &&
            std::any_of(snapshot->Outputs.cbegin(), snapshot->Outputs.cbegin() + i,
                        [&](const TOutput& earlier) { return earlier.Crtc == output.Crtc; });
        adapters << TDisplayAdapter{output.Name, output.Crtc != 0, mirroring,
                                    output.Id == snapshot->Primary && snapshot->Primary != 0};
    }
    // A monitor of the desktop that is not named after an output (a logical monitor, or one spanning several
    // outputs) is an adapter of its own, on the desktop since the server lists it among the active monitors.
    for (const TDesktopMonitor& monitor : snapshot->Monitors)
        if (snapshot->OutputIndex(monitor.Name) < 0)
            adapters << TDisplayAdapter{monitor.Name, true, false, monitor.Primary};
    return adapters;
}

QList<TMonitorDevice> TX11DisplaySystem::AdapterMonitors(const QString& adapterName) const
{
    TImpl::TCall call(*F);
    const std::optional<TSnapshot> snapshot = F->Read();
    const std::optional<TTarget> target = snapshot ? F->Resolve(*snapshot, adapterName) : std::nullopt;
    if (!target || target->OutputIndex < 0)
        return {};
    const TOutput& output = snapshot->Outputs[target->OutputIndex];
    return {TMonitorDevice{MonitorDeviceId(F->VesaID(output), int(target->OutputIndex)), output.Connected}};
}

std::optional<QList<TMonitorInstance>> TX11DisplaySystem::MonitorInstances(const QString& vesaId) const
{
    TImpl::TCall call(*F);
    const std::optional<TSnapshot> snapshot = F->Read();
    if (!snapshot)
        return std::nullopt;
    QList<TMonitorInstance> instances;
    for (qsizetype i = 0; i < snapshot->Outputs.size(); ++i) {
        const TOutput& output = snapshot->Outputs[i];
        std::optional<QByteArray> edid = F->EDID(output.Id);
        if (VesaIdFromEDID(edid.value_or(QByteArray())) != vesaId)
            continue;
        instances << TMonitorInstance{
            output.Name, MonitorDriverKey(int(i)),
            TSystemValue{TSystemValue::vsStrings, {QStringLiteral("MONITOR\\") + vesaId}}, output.Connected,
            std::move(edid)};
    }
    if (instances.isEmpty() || F->FLost)
        return std::nullopt;
    return instances;
}

QList<TSystemDisplayMode> TX11DisplaySystem::DisplayModes(const QString& adapterName) const
{
    TImpl::TCall call(*F);
    const std::optional<TSnapshot> snapshot = F->Read();
    const std::optional<TTarget> target = snapshot ? F->Resolve(*snapshot, adapterName) : std::nullopt;
    if (!target)
        return {};
    if (target->OutputIndex < 0)
        return {*F->Current(*snapshot, *target)};
    QList<TSystemDisplayMode> modes;
    for (const RRMode id : snapshot->Outputs[target->OutputIndex].Modes)
        if (const XRRModeInfo* mode = snapshot->Mode(id))
            modes << F->ModeOf(*mode);
    return modes;
}

std::optional<TSystemDisplayMode> TX11DisplaySystem::CurrentDisplayMode(const QString& adapterName) const
{
    TImpl::TCall call(*F);
    const std::optional<TSnapshot> snapshot = F->Read();
    const std::optional<TTarget> target = snapshot ? F->Resolve(*snapshot, adapterName) : std::nullopt;
    if (!target)
        return std::nullopt;
    std::optional<TSystemDisplayMode> mode = F->Current(*snapshot, *target);
    return call.Trap().Failed() ? std::nullopt : mode;
}

bool TX11DisplaySystem::SetDisplayMode(const QString& adapterName, const TSystemDisplayMode& mode)
{
    {
        TImpl::TCall call(*F);
        const std::optional<TSnapshot> snapshot = F->Read();
        const std::optional<TTarget> target = snapshot ? F->Resolve(*snapshot, adapterName) : std::nullopt;
        if (!target || target->OutputIndex < 0 ||
            !F->Switch(*snapshot, snapshot->Outputs[target->OutputIndex], mode, call.Trap()))
            return false;
    }
    // Taken when the server reports the mode afterwards.
    return CurrentDisplayMode(adapterName) == mode;
}

bool TX11DisplaySystem::SetMonitorPower(bool on)
{
    TImpl::TCall call(*F);
    if (!F->Usable())
        return false;
    int event = 0;
    int error = 0;
    if (!DPMSQueryExtension(F->FDisplay, &event, &error) || !DPMSCapable(F->FDisplay))
        return false;
    const CARD16 wanted = on ? DPMSModeOn : DPMSModeOff;
    DPMSEnable(F->FDisplay);
    DPMSForceLevel(F->FDisplay, wanted);
    if (call.Trap().Failed())
        return false;
    CARD16 level = 0;
    BOOL enabled = False;
    return DPMSInfo(F->FDisplay, &level, &enabled) && !call.Trap().Failed() && enabled && level == wanted;
}

std::optional<bool> TX11DisplaySystem::MonitorPowerOn() const
{
    TImpl::TCall call(*F);
    if (!F->Usable())
        return std::nullopt;
    int event = 0;
    int error = 0;
    if (!DPMSQueryExtension(F->FDisplay, &event, &error) || !DPMSCapable(F->FDisplay))
        return std::nullopt;
    CARD16 level = 0;
    BOOL enabled = False;
    if (!DPMSInfo(F->FDisplay, &level, &enabled) || call.Trap().Failed())
        return std::nullopt;
    // With DPMS disabled the server never blanks the monitors.
    return !enabled || level == DPMSModeOn;
}
