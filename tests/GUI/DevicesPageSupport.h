#pragma once

#include "EventWait.h"
#include "FrameVitrelleDevice.h"
#include "PageFixture.h"
#include "VitrelleCenterAgent.h"
#include "VitrelleDevice.h"
#include "VitrelleDeviceSettings.h"

#include <QAbstractButton>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest/QTest>

#include <functional>

// The Devices page of the operator's window, with the displays' settings files written before it opens.
class DevicesPageTest : public PageTest
{
protected:
    // A settings file in the device folder, as the operator saved it earlier (DEVICE1.xml belongs to HDMI-1).
    void WriteDeviceFile(const QString& file, const std::function<void(TVitrelleDeviceSettings&)>& fill)
    {
        TVitrelleDeviceSettings settings;
        fill(settings);
        QDir().mkpath(App.File("Devices"));
        ASSERT_TRUE(settings.SaveToFile(DeviceFile(file)));
    }
    QString DeviceFile(const QString& file) const { return App.File(QStringLiteral("Devices/") + file); }

    // Opens the window on this page once the displays have answered the page's first state queries.
    TFrameVitrelleDevice* OpenPage()
    {
        OpenForm();
        Idle();
        WaitForDisplays();
        return qobject_cast<TFrameVitrelleDevice*>(CurrentPage);
    }
    // Serves events until no display has an exchange running or waiting and their outcomes have reached the
    // page (an outcome may ask the display again).
    void WaitForDisplays()
    {
        const auto idle = [this] {
            for (int i = 0; i < Agent().DeviceCount(); ++i)
                if (Agent().Devices(i).Busy())
                    return false;
            return true;
        };
        for (int calm = 0; calm < 2;) {
            if (!ServeEventsUntil(idle, 20000)) {
                ADD_FAILURE() << "a display is still busy";
                return;
            }
            QCoreApplication::processEvents();
            calm = idle() ? calm + 1 : 0;
        }
        Idle();
    }
    QTabWidget* Tabs() { return Control<QTabWidget>(QStringLiteral("PageControl")); }
    bool Enabled(const char* button)
    {
        Idle();
        return Control<QPushButton>(QLatin1String(button))->isEnabled();
    }
    bool ApplyEnabled() { return Enabled("btnApplySettings"); }
    bool SaveEnabled() { return Enabled("btnSaveSettings"); }
    // A click as the operator's: after an idle moment, through the application, whose error boundary catches
    // what escapes; then what it asked of the displays is waited for.
    void Click(const QString& button)
    {
        Idle();
        QTest::mouseClick(Control<QAbstractButton>(button), Qt::LeftButton);
        WaitForDisplays();
    }
};
