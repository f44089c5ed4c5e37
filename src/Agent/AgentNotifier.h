#pragma once

#include <QObject>
#include <QString>

// What the agent tells those who show its state, the pages of the operator's window: displays that appeared
// or were let go while the program runs, a display renamed, a display's power state that may have changed, a
// new vitrelle list. Main thread: each signal is emitted there once the change is complete, and reaches any
// number of listeners; a listener connects for as long as it lives (a connection goes with its receiver).
class TAgentNotifier : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    // Displays (each with its player) have been added at the end of the agent's lists.
    void DevicesAdded();
    // The agent has let go of its device and player at this index and freed them; the devices after it are
    // one index lower.
    void DeviceRemoved(int device);
    // The device at this index is now called what its GetDisplayName says; its schedule sources (the
    // device's and its player's) had the names of oldName.
    void DeviceRenamed(int device, const QString& oldName);
    // A power command of the device at this index has run to its end (the operator's or a scheduled one):
    // its power state may have changed.
    void PowerStatusChanged(int device);
    // The repository has taken a new vitrelle list (and made its downloaders).
    void VitrelleListChanged();
};
