#pragma once

#include "XmlDocument.h"

#include <QString>

#include <optional>

// Port settings as the settings files hold them. The value lists and their texts are fixed: files written by
// earlier installations carry these texts, and the settings dialog lists the values in this order.
enum TBaudRate : quint8
{
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TDataBits : quint8
{
    dbFive,
    dbSix,
    dbSeven,
    dbEight
};
enum TParityBits : quint8
{
    prNone,
    prOdd,
    prEven,
    prMark,
    prSpace
};
enum TStopBits : quint8
{
    sbOneStopBit,
    sbOne5StopBits,
    sbTwoStopBits
};
enum TFlowControl : quint8
{
    fcHardware,
    fcSoftware,
    fcNone,
    fcCustom
};

// Text forms ("Custom", "9600"; "8"; "None"; "1.5"; "Hardware"). Reading ignores surrounding blanks and ASCII
// letter case; an empty or unknown text gives the port default (9600 baud, 8 data bits, no parity, 1 stop
// bit, no flow control).
QString BaudRateToStr(TBaudRate value);
QString DataBitsToStr(TDataBits value);
QString ParityToStr(TParityBits value);
QString StopBitsToStr(TStopBits value);
QString FlowControlToStr(TFlowControl value);
TBaudRate StrToBaudRate(const QString& text);
TDataBits StrToDataBits(const QString& text);
TParityBits StrToParity(const QString& text);
TStopBits StrToStopBits(const QString& text);
TFlowControl StrToFlowControl(const QString& text);
// Bits per second; nothing for brCustom, which names no speed.
std::optional<qint32> BaudRateValue(TBaudRate value);

// Which serial port a display listens on and how to talk on it. A value: copied and compared field by field;
// it never opens anything (a display's control takes new settings when the display applies them).
class TComSettings
{
public:
    static constexpr QLatin1StringView LogSource{"TComSettings"};

    QString Port; // a tty path, e.g. /dev/ttyS0 or /dev/ttyUSB0
    TBaudRate BaudRate = br9600;
    TDataBits DataBits = dbEight;
    TParityBits Parity = prNone;
    TStopBits StopBits = sbOneStopBit;
    TFlowControl FlowControl = fcNone;
    // A new holder has the same time-outs as a file without them: with none, a display's reply is never
    // read, and a display set up from scratch would never answer.
    qint32 TimeOutConstant = DefaultTimeOutConstant; // ms, constant part of the read and write time-outs
    qint32 TimeOutPerChar = DefaultTimeOutPerChar;   // ms per character

    static constexpr qint32 DefaultTimeOutConstant = 250;
    static constexpr qint32 DefaultTimeOutPerChar = 20;
    // The longest time-outs taken from a file or the dialog: a display that never answers must not hold
    // its port (and every later command of that display) for long.
    static constexpr qint32 MaxTimeOutConstant = 30000;
    static constexpr qint32 MaxTimeOutPerChar = 1000;

    bool operator==(const TComSettings&) const = default;

    // Reads the child "ComPort" of element; missing values take the defaults. A time-out above its maximum
    // takes the maximum, a negative one the default, each logged at level 2 with source (the file read) and
    // the value. False for a null element.
    bool LoadFromXML(TXmlNode element, const QString& source = {});
    // Appends "ComPort" with its children to parent.
    void SaveToXML(TXmlDocument* document, TXmlNode parent) const;
};
