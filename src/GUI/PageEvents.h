#pragma once

#include <QObject>
#include <QString>

// News the pages pass on to each other: the Settings page has loaded a new vitrelle list; and news of the
// agent: displays have appeared or been let go while the program runs, or a display has been given another
// name. The main window owns it and gives it to every page.
class TPageEvents : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void VitrelleListChanged();
    void DevicesAdded();
    // The agent has let go of its device (and player) at this index; those after it are one index lower.
    void DeviceRemoved(int device);
    // The agent's device at this index is now called what its GetDisplayName says; its schedule sources
    // (the device's and its player's) had the names of oldName.
    void DeviceRenamed(int device, const QString& oldName);
};
