#include "SystemDisplaySystem.h"

#include "DeferredDisplaySystem.h"
#include "Log.h"
#include "ScreenDisplaySystem.h"
#include "X11DisplaySystem.h"

#include <QGuiApplication>

namespace {

std::unique_ptr<IDisplaySystem> ChooseDisplaySystem(const QString& platformName,
                                                    const QByteArray& displayName)
{
    if (platformName == QLatin1String("xcb")) {
        try {
            return std::make_unique<TX11DisplaySystem>(displayName);
        } catch (const EDisplaySystemError& error) {
            WriteLog(SystemDisplaySystemLogSource, 2,
                     QStringLiteral("%1; the displays are read from the screens, without modes or power")
                         .arg(error.Message()));
        }
    }
    return std::make_unique<TScreenDisplaySystem>();
}

} // namespace

std::unique_ptr<IDisplaySystem> CreateSystemDisplaySystem()
{
    return std::make_unique<TDeferredDisplaySystem>(
        [] { return ChooseDisplaySystem(QGuiApplication::platformName(), {}); });
}

std::unique_ptr<IDisplaySystem> CreateSystemDisplaySystem(const QString& platformName,
                                                          const QByteArray& displayName)
{
    return std::make_unique<TDeferredDisplaySystem>(
        [platformName, displayName] { return ChooseDisplaySystem(platformName, displayName); });
}
