#include "Edid.h"

#include "DisplaySystem.h"

#include <algorithm>

namespace {
constexpr qsizetype DescriptorOffsets[] = {54, 72, 90, 108};
constexpr qsizetype DescriptorSize = 18;
constexpr qsizetype DescriptorTextOffset = 4;
} // namespace

QByteArray EDIDBuffer(const QByteArray& data)
{
    QByteArray buffer = data.left(EDIDSize);
    buffer.append(EDIDSize - buffer.size(), '\0');
    return buffer;
}

QString EDIDManufacturer(const QByteArray& edid)
{
    const QByteArray buffer = EDIDBuffer(edid);
    const auto a = static_cast<quint8>(buffer.at(8));
    const auto b = static_cast<quint8>(buffer.at(9));
    const char letters[] = {
        static_cast<char>(((a & 0xFC) >> 2) + 64),
        static_cast<char>(static_cast<quint8>(((a & 0x03) << 3) + (b >> 5) + 64)),
        static_cast<char>((b & 0x1F) + 64),
    };
    return QString::fromLatin1(letters, 3);
}

QString EDIDDescriptorText(const QByteArray& edid, const QByteArray& tag)
{
    const QByteArray buffer = EDIDBuffer(edid);
    for (const qsizetype offset : DescriptorOffsets) {
        const QByteArray block = buffer.mid(offset, DescriptorSize);
        if (!block.contains(tag))
            continue;
        QByteArray text = block.mid(DescriptorTextOffset);
        while (!text.isEmpty() && static_cast<quint8>(text.back()) <= 32)
            text.chop(1);
        if (text.startsWith('\0'))
            text.remove(0, 1);
        return QString::fromLatin1(text);
    }
    return {};
}

QString EDIDToHex(const QByteArray& edid)
{
    QString hex;
    hex.reserve(EDIDSize * 16);
    for (const char byte : EDIDBuffer(edid))
        hex += QStringLiteral("%1").arg(static_cast<quint8>(byte), 16, 16, QLatin1Char('0')).toUpper();
    return hex;
}

QString VesaIdFromEDID(const QByteArray& edid)
{
    const QString manufacturer = EDIDManufacturer(edid);
    const bool letters = std::all_of(manufacturer.begin(), manufacturer.end(),
                                     [](QChar c) { return c >= QLatin1Char('A') && c <= QLatin1Char('Z'); });
    if (edid.size() < 12 || !letters)
        return QStringLiteral("Default_Monitor");
    const quint16 product = static_cast<quint8>(edid.at(10)) | (static_cast<quint8>(edid.at(11)) << 8);
    return manufacturer + QStringLiteral("%1").arg(product, 4, 16, QLatin1Char('0')).toUpper();
}

QByteArray ReadEDID(const IDisplaySystem& system, const QString& vesaId, const QString& pnpId)
{
    const std::optional<QList<TMonitorInstance>> instances = system.MonitorInstances(vesaId);
    if (instances)
        for (const TMonitorInstance& instance : *instances)
            if (instance.PnpID == pnpId)
                return EDIDBuffer(instance.EDID.value_or(QByteArray()));
    return EDIDBuffer({});
}
