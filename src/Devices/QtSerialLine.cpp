#include "QtSerialLine.h"

#include "ThreadLink.h"

#include <QElapsedTimer>
#include <QSerialPort>

#include <algorithm>

namespace {

QSerialPort::DataBits ToQt(TDataBits value)
{
    switch (value) {
    case dbFive:
        return QSerialPort::Data5;
    case dbSix:
        return QSerialPort::Data6;
    case dbSeven:
        return QSerialPort::Data7;
    case dbEight:
        break;
    }
    return QSerialPort::Data8;
}

QSerialPort::Parity ToQt(TParityBits value)
{
    switch (value) {
    case prOdd:
        return QSerialPort::OddParity;
    case prEven:
        return QSerialPort::EvenParity;
    case prMark:
        return QSerialPort::MarkParity;
    case prSpace:
        return QSerialPort::SpaceParity;
    case prNone:
        break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits ToQt(TStopBits value)
{
    switch (value) {
    case sbOne5StopBits:
        return QSerialPort::OneAndHalfStop;
    case sbTwoStopBits:
        return QSerialPort::TwoStop;
    case sbOneStopBit:
        break;
    }
    return QSerialPort::OneStop;
}

QSerialPort::FlowControl ToQt(TFlowControl value)
{
    switch (value) {
    case fcHardware:
        return QSerialPort::HardwareControl;
    case fcSoftware:
        return QSerialPort::SoftwareControl;
    case fcNone:
    case fcCustom: // custom flags start cleared and nothing here sets them: no flow control
        break;
    }
    return QSerialPort::NoFlowControl;
}

class TQtSerialLine : public ISerialLine
{
public:
    explicit TQtSerialLine(const TSerialPortConfig& config) : FName(config.Port)
    {
        if (config.Port.isEmpty())
            throw ESerialError(QStringLiteral("No serial port is set"));
        const std::optional<qint32> baudRate = BaudRateValue(config.BaudRate);
        if (!baudRate)
            throw ESerialError(QStringLiteral("The serial port %1 has the baud rate %2, which names no speed")
                                   .arg(config.Port, BaudRateToStr(config.BaudRate)));
        FPort.setPortName(config.Port);
        FPort.setBaudRate(*baudRate);
        FPort.setDataBits(ToQt(config.DataBits));
        FPort.setParity(ToQt(config.Parity));
        FPort.setStopBits(ToQt(config.StopBits));
        FPort.setFlowControl(ToQt(config.FlowControl));
        if (!FPort.open(QIODevice::ReadWrite))
            throw ESerialError(
                QStringLiteral("Cannot open serial port %1: %2").arg(config.Port, FPort.errorString()));
        // What the driver holds from before this exchange is no answer to it.
        FPort.clear(QSerialPort::Input);
    }

    ~TQtSerialLine() override { FPort.close(); }

    qint64 Write(const QByteArray& bytes, int timeoutMs) override
    {
        FPort.clearError();
        if (FPort.write(bytes) < 0)
            Fail();
        QElapsedTimer elapsed;
        elapsed.start();
        while (FPort.bytesToWrite() > 0) {
            StopWhenAsked();
            const qint64 left = timeoutMs - elapsed.elapsed();
            if (!FPort.waitForBytesWritten(Slice(left))) {
                if (FPort.error() != QSerialPort::TimeoutError && FPort.error() != QSerialPort::NoError)
                    Fail();
                FPort.clearError();
                if (left <= 0)
                    break;
            }
        }
        return bytes.size() - FPort.bytesToWrite();
    }

    QByteArray Read(qint64 maxBytes, int timeoutMs) override
    {
        StopWhenAsked(); // also for a display that sends without a pause
        FPort.clearError();
        QElapsedTimer elapsed;
        elapsed.start();
        while (FPort.bytesAvailable() == 0) {
            StopWhenAsked();
            const qint64 left = timeoutMs - elapsed.elapsed();
            if (FPort.waitForReadyRead(Slice(left)))
                break;
            if (FPort.error() != QSerialPort::TimeoutError && FPort.error() != QSerialPort::NoError)
                Fail();
            FPort.clearError();
            if (elapsed.elapsed() >= timeoutMs)
                break;
        }
        const QByteArray bytes = FPort.read(maxBytes);
        if (FPort.error() != QSerialPort::NoError && FPort.error() != QSerialPort::TimeoutError)
            Fail();
        return bytes;
    }

private:
    // Waits are cut into slices, so that a stop request (the program ends, the display's worker goes) is
    // seen within one of them however long the time-out.
    static int Slice(qint64 leftMs)
    {
        return static_cast<int>(std::clamp<qint64>(leftMs, 0, TQtSerialPortFactory::WaitSliceMs));
    }

    void StopWhenAsked()
    {
        if (!WorkerStopRequested())
            return;
        FPort.close();
        throw ESerialError(QStringLiteral("Serial port %1: the exchange was abandoned").arg(FName));
    }

    [[noreturn]] void Fail()
    {
        // A device that went away (cable or adapter pulled, terminal closed) comes without a useful text.
        QString reason = FPort.errorString();
        if (FPort.error() == QSerialPort::ResourceError)
            reason = QStringLiteral("the device is no longer available");
        else if (FPort.error() == QSerialPort::ReadError)
            reason = QStringLiteral("reading failed, the device may no longer be available");
        throw ESerialError(QStringLiteral("Serial port %1 failed: %2").arg(FName, reason));
    }

    QString FName;
    QSerialPort FPort;
};

} // namespace

std::unique_ptr<ISerialLine> TQtSerialPortFactory::Open(const TSerialPortConfig& config) const
{
    return std::make_unique<TQtSerialLine>(config);
}
