#pragma once

#include "FrameVitrelleDevice.h"
#include "PageFixture.h"
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

    TFrameVitrelleDevice* OpenPage()
    {
        OpenForm();
        Idle();
        return qobject_cast<TFrameVitrelleDevice*>(CurrentPage);
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
    // what escapes.
    void Click(const QString& button)
    {
        Idle();
        QTest::mouseClick(Control<QAbstractButton>(button), Qt::LeftButton);
    }
};
