#pragma once

#include "SerialLine.h"

#include <functional>
#include <utility>

// The machine's serial ports through QtSerialPort. Any tty path may be named (a pseudo-terminal included);
// nothing here needs the modem-control lines, which some devices do not have.
class TQtSerialPortFactory : public ISerialPortFactory
{
public:
    // waiting is called about once a second while a line waits for its display (the exchange runs on the
    // main thread, whose watchdog it keeps informed).
    explicit TQtSerialPortFactory(std::function<void()> waiting = {}) : FWaiting(std::move(waiting)) {}

    std::unique_ptr<ISerialLine> Open(const TSerialPortConfig& config) const override;

private:
    std::function<void()> FWaiting;
};
