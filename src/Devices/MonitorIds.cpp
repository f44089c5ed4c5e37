#include "MonitorIds.h"

#include "DisplaySystem.h"

#include <algorithm>

namespace {
constexpr qsizetype MaxDeviceIdLength = 128;

std::optional<TMonitorInstance> FindInstance(const IDisplaySystem& system, const QString& vesaId,
                                             const QString& pnpId)
{
    const std::optional<QList<TMonitorInstance>> instances = system.MonitorInstances(vesaId);
    if (instances)
        for (const TMonitorInstance& instance : *instances)
            if (instance.PnpID == pnpId)
                return instance;
    return std::nullopt;
}
} // namespace

QString MonitorDriverKey(int outputIndex)
{
    return QStringLiteral("%1\\%2").arg(MonitorClassGuid,
                                        QStringLiteral("%1").arg(outputIndex, 4, 10, QLatin1Char('0')));
}

QString MonitorDeviceId(const QString& vesaId, int outputIndex)
{
    return QStringLiteral("MONITOR\\%1\\%2").arg(vesaId, MonitorDriverKey(outputIndex));
}

std::optional<TMonitorIdParts> SplitMonitorId(const QString& monitorId)
{
    const qsizetype first = monitorId.indexOf(QLatin1Char('\\'), 1);
    if (first < 0)
        return std::nullopt;
    const qsizetype second = monitorId.indexOf(QLatin1Char('\\'), first + 1);
    if (second < 0)
        return std::nullopt;
    return TMonitorIdParts{monitorId.mid(first + 1, second - first - 1), monitorId.mid(second + 1)};
}

QStringList ListMonitorIds(const IDisplaySystem& system, const QString& adapterName)
{
    QStringList ids;
    for (const TMonitorDevice& monitor : system.AdapterMonitors(adapterName)) {
        if (!monitor.Active)
            continue;
        QString id = monitor.DeviceID.left(MaxDeviceIdLength);
        const qsizetype nul = id.indexOf(QChar(0));
        ids << (nul < 0 ? id : id.left(nul));
    }
    return ids;
}

QString FindInstanceByDriver(const IDisplaySystem& system, const QString& vesaId, const QString& driverKey)
{
    const std::optional<QList<TMonitorInstance>> instances = system.MonitorInstances(vesaId);
    if (instances)
        for (const TMonitorInstance& instance : *instances)
            if (instance.Driver == driverKey)
                return instance.PnpID;
    return {};
}

bool IsPresentMonitor(const IDisplaySystem& system, const QString& vesaId, const QString& pnpId)
{
    const std::optional<TMonitorInstance> instance = FindInstance(system, vesaId, pnpId);
    if (!instance || instance->HardwareID.State == TSystemValue::vsMissing)
        return false;
    const QStringList hardwareId = ReadMultiString(system, vesaId, pnpId);
    return !hardwareId.isEmpty() &&
           hardwareId.first().startsWith(QLatin1String("Monitor\\"), Qt::CaseInsensitive) &&
           instance->ControlPresent;
}

QStringList ReadMultiString(const IDisplaySystem& system, const QString& vesaId, const QString& pnpId)
{
    const std::optional<TMonitorInstance> instance = FindInstance(system, vesaId, pnpId);
    if (!instance)
        return {};
    switch (instance->HardwareID.State) {
    case TSystemValue::vsMissing:
    case TSystemValue::vsUnreadable:
        throw EDisplaySystemError(QStringLiteral("Error while reading EDID value"));
    case TSystemValue::vsOtherType:
        throw EDisplaySystemError(QStringLiteral("EDID value type is not MULTI_SZ"));
    case TSystemValue::vsStrings:
        break;
    }
    QStringList strings;
    for (const QString& text : instance->HardwareID.Strings) {
        if (text.isEmpty())
            break;
        strings << text;
    }
    return strings;
}

QString CommaText(const QStringList& items)
{
    QStringList parts;
    for (const QString& item : items) {
        const bool quote = std::any_of(item.begin(), item.end(), [](QChar c) {
            return c.unicode() <= 32 || c == QLatin1Char(',') || c == QLatin1Char('"');
        });
        parts << (quote ? QStringLiteral("\"%1\"").arg(
                              QString(item).replace(QLatin1String("\""), QLatin1String("\"\"")))
                        : item);
    }
    return parts.join(QLatin1Char(','));
}
