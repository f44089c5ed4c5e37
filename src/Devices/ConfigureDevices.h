#pragma once

#include <QList>
#include <QString>
#include <QStringList>

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
    const TVitrelleDeviceInfo* Info = nullptr;
    // The effective file name of the settings.
    QString FileName;
    // The display name of a live display that holds this file already (a monitor plugged in later must not
    // take it); empty when no display holds it.
    QString HeldBy = {};
};

struct TDeviceConfiguration
{
    // Per device, the index of its chosen settings among the candidates, or -1 for none.
    QList<qsizetype> Chosen;
    // The lines to log at level 3 under the agent's name, in order.
    QStringList LogLines;
};

// Gives each device at most one settings file and each file to at most one device. A device's pairs rank by
// the match score, except that its own file (DEVICE<Number>.xml, exact letter case) comes before all of them
// when no earlier file in the list scores more than it; ties go to the own file, then to the earlier file,
// then to the earlier device. Pairs are taken best first, skipping files held already and devices that have
// one. A pair with a score of 0 is no match, an own file excepted. A file that another device still without
// a file matches with the same score identifies neither (two displays of one model without serial number,
// neither on the output the file was written on): neither gets it. Devices and candidates are taken in list
// order.
//
// Logged per device in list order: for a chosen file, the files its search took on the way ("configuration
// files"); for a device that gets none although a file scores for it, the best such file and why it was not
// given.
TDeviceConfiguration ConfigureDevices(const QList<TDetectedDevice>& devices,
                                      const QList<TSettingsCandidate>& candidates);
