#include "DisplayMode.h"

#include "DisplaySystem.h"
#include "XmlHelpers.h"

namespace {
const QString DisplayModeElement = QStringLiteral("DisplayMode");
const QString WidthElement = QStringLiteral("Width");
const QString HeightElement = QStringLiteral("Height");
const QString FrequencyElement = QStringLiteral("Frequency");
const QString BitsPerPixelElement = QStringLiteral("BitsPerPixel");

// The number at the path below the parent, 0 when absent or not a number; the caller keeps its low bits.
quint32 ReadNumber(TXmlNode parent, const QString& name)
{
    const QString path = DisplayModeElement + QLatin1Char('/') + name;
    return static_cast<quint32>(TextToInt(GetNodeValue(parent, path, QString())).value_or(0));
}
} // namespace

TDisplayMode::TDisplayMode(quint32 width, quint32 height, quint32 frequency, quint32 bitsPerPixel)
    : FHeight(static_cast<quint16>(height)), FWidth(static_cast<quint16>(width)),
      FFrequency(static_cast<quint8>(frequency)), FBitsPerPixel(static_cast<quint8>(bitsPerPixel))
{
}

TDisplayMode::TDisplayMode(const TSystemDisplayMode& mode)
    : TDisplayMode(mode.Width, mode.Height, mode.Frequency, mode.BitsPerPixel)
{
}

bool TDisplayMode::LoadFromXML(TXmlNode parent)
{
    if (parent.IsNull())
        return false;
    *this = TDisplayMode(ReadNumber(parent, WidthElement), ReadNumber(parent, HeightElement),
                         ReadNumber(parent, FrequencyElement), ReadNumber(parent, BitsPerPixelElement));
    return true;
}

bool TDisplayMode::SaveToXML(TXmlDocument* document, TXmlNode parent) const
{
    if (document == nullptr || parent.IsNull())
        return false;
    const TXmlNode element = document->AppendElement(parent, DisplayModeElement);
    AddNodeValue(document, element, WidthElement, QString::number(FWidth));
    AddNodeValue(document, element, HeightElement, QString::number(FHeight));
    AddNodeValue(document, element, FrequencyElement, QString::number(FFrequency));
    AddNodeValue(document, element, BitsPerPixelElement, QString::number(FBitsPerPixel));
    return true;
}

QString TDisplayMode::ToString() const
{
    return QStringLiteral("%1x%2, %3 Hz, %4 bits")
        .arg(QString::number(FWidth), QString::number(FHeight), QString::number(FFrequency),
             QString::number(FBitsPerPixel));
}

TSystemDisplayMode TDisplayMode::ToSystem() const
{
    return TSystemDisplayMode{FWidth, FHeight, FFrequency, FBitsPerPixel};
}
