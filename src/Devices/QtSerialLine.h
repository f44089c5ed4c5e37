#pragma once

#include "SerialLine.h"

// The machine's serial ports through QtSerialPort. Any tty path may be named (a pseudo-terminal included);
// nothing here needs the modem-control lines, which some devices do not have.
//
// Threads: a line is used on the thread that opened it (a display's own worker). Its waits are cut into
// slices of at most 100 ms; once WorkerStopRequested() says so, the exchange is abandoned: the port is
// closed and ESerialError raised.
class TQtSerialPortFactory : public ISerialPortFactory
{
public:
    // The longest single wait of a line before it looks at the stop request again.
    static constexpr int WaitSliceMs = 100;

    std::unique_ptr<ISerialLine> Open(const TSerialPortConfig& config) const override;
};
