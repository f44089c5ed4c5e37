#pragma once

#include <QString>

#include "ActionPeriodicity.h"
#include "XmlDocument.h"

#include <QDateTime>
#include <QStringList>

#include <memory>

class IScheduleSource;
class TVitrelleScheduler;

// One scheduled action: which source runs it, its code and parameters, when it runs again.
class TScheduleAction
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TScheduleAction"};

    // Before an action joins a schedule its next time holds only its time of day, on this date.
    static const QDate TimeOnlyDate;

    TScheduleAction(IScheduleSource& source, qint32 action, quint8 kind, QTime time, bool enabled,
                    const QStringList* params = nullptr);

    // Null for a null source. Every source creates its default actions through this.
    static std::unique_ptr<TScheduleAction> CreateAction(IScheduleSource* source, qint32 action, quint8 kind,
                                                         QTime time, bool enabled,
                                                         const QStringList* params = nullptr);

    // Same source, code, periodicity, enabled flag and parameters; the next time is the time of day only.
    std::unique_ptr<TScheduleAction> Clone() const;

    // Today's occurrence of the time of day of NextTime. A week-pattern action on a day outside its pattern
    // gets the pattern's next day instead (Monday), so a restart at the weekend does not run it then.
    void ResetNextTime(const QDate& today = QDate::currentDate());
    // Moves NextTime on by the periodicity and logs the new time; false (nothing changed, nothing logged)
    // for an invalid kind. now matters to the hourly kind only.
    bool Reschedule(const QDateTime& now = QDateTime::currentDateTime());

    // The same source object, or sources of the same name (letter case aside): a copy of the schedule names
    // its sources instead of holding them, and one name stands for one registered source.
    bool SameSource(const TScheduleAction* other) const;
    bool SameAction(const TScheduleAction* other) const
    {
        return SameSource(other) && other->Action == Action;
    }
    // Everything but NextTime; times compare to the minute.
    bool Equals(const TScheduleAction* other) const;

    // Appends a "ScheduleAction" element to parent; false for a null document or parent.
    bool SaveToXML(TXmlDocument* document, TXmlNode parent) const;
    // Null for a null node, another element, or a source that the scheduler does not know (or no scheduler).
    static std::unique_ptr<TScheduleAction> LoadFromXML(TXmlNode node, const TVitrelleScheduler* scheduler);

    // Parameters are "name=value" lines; names compare without regard to letter case. Setting an empty
    // value removes the line.
    QString ParamValue(const QString& name) const;
    void SetParamValue(const QString& name, const QString& value);

    IScheduleSource* Source; // never null
    qint32 Action;
    QStringList Params;
    TActionPeriodicity Periodicity;
    QDateTime NextTime;
    bool Enabled;
};

// The local moment of a date at a time of day. A time that the clocks skip on that day (they go forward)
// gives the first moment after the gap.
QDateTime LocalMoment(const QDate& date, const QTime& time);
