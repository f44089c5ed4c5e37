#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class IDeviceInfo;
class TVitrelleDeviceInfo;

// A detected display device, as the matching sees it.
struct TDetectedDevice
{
    // The device's number (1, 2, ...): its own settings file is DEVICE<Number>.xml.
    int Number = 0;
    QString DisplayName;
    const TVitrelleDeviceInfo* Info = nullptr;
};

// A loaded device settings file, as the matching sees it.
struct TSettingsCandidate
{
    const IDeviceInfo* Info = nullptr;
    // The effective file name of the settings.
    QString FileName;
};

struct TDeviceConfiguration
{
    // Per device, the index of its chosen settings among the candidates, or -1 for none.
    QList<qsizetype> Chosen;
    // The lines to log at level 3 under the agent's name, in order.
    QStringList LogLines;
};

// Chooses one settings file per device: the highest match score so far wins, ties going to the earlier file;
// the device's own file (DEVICE<Number>.xml, exact letter case) ends the search when it is reached without
// beating the best score, also with score 0. Every file taken on the way is listed in the device's
// "configuration files" line. Devices and candidates are taken in list order.
TDeviceConfiguration ConfigureDevices(const QList<TDetectedDevice>& devices,
                                      const QList<TSettingsCandidate>& candidates);
