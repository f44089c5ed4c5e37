#pragma once

#include "ComSettings.h"
#include "Errors.h"

#include <QByteArray>
#include <QString>

#include <memory>

// A serial port that cannot be opened, is in use, or fails during an exchange.
class ESerialError : public EVitrelleError
{
public:
    using EVitrelleError::EVitrelleError;
};

// What a port is opened with: the line settings and the read and write time-outs (a total of constant +
// multiplier x characters, in milliseconds).
struct TSerialPortConfig
{
    QString Port;
    TBaudRate BaudRate = br9600;
    TDataBits DataBits = dbEight;
    TParityBits Parity = prNone;
    TStopBits StopBits = sbOneStopBit;
    TFlowControl FlowControl = fcNone;
    qint32 ReadTotalMultiplier = 0;
    qint32 ReadTotalConstant = 0;
    qint32 WriteTotalMultiplier = 0;
    qint32 WriteTotalConstant = 0;
};

// One open serial line, in raw mode: bytes 0-255 pass unchanged both ways. Closed when destroyed.
// Every failure of the line raises ESerialError.
class ISerialLine
{
public:
    virtual ~ISerialLine() = default;
    // Writes the bytes, giving up after timeoutMs; the number of bytes that went out.
    virtual qint64 Write(const QByteArray& bytes, int timeoutMs) = 0;
    // Waits up to timeoutMs for input and gives what has arrived, at most maxBytes; empty when nothing came.
    virtual QByteArray Read(qint64 maxBytes, int timeoutMs) = 0;
};

// Opens serial ports by name (the machine's ports, or a stand-in in the tests).
class ISerialPortFactory
{
public:
    virtual ~ISerialPortFactory() = default;
    // The port opened with the settings; raises ESerialError when it does not exist, is busy or refuses them.
    virtual std::unique_ptr<ISerialLine> Open(const TSerialPortConfig& config) const = 0;
};
