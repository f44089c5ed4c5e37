#pragma once

#include "SerialLine.h"

// The machine's serial ports through QtSerialPort. Any tty path may be named (a pseudo-terminal included);
// nothing here needs the modem-control lines, which some devices do not have.
class TQtSerialPortFactory : public ISerialPortFactory
{
public:
    std::unique_ptr<ISerialLine> Open(const TSerialPortConfig& config) const override;
};
