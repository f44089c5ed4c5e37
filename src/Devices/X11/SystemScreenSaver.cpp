#include "SystemScreenSaver.h"

#include "X11ScreenSaver.h"

#include <QGuiApplication>

namespace {

class TNoScreenSaver : public IScreenSaver
{
public:
    void Suspend() override {}
    void Resume() override {}
};

} // namespace

std::unique_ptr<IScreenSaver> CreateSystemScreenSaver()
{
    return CreateSystemScreenSaver(QGuiApplication::platformName());
}

std::unique_ptr<IScreenSaver> CreateSystemScreenSaver(const QString& platformName,
                                                      const QByteArray& displayName)
{
    if (platformName == QLatin1String("xcb"))
        return std::make_unique<TX11ScreenSaver>(displayName);
    return std::make_unique<TNoScreenSaver>();
}
