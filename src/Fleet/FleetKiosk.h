#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

// What the kiosk is, for its status on the broker.
struct TFleetKioskStatus
{
    QString Version;
    QDateTime Started;
    qint64 Restarts = 0; // starts after a crash the play journal records
    int Displays = 0;
};

// What a display is and shows now.
struct TFleetDisplayStatus
{
    QString Name;
    QString Output;
    QString Manufacturer;
    QString Model;
    QString Serial;
    std::optional<bool> PowerOn; // not known: empty
    // The last power command that ended.
    std::optional<bool> LastCommandOn;
    QDateTime LastCommandTime;
    bool LastCommandSucceeded = false;
    QString LastCommandError;
    // Empty when nothing plays.
    QString VitrelleId;
    QString SlideId;
    QDateTime PlayingSince;
    QDateTime LastSwap;
    QDateTime LastUpdate; // of the vitrelle it plays, the last that succeeded
    QDateTime LastScreenshot;

    bool operator==(const TFleetDisplayStatus&) const = default;
};

// A command from the fleet, checked: the display is 1 to the display count, or 0 for every display (power).
struct TFleetCommand
{
    enum TKind
    {
        Play,
        Stop,
        Power,
        Update,
        DownloadList,
    };
    TKind Kind = Play;
    int Display = 0;
    QString VitrelleId;
    int SlideSeconds = 0; // 0: the vitrelle's own
    bool On = false;
};

// The kiosk as the fleet link sees and drives it: what the agent has and does, through the agent.
//
// Threads: main thread.
class IFleetKiosk
{
public:
    virtual ~IFleetKiosk() = default;
    virtual TFleetKioskStatus Status() const = 0;
    virtual std::vector<TFleetDisplayStatus> Displays() const = 0;
    // Carries out the command; done is called on the main thread with its outcome (at once or when the work
    // it started has ended), exactly once unless the kiosk goes first. Raises nothing: a refusal is an
    // outcome.
    using TDone = std::function<void(bool succeeded, const QString& message)>;
    virtual void Execute(const TFleetCommand& command, TDone done) = 0;
    // The file of the display's last picture (it may not exist yet).
    virtual QString ScreenshotFile(int display) const = 0;
};
