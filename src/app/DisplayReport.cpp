#include "DisplayReport.h"

#include "DisplayMode.h"
#include "MonitorIds.h"
#include "VitrelleDeviceInfo.h"

#include <QStringList>

namespace {

QString YesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

} // namespace

QString EdidReport(const QByteArray& edid)
{
    TVitrelleDeviceInfo info;
    info.ParseEDID(edid);
    return QStringLiteral("Manufacturer: %1\nModel name: %2\nSerial number: %3\n")
        .arg(info.GetManufacturer(), info.GetModel(), info.GetSerial());
}

QString DisplayReport(const IDisplaySystem& system)
{
    QStringList lines;
    const QList<TDesktopMonitor> monitors = system.Monitors();
    const QList<TDisplayAdapter> adapters = system.Adapters();
    lines << QStringLiteral("%1 monitor(s) on the desktop").arg(monitors.size());
    for (qsizetype i = 0; i < monitors.size(); ++i) {
        const TDesktopMonitor& monitor = monitors[i];
        const QRect& g = monitor.Geometry;
        lines << QString();
        lines << QStringLiteral("Monitor %1: %2 at %3,%4 size %5x%6%7")
                     .arg(QString::number(i), monitor.Name, QString::number(g.x()), QString::number(g.y()),
                          QString::number(g.width()), QString::number(g.height()),
                          monitor.Primary ? QStringLiteral(" (primary)") : QString());
        for (const TDisplayAdapter& adapter : adapters)
            if (adapter.DeviceName == monitor.Name)
                lines << QStringLiteral("  Adapter: %1, attached to the desktop: %2, mirroring: %3")
                             .arg(adapter.DeviceName, YesNo(adapter.AttachedToDesktop),
                                  YesNo(adapter.MirroringDriver));
        for (const QString& id : ListMonitorIds(system, monitor.Name))
            lines << QStringLiteral("  Monitor id: %1").arg(id);
        TVitrelleDeviceInfo info;
        if (info.ReadFromSystem(system, monitor.Name)) {
            lines << QStringLiteral("  VESA id: %1").arg(info.GetVesaID())
                  << QStringLiteral("  PnP id: %1").arg(info.GetPnpID())
                  << QStringLiteral("  Manufacturer: %1").arg(info.GetManufacturer())
                  << QStringLiteral("  Model name: %1").arg(info.GetModel())
                  << QStringLiteral("  Serial number: %1").arg(info.GetSerial());
        } else {
            lines << QStringLiteral("  No identity could be read");
        }
        const std::optional<TSystemDisplayMode> current = system.CurrentDisplayMode(monitor.Name);
        lines << QStringLiteral("  Current mode: %1")
                     .arg(current ? TDisplayMode(*current).ToString() : QStringLiteral("unknown"));
        const QList<TSystemDisplayMode> modes = system.DisplayModes(monitor.Name);
        lines << QStringLiteral("  Supported modes: %1").arg(modes.size());
        for (const TSystemDisplayMode& mode : modes)
            lines << QStringLiteral("    %1").arg(TDisplayMode(mode).ToString());
    }
    lines << QString();
    lines << QStringLiteral("Monitor power (DPMS) available: %1")
                 .arg(YesNo(system.MonitorPowerOn().has_value()));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
