#pragma once

#include "VitrellePlayer.h"

#include <QObject>
#include <QString>

#include <utility>
#include <vector>

// News the pages pass on to each other: the Settings page has loaded a new vitrelle list, displays have
// appeared or been let go while the program runs, or the Devices page has given a display another name. The
// main window owns it and gives it to every page.
class TPageEvents : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The schedule's renames when a display is given another name: its own actions and its player's.
    static std::vector<std::pair<QString, QString>> SourceRenames(const QString& oldDisplayName,
                                                                  const QString& newDisplayName)
    {
        return {
            {oldDisplayName, newDisplayName},
            {TVitrellePlayer::SourceNameOf(oldDisplayName), TVitrellePlayer::SourceNameOf(newDisplayName)}};
    }

Q_SIGNALS:
    void VitrelleListChanged();
    void DevicesAdded();
    // The agent has let go of its device (and player) at this index; those after it are one index lower.
    void DeviceRemoved(int device);
    // The agent's device at this index is now called what its GetDisplayName says; its schedule sources
    // (the device's and its player's) had the names of oldName.
    void DeviceRenamed(int device, const QString& oldName);
};
