// A display's reply on its serial line compared with the expected codes. The input is the expected code
// ("#" notation), a NUL byte, and the bytes the display sends, which arrive in pieces.
#include "FuzzSupport.h"

#include "DeviceControl.h"
#include "Errors.h"

#include <QThread>

namespace {

struct TWire
{
    QByteArray Reply;
    qsizetype Piece = 1;
    qsizetype Delivered = 0;
};

class TLine : public ISerialLine
{
public:
    explicit TLine(TWire& wire) : FWire(wire) {}
    qint64 Write(const QByteArray& bytes, int) override { return bytes.size(); }
    QByteArray Read(qint64 maxBytes, int timeoutMs) override
    {
        const qsizetype count =
            qMin<qsizetype>(qMin<qsizetype>(maxBytes, FWire.Piece), FWire.Reply.size() - FWire.Delivered);
        if (count <= 0) {
            QThread::msleep(static_cast<unsigned long>(qMax(0, timeoutMs)));
            return {};
        }
        const QByteArray bytes = FWire.Reply.mid(FWire.Delivered, count);
        FWire.Delivered += count;
        return bytes;
    }

private:
    TWire& FWire;
};

class TPorts : public ISerialPortFactory
{
public:
    explicit TPorts(TWire& wire) : FWire(wire) {}
    std::unique_ptr<ISerialLine> Open(const TSerialPortConfig&) const override
    {
        FWire.Delivered = 0;
        return std::make_unique<TLine>(FWire);
    }

private:
    TWire& FWire;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInitialize();
    const TFuzzParts parts = FuzzSplit(data, size);
    const QString expected = QString::fromUtf8(parts.First);
    TWire wire;
    wire.Reply = parts.Second;
    wire.Piece = 1 + static_cast<qsizetype>(size % 13);

    TDeviceControlSettings settings;
    settings.ComSettings.Port = QStringLiteral("/dev/ttyS0");
    // The reply ends when the line stays quiet for a millisecond.
    settings.ComSettings.TimeOutConstant = 1;
    settings.ComSettings.TimeOutPerChar = 0;
    settings.PowerOn = QStringLiteral("ka 01 01#13");
    settings.PowerOnOK = expected;
    settings.PowerStatus = QStringLiteral("ka 01 FF#13");
    settings.PowerStatusOn = expected;
    settings.PowerStatusOff = QStringLiteral("a 01 OK00x");
    TDeviceControl control(&settings, std::make_shared<TPorts>(wire));
    try {
        const bool on = control.PowerOn();
        const QString received = QString::fromLatin1(wire.Reply.left(wire.Delivered));
        FUZZ_CHECK(on == (!received.isEmpty() && received == DecodeControlCode(expected)),
                   QStringLiteral("the reply '%1' against the expected '%2' gives %3")
                       .arg(EncodeControlCode(received), expected,
                            on ? QStringLiteral("on") : QStringLiteral("off")));
        FUZZ_CHECK(wire.Delivered <= TDeviceControl::MaxReplyBytes,
                   QStringLiteral("more than a reply was taken"));
        const TPowerStatus status = control.GetPowerStatus();
        const QString statusReply = QString::fromLatin1(wire.Reply.left(wire.Delivered));
        if (!statusReply.isEmpty() && statusReply == DecodeControlCode(expected))
            FUZZ_CHECK(status == pwOn, QStringLiteral("the status reply matching 'on' is not taken as on"));
    } catch (const ESerialError&) {
        // Not reached with this line; a code of characters above 255 would be refused before the port.
    }
    FuzzResetGlobalState();
    return 0;
}
