#pragma once

#include "ComSettings.h"
#include "SerialLine.h"

#include <QLatin1StringView>
#include <QString>

#include <atomic>
#include <memory>

// Command codes are written in a "#" notation: "#" + up to three decimal digits is the character of that
// code, "##" is one "#", and "#" before anything else (or at the end) is dropped.
QString DecodeControlCode(const QString& code);
// Characters of code 32 or less become "#" + their code; everything else, "#" included, is copied. Used for
// what the user types and for replies in the log; it is not the inverse of DecodeControlCode.
QString EncodeControlCode(const QString& text);

enum TPowerStatus : quint8
{
    pwUnknown = 0,
    pwOn = 1,
    pwOff = 2
};

// The seven codes that switch a display and ask for its state ("#" notation).
struct TControlCodes
{
    QString PowerOn;
    QString PowerOnOK;
    QString PowerOff;
    QString PowerOffOK;
    QString PowerStatus;
    QString PowerStatusOn;
    QString PowerStatusOff;

    bool operator==(const TControlCodes&) const = default;
};

// The serial port of one display and its codes. A value: copied and compared field by field.
class TDeviceControlSettings : public TControlCodes
{
public:
    TComSettings ComSettings;

    bool operator==(const TDeviceControlSettings&) const = default;

    // Reads "ComPort" and "CommandCodes" below element (absent codes are empty); source names the file in
    // the log. False for a null element.
    bool LoadFromXML(TXmlNode element, const QString& source = {});
    bool SaveToXML(TXmlDocument* document, TXmlNode parent) const;
};

// The port and the codes of one display as they stand when a command is given: read from the settings
// where these change (the main thread) and handed to the worker that talks to the display.
struct TControlSnapshot : TControlCodes
{
    TSerialPortConfig Port;
};

// Switches one display on and off over its serial line and keeps its last known power state. An exchange
// opens the port, writes the code, reads the reply and closes the port again; it blocks its caller for at
// most the port's time-outs and never longer than MaxExchangeMs. Errors of the port (missing, busy,
// failing, abandoned) reach the caller.
//
// Threads: the settings side (construction, ApplyComSettings, Snapshot, and the calls without a snapshot,
// which take one) on the main thread; the calls given a snapshot from any thread, one at a time per port
// (the display's own worker). State may be read from any thread.
class TDeviceControl
{
public:
    static constexpr QLatin1StringView LogSource{"TDeviceControl"};
    // The longest reply taken from a display; more is dropped with the port's buffer.
    static constexpr qint64 MaxReplyBytes = 4096;
    // The longest exchange, whatever the time-outs and however the display sends: a display that keeps
    // sending a byte now and then does not keep the read going past it.
    static constexpr qint64 MaxExchangeMs = 60000;

    // The settings are not owned; when given, the codes are read from them at each command and their port
    // settings are taken now; whoever changes them later hands the new port settings to ApplyComSettings.
    // ports opens the serial lines (required). exchangeLimitMs is the longest exchange (shorter in tests).
    TDeviceControl(const TDeviceControlSettings* settings, std::shared_ptr<const ISerialPortFactory> ports,
                   qint64 exchangeLimitMs = MaxExchangeMs);
    ~TDeviceControl();
    TDeviceControl(const TDeviceControl&) = delete;
    TDeviceControl& operator=(const TDeviceControl&) = delete;

    // Takes the port name, line settings and time-outs for the next exchanges.
    void ApplyComSettings(const TComSettings& settings);
    // The port and codes the next command uses (no codes without settings).
    TControlSnapshot Snapshot() const;

    // One exchange: false (port untouched) for an empty code, else true when a reply came.
    bool SendCode(const QString& code, QString& reply);
    bool SendCode(const TSerialPortConfig& port, const QString& code, QString& reply) const;
    // True when the reply equals the decoded expected text exactly.
    bool SendAndExpect(const QString& code, const QString& expected);
    bool PowerOn();
    bool PowerOff();
    bool Power(const TControlSnapshot& snapshot, bool on);
    // The display's answer to the status code when it is recognised, else the last known state.
    TPowerStatus GetPowerStatus();
    TPowerStatus QueryPowerStatus(const TControlSnapshot& snapshot);

    std::atomic<TPowerStatus> State{pwUnknown};
    const TDeviceControlSettings* Settings() const { return FSettings; }
    // The settings the next exchange opens the port with.
    const TSerialPortConfig& ComPort() const { return FComPort; }

private:
    bool SendAndExpect(const TSerialPortConfig& port, const QString& code, const QString& expected) const;

    const TDeviceControlSettings* FSettings;
    std::shared_ptr<const ISerialPortFactory> FPorts;
    const qint64 FExchangeLimitMs;
    TSerialPortConfig FComPort;
};
