#include "XmlHelpers.h"

#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

QString GetNodeValue(TXmlNode node, const QString& path, const QString& defaultValue)
{
    if (node.IsNull() || path.isEmpty())
        return {};
    const TXmlNode found = node.SelectSingleNode(path);
    return found.IsNull() ? defaultValue : found.Text();
}

bool GetNodeBoolValue(TXmlNode node, const QString& path, bool defaultValue)
{
    const QString text = GetNodeValue(node, path, QString());
    if (text.isEmpty())
        return false;
    return TextToBool(text).value_or(defaultValue);
}

QString GetAttributeValue(TXmlNode element, const QString& name)
{
    if (element.IsNull() || name.isEmpty())
        return {};
    return element.Attribute(name);
}

void SetAttributeValue(TXmlDocument* document, TXmlNode element, const QString& name, const QString& value)
{
    if (document == nullptr || element.IsNull() || name.isEmpty())
        return;
    element.SetAttribute(name, value);
}

TXmlNode AddNodeValue(TXmlDocument* document, TXmlNode parent, const QString& name, const QString& value)
{
    if (document == nullptr || parent.IsNull() || name.isEmpty())
        return {};
    TXmlNode node = document->AppendElement(parent, name);
    node.SetText(value);
    return node;
}

QString ForceXmlExtension(const QString& fileName)
{
    const qsizetype separator = fileName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= separator)
        return fileName + QLatin1String(".xml");
    if (fileName.mid(dot).compare(QLatin1String(".xml"), Qt::CaseInsensitive) == 0)
        return fileName;
    return fileName.left(dot) + QLatin1String(".xml");
}

QString IncludeTrailingPathDelimiter(const QString& path)
{
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

bool SameTextAscii(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a.at(i).unicode();
        char16_t y = b.at(i).unicode();
        if (x >= u'A' && x <= u'Z')
            x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z')
            y = static_cast<char16_t>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

bool SamePath(const QString& a, const QString& b)
{
    return IncludeTrailingPathDelimiter(a) == IncludeTrailingPathDelimiter(b);
}

std::optional<bool> TextToBool(const QString& text)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    const double number = QLocale::c().toDouble(trimmed, &ok);
    if (ok)
        return number != 0.0;
    if (trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

QString BoolToText(bool value)
{
    return value ? QStringLiteral("-1") : QStringLiteral("0");
}

std::optional<int> TextToInt(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

std::optional<QTime> TextToTimeOfDay(const QString& text)
{
    // Files written on other systems carry the system's long time format: "8:05:00 PM", "20.05.00".
    // One separator throughout; an AM/PM suffix in any letter case, with or without a space before it.
    // ASCII digits only: other digits would match \d but not convert.
    static const QRegularExpression pattern(
        QStringLiteral("^([0-9]{1,2})([:.])([0-9]{2})(?:\\2([0-9]{2}))?(?:\\s*([AaPp][Mm]))?$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    int hours = match.captured(1).toInt();
    const int minutes = match.captured(3).toInt();
    const int seconds = match.captured(4).isEmpty() ? 0 : match.captured(4).toInt();
    const QString suffix = match.captured(5).toUpper();
    if (!suffix.isEmpty()) {
        // 12-hour clock: 12:05 AM is five past midnight, 12:05 PM five past noon; 0 and 13 have no place.
        if (hours < 1 || hours > 12)
            return std::nullopt;
        hours = hours % 12 + (suffix == QLatin1String("PM") ? 12 : 0);
    }
    const QTime time(hours, minutes, seconds);
    if (!time.isValid())
        return std::nullopt;
    return time;
}

QString TimeOfDayToText(const QTime& time)
{
    return (time.isValid() ? time : QTime(0, 0)).toString(QStringLiteral("HH:mm:ss"));
}
