#pragma once

#include "DeviceControl.h"
#include "DisplayMode.h"
#include "VitrelleDeviceInfo.h"
#include "XmlDocument.h"

#include <QString>

// One display's settings file in the device folder: the name the operator gave it, the identity of the
// display it was written for, the display mode wanted, whether the slide window covers the whole monitor, and
// the serial port and command codes that switch the display on and off. A value: copied and compared field
// by field (names with their letter case, the file name as held, the identity included).
class TVitrelleDeviceSettings
{
public:
    static constexpr QLatin1StringView LogSource{"TVitrelleDeviceSettings"};

    bool operator==(const TVitrelleDeviceSettings&) const = default;

    QString Name;
    // The file name without folder, as loaded or as to be saved; not part of the file.
    QString FileName;
    bool FullScreen = false;

    TVitrelleDeviceInfo& DeviceInfo() { return FDeviceInfo; }
    const TVitrelleDeviceInfo& DeviceInfo() const { return FDeviceInfo; }
    TDisplayMode& DisplayMode() { return FDisplayMode; }
    const TDisplayMode& DisplayMode() const { return FDisplayMode; }
    TDeviceControlSettings& ControlSettings() { return FControlSettings; }
    const TDeviceControlSettings& ControlSettings() const { return FControlSettings; }

    // FileName, else Name, with the ".xml" extension forced; empty when both are empty.
    QString GetFileName() const;

    // Raises "Cannot find configuration file %s" for a missing file. False for a file that does not parse or
    // whose root is not "VitrelleDevice" (the fields then keep their values, FileName excepted); missing or
    // malformed elements take their defaults.
    bool LoadFromFile(const QString& path);
    // Writes the whole file atomically; errors of the XML layer or the disk are raised.
    bool SaveToFile(const QString& path) const;
    // The same content as children of an element of another document (a file that carries settings to be
    // written later), and read back from one; source names where they came from in messages.
    void SaveToXML(TXmlDocument* document, TXmlNode element) const;
    void LoadFromXML(TXmlNode element, const QString& source);

private:
    TVitrelleDeviceInfo FDeviceInfo;
    TDisplayMode FDisplayMode;
    TDeviceControlSettings FControlSettings;
};
