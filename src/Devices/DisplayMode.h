#pragma once

#include "XmlDocument.h"

#include <QString>

struct TSystemDisplayMode;

// One screen resolution of a display. Values from wider sources keep their low bits (16 for the sizes, 8 for
// frequency and depth), so a stored frequency of 300 reads as 44, as files written elsewhere expect. A value:
// copied and compared field by field.
class TDisplayMode
{
public:
    TDisplayMode() = default;
    TDisplayMode(quint32 width, quint32 height, quint32 frequency, quint32 bitsPerPixel);
    explicit TDisplayMode(const TSystemDisplayMode& mode);

    bool operator==(const TDisplayMode&) const = default;

    quint16 GetWidth() const { return FWidth; }
    quint16 GetHeight() const { return FHeight; }
    quint8 GetFrequency() const { return FFrequency; }
    quint8 GetBitsPerPixel() const { return FBitsPerPixel; }

    // Element "DisplayMode" below the parent: Width, Height, Frequency, BitsPerPixel in decimal (absent or
    // not a number: 0). False for a null parent.
    bool LoadFromXML(TXmlNode parent);
    bool SaveToXML(TXmlDocument* document, TXmlNode parent) const;

    // "1920x1080, 60 Hz, 32 bits"
    QString ToString() const;
    // The mode as the system takes it for a switch.
    TSystemDisplayMode ToSystem() const;

private:
    quint16 FHeight = 0;
    quint16 FWidth = 0;
    quint8 FFrequency = 0;
    quint8 FBitsPerPixel = 0;
};
