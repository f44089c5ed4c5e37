#pragma once

#include "XmlDocument.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>

class IDisplaySystem;

// The identity of one physical display: model name, manufacturer letters and serial number from its EDID, and
// the VESA id and PnP id the system knows it by. Read from the system for an attached display, or kept as a
// copy in a device settings file. A value, copied and compared field by field (the model as stored: an empty
// one is not GenericModel). Main thread only.
class TVitrelleDeviceInfo
{
public:
    static constexpr QLatin1StringView LogSource{"TVitrelleDeviceInfo"};
    // The model of a display whose EDID names none.
    static constexpr QLatin1StringView GenericModel{"Generic display device"};

    bool operator==(const TVitrelleDeviceInfo&) const = default;

    // The same identity with its model as GetModel gives it (GenericModel for none): what a settings file
    // records of a display that is present.
    TVitrelleDeviceInfo WithModelNamed() const;
    // 0 to 5: one point for every non-empty own field equal to the other's getter (model and manufacturer
    // without regard to letter case). The agent picks a display's settings file by it.
    int MatchScore(const TVitrelleDeviceInfo& other) const;

    QString GetModel() const;
    QString GetManufacturer() const { return FManufacturer; }
    QString GetSerial() const { return FSerial; }
    QString GetVesaID() const { return FVesaID; }
    QString GetPnpID() const { return FPnpID; }

    const QString& Model() const { return FModel; }
    void SetModel(const QString& value) { FModel = value; }
    void SetManufacturer(const QString& value) { FManufacturer = value; }
    void SetSerial(const QString& value) { FSerial = value; }
    void SetVesaID(const QString& value) { FVesaID = value; }
    void SetPnpID(const QString& value) { FPnpID = value; }

    // Element "DeviceInfo" below the parent: Model, Manufacturer, Serial, VesaID, PnpID (absent: empty).
    // False for a null parent.
    bool LoadFromXML(TXmlNode parent);
    bool SaveToXML(TXmlDocument* document, TXmlNode parent) const;

    // Manufacturer, model and serial from the EDID bytes (only the first 256 looked at, missing ones zero);
    // control characters that the settings file cannot hold are left out of the texts.
    void ParseEDID(const QByteArray& edid);

    // The named adapter is attached to the desktop and is not mirroring another; the first adapter of that
    // name decides and its state is logged. False, silently, when there is none.
    static bool IsAdapterActive(const IDisplaySystem& system, const QString& adapterName);
    // Identifies the monitor on the adapter: its VESA and PnP ids and its EDID identity. The last present
    // monitor of the adapter wins. A monitor whose entries cannot be read is logged as an error and passed
    // over; the identity keeps what was read. True when a monitor was identified.
    bool ReadFromSystem(const IDisplaySystem& system, const QString& adapterName);

private:
    QString FVesaID;
    QString FPnpID;
    QString FManufacturer;
    QString FModel;
    QString FSerial;
};
