#include "ComSettings.h"

#include "Log.h"
#include "XmlHelpers.h"

#include <array>

namespace {

constexpr std::array BaudRateTexts{"Custom", "110",    "300",    "600",   "1200",  "2400",
                                   "4800",   "9600",   "14400",  "19200", "38400", "56000",
                                   "57600",  "115200", "128000", "256000"};
constexpr std::array DataBitsTexts{"5", "6", "7", "8"};
constexpr std::array ParityTexts{"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array StopBitsTexts{"1", "1.5", "2"};
constexpr std::array FlowControlTexts{"Hardware", "Software", "None", "Custom"};

template <typename TEnum, size_t N>
TEnum FromText(const std::array<const char*, N>& texts, const QString& text, TEnum fallback)
{
    const QString wanted = text.trimmed();
    for (size_t i = 0; i < N; ++i) {
        if (SameTextAscii(wanted, QLatin1String(texts[i])))
            return static_cast<TEnum>(i);
    }
    return fallback;
}

template <size_t N> QString ToText(const std::array<const char*, N>& texts, size_t index)
{
    return index < N ? QLatin1String(texts[index]) : QString();
}

const QString ComPortElement = QStringLiteral("ComPort");

// A time-out read from a file, within its bounds; what is out of them is said once, where it was read.
qint32 BoundedTimeOut(const QString& source, const char* what, qint32 value, qint32 fallback, qint32 maximum)
{
    qint32 bounded = value;
    if (value < 0)
        bounded = fallback;
    else if (value > maximum)
        bounded = maximum;
    if (bounded != value)
        WriteLog(
            TComSettings::LogSource, 2,
            QStringLiteral("The serial time-out %1 of %2 ms in %3 is out of bounds (0 to %4 ms); %5 ms is "
                           "used")
                .arg(QLatin1String(what), QString::number(value),
                     source.isEmpty() ? QStringLiteral("the settings") : source, QString::number(maximum),
                     QString::number(bounded)));
    return bounded;
}

} // namespace

QString BaudRateToStr(TBaudRate value)
{
    return ToText(BaudRateTexts, value);
}
QString DataBitsToStr(TDataBits value)
{
    return ToText(DataBitsTexts, value);
}
QString ParityToStr(TParityBits value)
{
    return ToText(ParityTexts, value);
}
QString StopBitsToStr(TStopBits value)
{
    return ToText(StopBitsTexts, value);
}
QString FlowControlToStr(TFlowControl value)
{
    return ToText(FlowControlTexts, value);
}
TBaudRate StrToBaudRate(const QString& text)
{
    return FromText(BaudRateTexts, text, br9600);
}
TDataBits StrToDataBits(const QString& text)
{
    return FromText(DataBitsTexts, text, dbEight);
}
TParityBits StrToParity(const QString& text)
{
    return FromText(ParityTexts, text, prNone);
}
TStopBits StrToStopBits(const QString& text)
{
    return FromText(StopBitsTexts, text, sbOneStopBit);
}
TFlowControl StrToFlowControl(const QString& text)
{
    return FromText(FlowControlTexts, text, fcNone);
}

std::optional<qint32> BaudRateValue(TBaudRate value)
{
    if (value == brCustom || value >= BaudRateTexts.size())
        return std::nullopt;
    return QLatin1String(BaudRateTexts[value]).toInt();
}

bool TComSettings::LoadFromXML(TXmlNode element, const QString& source)
{
    if (element.IsNull())
        return false;
    const auto text = [&](const char* path) { return GetNodeValue(element, QLatin1String(path), QString()); };
    Port = text("ComPort/Port");
    BaudRate = StrToBaudRate(text("ComPort/BaudsRate"));
    DataBits = StrToDataBits(text("ComPort/DataBits"));
    Parity = StrToParity(text("ComPort/ParityBits"));
    StopBits = StrToStopBits(text("ComPort/StopBits"));
    FlowControl = StrToFlowControl(text("ComPort/FlowControl"));
    // A number that does not read as one takes the default, like a missing element.
    TimeOutConstant = BoundedTimeOut(
        source, "Constant", TextToInt(text("ComPort/TimeOut/Constant")).value_or(DefaultTimeOutConstant),
        DefaultTimeOutConstant, MaxTimeOutConstant);
    TimeOutPerChar = BoundedTimeOut(
        source, "PerChar", TextToInt(text("ComPort/TimeOut/PerChar")).value_or(DefaultTimeOutPerChar),
        DefaultTimeOutPerChar, MaxTimeOutPerChar);
    return true;
}

void TComSettings::SaveToXML(TXmlDocument* document, TXmlNode parent) const
{
    if (document == nullptr || parent.IsNull())
        return;
    TXmlNode node = document->AppendElement(parent, ComPortElement);
    AddNodeValue(document, node, QStringLiteral("Port"), Port);
    AddNodeValue(document, node, QStringLiteral("BaudsRate"), BaudRateToStr(BaudRate));
    AddNodeValue(document, node, QStringLiteral("DataBits"), DataBitsToStr(DataBits));
    AddNodeValue(document, node, QStringLiteral("ParityBits"), ParityToStr(Parity));
    AddNodeValue(document, node, QStringLiteral("StopBits"), StopBitsToStr(StopBits));
    AddNodeValue(document, node, QStringLiteral("FlowControl"), FlowControlToStr(FlowControl));
    TXmlNode timeOut = document->AppendElement(node, QStringLiteral("TimeOut"));
    AddNodeValue(document, timeOut, QStringLiteral("Constant"), QString::number(TimeOutConstant));
    AddNodeValue(document, timeOut, QStringLiteral("PerChar"), QString::number(TimeOutPerChar));
}
