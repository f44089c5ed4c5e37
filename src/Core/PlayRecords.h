#pragma once

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>
#include <variant>

// What the program records of what it showed and did, for the play journal: plain values, made where it
// happens and handed to the recorder the agent has installed.

// Who a record is about: a display as the operator names it and as the system knows it.
struct TJournalDisplay
{
    QString Name;
    QString Output;
    QString Manufacturer;
    QString Model;
    QString Serial;
};

// A slide that was on screen: from the swap that showed it to the one that took it away.
struct TPlayRecord
{
    TJournalDisplay Display;
    QString VitrelleId;
    QString VitrelleName;
    QString SlideId;
    QString SlideType;
    QDateTime Appeared; // local or UTC: kept as UTC with the local offset of that moment
    qint64 DurationMs = 0;
    // How it left the screen: "next", "stop", "display lost" or "program ended".
    QString Ended;
};

// A slide that was due and never reached the screen.
struct TMissRecord
{
    TJournalDisplay Display;
    QString VitrelleId;
    QString SlideId;
    QDateTime When;
    // "not ready", "rendering failed", "never painted", ...
    QString Reason;
};

struct TPowerRecord
{
    TJournalDisplay Display;
    bool On = false;
    // "schedule" or "operator".
    QString Origin;
    bool Succeeded = false;
    // The display's reply or the error.
    QString Reply;
    QDateTime When;
};

struct TUpdateRecord
{
    QString VitrelleId;
    bool Succeeded = false;
    int Files = 0;
    qint64 Bytes = 0;
    QString Message;
    QDateTime When;
};

struct TRunRecord
{
    // "start" or "end".
    QString Event;
    // A start after a run that did not end in order.
    bool AfterCrash = false;
    QDateTime When;
};

// What a display is doing now, for the metrics; the journal keeps no row of it.
struct TStateRecord
{
    QString Display;
    std::optional<bool> Playing;
    // 1 on, 0 off, -1 not known.
    std::optional<int> Power;
};

using TJournalRecord =
    std::variant<TPlayRecord, TMissRecord, TPowerRecord, TUpdateRecord, TRunRecord, TStateRecord>;

// Takes the records; any thread, never raises, never waits on the disk.
class IPlayRecorder
{
public:
    virtual ~IPlayRecorder() = default;
    virtual void Record(TJournalRecord record) = 0;
};

// The recorder the records go to (null: none, the records are dropped). Any thread.
void SetPlayRecorder(std::shared_ptr<IPlayRecorder> recorder);
std::shared_ptr<IPlayRecorder> PlayRecorder();
// Hands the record to the installed recorder, if any. Any thread.
void RecordPlayEvent(TJournalRecord record);
