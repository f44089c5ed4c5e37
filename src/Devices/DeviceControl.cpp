#include "DeviceControl.h"

#include "Log.h"
#include "MainThread.h"
#include "XmlHelpers.h"

#include <QElapsedTimer>

#include <limits>

namespace {

const QString CommandCodesElement = QStringLiteral("CommandCodes");

int ClampMs(qint64 ms)
{
    return static_cast<int>(qBound<qint64>(0, ms, qint64(std::numeric_limits<int>::max())));
}

// The reply is every byte that arrives until the line has been quiet past the deadline, which starts at the
// constant and moves on by the per-character time-out with each byte received; the whole exchange (timed
// by exchange) ends at limitMs all the same.
QByteArray ReadReply(ISerialLine& line, const TSerialPortConfig& config, const QElapsedTimer& exchange,
                     qint64 limitMs)
{
    QByteArray reply;
    QElapsedTimer elapsed;
    elapsed.start();
    while (reply.size() < TDeviceControl::MaxReplyBytes) {
        const qint64 deadline =
            qMax(0, config.ReadTotalConstant) + qint64(qMax(0, config.ReadTotalMultiplier)) * reply.size();
        const qint64 left = qMin(deadline - elapsed.elapsed(), limitMs - exchange.elapsed());
        if (left <= 0)
            break;
        reply += line.Read(TDeviceControl::MaxReplyBytes - reply.size(), ClampMs(left));
    }
    return reply;
}

} // namespace

QString DecodeControlCode(const QString& code)
{
    QString result;
    result.reserve(code.size());
    const qsizetype size = code.size();
    qsizetype i = 0;
    while (i < size) {
        const QChar c = code.at(i++);
        if (c != QLatin1Char('#')) {
            result += c;
            continue;
        }
        if (i < size && code.at(i) == QLatin1Char('#')) {
            result += QLatin1Char('#');
            ++i;
            continue;
        }
        int value = 0;
        int digits = 0;
        while (i < size && digits < 3 && code.at(i) >= QLatin1Char('0') && code.at(i) <= QLatin1Char('9')) {
            value = value * 10 + (code.at(i).unicode() - u'0');
            ++digits;
            ++i;
        }
        // A "#" before anything else, or at the end, gives nothing.
        if (digits > 0)
            result += QChar(static_cast<char16_t>(value));
    }
    return result;
}

QString EncodeControlCode(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() <= 32)
            result += QLatin1Char('#') + QString::number(c.unicode());
        else
            result += c;
    }
    return result;
}

bool TDeviceControlSettings::LoadFromXML(TXmlNode element, const QString& source)
{
    if (element.IsNull())
        return false;
    ComSettings.LoadFromXML(element, source);
    const auto code = [&](const char* name) {
        return GetNodeValue(element, CommandCodesElement + QLatin1Char('/') + QLatin1String(name), QString());
    };
    PowerOn = code("PowerOn");
    PowerOnOK = code("PowerOnOK");
    PowerOff = code("PowerOff");
    PowerOffOK = code("PowerOffOK");
    PowerStatus = code("PowerStatus");
    PowerStatusOn = code("PowerStatusOn");
    PowerStatusOff = code("PowerStatusOff");
    return true;
}

bool TDeviceControlSettings::SaveToXML(TXmlDocument* document, TXmlNode parent) const
{
    if (document == nullptr || parent.IsNull())
        return false;
    ComSettings.SaveToXML(document, parent);
    TXmlNode codes = document->AppendElement(parent, CommandCodesElement);
    AddNodeValue(document, codes, QStringLiteral("PowerOn"), PowerOn);
    AddNodeValue(document, codes, QStringLiteral("PowerOnOK"), PowerOnOK);
    AddNodeValue(document, codes, QStringLiteral("PowerOff"), PowerOff);
    AddNodeValue(document, codes, QStringLiteral("PowerOffOK"), PowerOffOK);
    AddNodeValue(document, codes, QStringLiteral("PowerStatus"), PowerStatus);
    AddNodeValue(document, codes, QStringLiteral("PowerStatusOn"), PowerStatusOn);
    AddNodeValue(document, codes, QStringLiteral("PowerStatusOff"), PowerStatusOff);
    return true;
}

TDeviceControl::TDeviceControl(const TDeviceControlSettings* settings,
                               std::shared_ptr<const ISerialPortFactory> ports, qint64 exchangeLimitMs)
    : FSettings(settings), FPorts(std::move(ports)), FExchangeLimitMs(exchangeLimitMs)
{
    if (!FPorts)
        throw EVitrelleError(QStringLiteral("TDeviceControl needs a serial port factory"));
    if (FSettings != nullptr)
        ApplyComSettings(FSettings->ComSettings);
}

TDeviceControl::~TDeviceControl() = default;

void TDeviceControl::ApplyComSettings(const TComSettings& settings)
{
    FComPort.Port = settings.Port;
    FComPort.BaudRate = settings.BaudRate;
    FComPort.DataBits = settings.DataBits;
    FComPort.StopBits = settings.StopBits;
    FComPort.Parity = settings.Parity;
    FComPort.FlowControl = settings.FlowControl;
    FComPort.ReadTotalMultiplier = settings.TimeOutPerChar;
    FComPort.ReadTotalConstant = settings.TimeOutConstant;
    FComPort.WriteTotalMultiplier = settings.TimeOutPerChar;
    FComPort.WriteTotalConstant = settings.TimeOutConstant;
}

TControlSnapshot TDeviceControl::Snapshot() const
{
    VC_ASSERT_MAIN_THREAD();
    TControlSnapshot snapshot;
    snapshot.Port = FComPort;
    if (FSettings != nullptr) {
        static_cast<TControlCodes&>(snapshot) = *FSettings;
    }
    return snapshot;
}

bool TDeviceControl::SendCode(const QString& code, QString& reply)
{
    VC_ASSERT_MAIN_THREAD();
    return SendCode(FComPort, code, reply);
}

bool TDeviceControl::SendCode(const TSerialPortConfig& port, const QString& code, QString& reply) const
{
    reply.clear();
    if (code.isEmpty())
        return false;
    const QString decoded = DecodeControlCode(code);
    for (const QChar c : decoded) {
        // One character is one byte on the line; anything else would go out as some other byte.
        if (c.unicode() > 255)
            throw ESerialError(
                QStringLiteral(
                    "The code '%1' for serial port %2 holds the character %3, which is not one byte")
                    .arg(code, port.Port, QString::number(c.unicode())));
    }
    const QByteArray bytes = decoded.toLatin1();

    QElapsedTimer exchange;
    exchange.start();
    // The line closes when it goes out of scope, also when the port fails.
    const std::unique_ptr<ISerialLine> line = FPorts->Open(port);
    const qint64 writeTimeout =
        qMax(0, port.WriteTotalConstant) + qint64(qMax(0, port.WriteTotalMultiplier)) * bytes.size();
    const qint64 written =
        line->Write(bytes, ClampMs(qMin(writeTimeout, FExchangeLimitMs - exchange.elapsed())));
    WriteLog(LogSource, 3,
             QStringLiteral("Code '%1' envoyé sur le port %2 (longueur envoyé : %3) ...")
                 .arg(code, port.Port, QString::number(written)));

    const QByteArray received = ReadReply(*line, port, exchange, FExchangeLimitMs);
    reply = QString::fromLatin1(received);
    WriteLog(LogSource, 3,
             QStringLiteral("Réponse recue sur le port %1 : '%2' (longueur recue : %3)")
                 .arg(port.Port, EncodeControlCode(reply), QString::number(received.size())));
    return !reply.isEmpty();
}

bool TDeviceControl::SendAndExpect(const QString& code, const QString& expected)
{
    VC_ASSERT_MAIN_THREAD();
    return SendAndExpect(FComPort, code, expected);
}

bool TDeviceControl::SendAndExpect(const TSerialPortConfig& port, const QString& code,
                                   const QString& expected) const
{
    const QString wanted = DecodeControlCode(expected);
    QString reply;
    return SendCode(port, code, reply) && reply == wanted;
}

bool TDeviceControl::PowerOn()
{
    return FSettings != nullptr && Power(Snapshot(), true);
}

bool TDeviceControl::PowerOff()
{
    return FSettings != nullptr && Power(Snapshot(), false);
}

bool TDeviceControl::Power(const TControlSnapshot& snapshot, bool on)
{
    const bool done = on ? SendAndExpect(snapshot.Port, snapshot.PowerOn, snapshot.PowerOnOK)
                         : SendAndExpect(snapshot.Port, snapshot.PowerOff, snapshot.PowerOffOK);
    if (done)
        State = on ? pwOn : pwOff;
    return done;
}

TPowerStatus TDeviceControl::GetPowerStatus()
{
    return QueryPowerStatus(Snapshot());
}

TPowerStatus TDeviceControl::QueryPowerStatus(const TControlSnapshot& snapshot)
{
    TPowerStatus answer = pwUnknown;
    if (!snapshot.PowerStatus.isEmpty() && !snapshot.PowerStatusOn.isEmpty() &&
        !snapshot.PowerStatusOff.isEmpty()) {
        QString reply;
        if (SendCode(snapshot.Port, snapshot.PowerStatus, reply)) {
            if (reply == DecodeControlCode(snapshot.PowerStatusOn))
                answer = pwOn;
            else if (reply == DecodeControlCode(snapshot.PowerStatusOff))
                answer = pwOff;
        }
    }
    // A query never turns a known state into an unknown one.
    if (answer == pwUnknown)
        return State;
    State = answer;
    return answer;
}
