#include "ScreenDisplaySystem.h"

#include "Edid.h"
#include "MonitorIds.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <cmath>

namespace {

qsizetype ScreenIndex(const QString& name)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (qsizetype i = 0; i < screens.size(); ++i)
        if (screens[i]->name() == name)
            return i;
    return -1;
}

const QString& DefaultVesaId()
{
    static const QString id = VesaIdFromEDID({});
    return id;
}

} // namespace

TScreenDisplaySystem::TScreenDisplaySystem(std::chrono::milliseconds settleTime)
    : FSettle(std::make_unique<QTimer>())
{
    FSettle->setSingleShot(true);
    FSettle->setInterval(settleTime);
    FSettle->callOnTimeout([this] { MonitorsChanged(); });
    // Without a toolkit application there are no screens to watch.
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (application == nullptr)
        return;
    QTimer* settle = FSettle.get();
    QObject::connect(application, &QGuiApplication::screenAdded, settle, [this, settle](QScreen* screen) {
        Watch(screen);
        settle->start();
    });
    QObject::connect(application, &QGuiApplication::screenRemoved, settle, [settle] { settle->start(); });
    QObject::connect(application, &QGuiApplication::primaryScreenChanged, settle,
                     [settle] { settle->start(); });
    for (QScreen* screen : QGuiApplication::screens())
        Watch(screen);
}

TScreenDisplaySystem::~TScreenDisplaySystem() = default;

void TScreenDisplaySystem::Watch(QScreen* screen)
{
    QTimer* settle = FSettle.get();
    QObject::connect(screen, &QScreen::geometryChanged, settle, [settle] { settle->start(); });
}

QList<TDesktopMonitor> TScreenDisplaySystem::Monitors() const
{
    QList<TDesktopMonitor> monitors;
    for (QScreen* screen : QGuiApplication::screens())
        monitors << TDesktopMonitor{
            screen->name(), screen->geometry(), {screen->name()}, screen == QGuiApplication::primaryScreen()};
    return monitors;
}

QList<TDisplayAdapter> TScreenDisplaySystem::Adapters() const
{
    QList<TDisplayAdapter> adapters;
    for (QScreen* screen : QGuiApplication::screens())
        adapters << TDisplayAdapter{screen->name(), true, false, screen == QGuiApplication::primaryScreen()};
    return adapters;
}

QList<TMonitorDevice> TScreenDisplaySystem::AdapterMonitors(const QString& adapterName) const
{
    const qsizetype index = ScreenIndex(adapterName);
    if (index < 0)
        return {};
    return {TMonitorDevice{MonitorDeviceId(DefaultVesaId(), int(index)), true}};
}

std::optional<QList<TMonitorInstance>> TScreenDisplaySystem::MonitorInstances(const QString& vesaId) const
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (vesaId != DefaultVesaId() || screens.isEmpty())
        return std::nullopt;
    QList<TMonitorInstance> instances;
    for (qsizetype i = 0; i < screens.size(); ++i)
        instances << TMonitorInstance{
            screens[i]->name(), MonitorDriverKey(int(i)),
            TSystemValue{TSystemValue::vsStrings, {QStringLiteral("MONITOR\\") + vesaId}}, true,
            std::nullopt};
    return instances;
}

QList<TSystemDisplayMode> TScreenDisplaySystem::DisplayModes(const QString&) const
{
    return {};
}

std::optional<TSystemDisplayMode> TScreenDisplaySystem::CurrentDisplayMode(const QString& adapterName) const
{
    const qsizetype index = ScreenIndex(adapterName);
    if (index < 0)
        return std::nullopt;
    const QScreen* screen = QGuiApplication::screens()[index];
    // The geometry is in device-independent pixels; the mode is in the monitor's own.
    const QSize size = (QSizeF(screen->geometry().size()) * screen->devicePixelRatio()).toSize();
    const int depth = screen->depth();
    return TSystemDisplayMode{quint32(size.width()), quint32(size.height()),
                              quint32(std::lround(screen->refreshRate())),
                              depth == 24 ? 32u : quint32(depth)};
}

bool TScreenDisplaySystem::SetDisplayMode(const QString&, const TSystemDisplayMode&)
{
    return false;
}

bool TScreenDisplaySystem::SetMonitorPower(bool)
{
    return false;
}

std::optional<bool> TScreenDisplaySystem::MonitorPowerOn() const
{
    return std::nullopt;
}
