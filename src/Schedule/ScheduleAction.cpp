#include "ScheduleAction.h"

#include "Log.h"
#include "ScheduleSource.h"
#include "ScheduleXml.h"
#include "VitrelleScheduler.h"
#include "XmlHelpers.h"

#include <QHash>

namespace {

// A parameter line without "=" has no name (and is never saved).
QString ParamName(const QString& line)
{
    const qsizetype separator = line.indexOf(QLatin1Char('='));
    return separator < 0 ? QString() : line.left(separator);
}

QString ParamValueOf(const QString& line)
{
    const qsizetype separator = line.indexOf(QLatin1Char('='));
    return separator < 0 ? QString() : line.mid(separator + 1);
}

qsizetype IndexOfParam(const QStringList& params, const QString& name)
{
    for (qsizetype i = 0; i < params.size(); ++i)
        if (ParamName(params.at(i)).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

} // namespace

const QDate TScheduleAction::TimeOnlyDate(2000, 1, 1);

TScheduleAction::TScheduleAction(IScheduleSource& source, qint32 action, quint8 kind, QTime time,
                                 bool enabled, const QStringList* params)
    : Source(&source), Action(action), Params(params != nullptr ? *params : QStringList()),
      Periodicity(kind, time), NextTime(TimeOnlyDate, Periodicity.Time), Enabled(enabled)
{
}

std::unique_ptr<TScheduleAction> TScheduleAction::CreateAction(IScheduleSource* source, qint32 action,
                                                               quint8 kind, QTime time, bool enabled,
                                                               const QStringList* params)
{
    if (source == nullptr)
        return nullptr;
    return std::make_unique<TScheduleAction>(*source, action, kind, time, enabled, params);
}

std::unique_ptr<TScheduleAction> TScheduleAction::Clone() const
{
    return std::make_unique<TScheduleAction>(*Source, Action, Periodicity.Kind, Periodicity.Time, Enabled,
                                             &Params);
}

void TScheduleAction::ResetNextTime(const QDate& today)
{
    QDate date = today;
    const int dayOfWeek = date.dayOfWeek();
    if (Periodicity.Kind == TActionPeriodicity::MondayToFriday && dayOfWeek >= 6)
        date = date.addDays(8 - dayOfWeek);
    else if (Periodicity.Kind == TActionPeriodicity::MondayToSaturday && dayOfWeek == 7)
        date = date.addDays(1);
    NextTime = LocalMoment(date, NextTime.time());
}

bool TScheduleAction::Reschedule(const QDateTime& now)
{
    const QString tomorrow = QStringLiteral("tomorrow");
    const QString monday = QStringLiteral("Monday");
    const int dayOfWeek = NextTime.date().dayOfWeek(); // Monday 1 .. Sunday 7
    qint64 days = 0;
    QString word;
    switch (Periodicity.Kind) {
    case TActionPeriodicity::EveryDay:
        days = 1;
        word = tomorrow;
        break;
    case TActionPeriodicity::MondayToFriday:
        days = dayOfWeek >= 5 ? 8 - dayOfWeek : 1;
        word = dayOfWeek >= 5 ? monday : tomorrow;
        break;
    case TActionPeriodicity::MondayToSaturday:
        days = dayOfWeek == 6 ? 2 : 1;
        word = dayOfWeek == 6 ? monday : tomorrow;
        break;
    case TActionPeriodicity::EveryHour: {
        // Whole hours of elapsed time, so that an hourly action keeps its minute across clock changes.
        const qint64 behindMs = NextTime.msecsTo(now);
        if (behindMs > 0)
            NextTime = NextTime.addMSecs((behindMs + 3'599'999) / 3'600'000 * 3'600'000);
        break;
    }
    default:
        return false;
    }
    // The days keep the wall-clock time of day, also across a daylight-saving change; it comes from the
    // periodicity because NextTime may have been pushed past a skipped hour.
    if (days > 0)
        NextTime = LocalMoment(NextTime.date().addDays(days), Periodicity.Time);
    WriteLog(TScheduleAction::LogSource, 3,
             QStringLiteral("Action '%1' for source '%2' is rescheduled on %3 at %4")
                 .arg(Source->GetActionDescription(this), Source->GetSourceName(), word,
                      TimeOfDayToText(NextTime.time())));
    return true;
}

bool TScheduleAction::SameSource(const TScheduleAction* other) const
{
    return other != nullptr &&
           (other->Source == Source ||
            other->Source->GetSourceName().compare(Source->GetSourceName(), Qt::CaseInsensitive) == 0);
}

bool TScheduleAction::Equals(const TScheduleAction* other) const
{
    return SameAction(other) && other->Enabled == Enabled && Periodicity.Equals(&other->Periodicity) &&
           other->Params == Params;
}

bool TScheduleAction::SaveToXML(TXmlDocument* document, TXmlNode parent) const
{
    if (document == nullptr || parent.IsNull())
        return false;
    TXmlNode element = document->AppendElement(parent, ScheduleXml::ActionElement);
    SetAttributeValue(document, element, ScheduleXml::SourceAttribute, Source->GetSourceName());
    SetAttributeValue(document, element, ScheduleXml::ActionAttribute, QString::number(Action));
    Periodicity.SaveToXML(document, element);
    SetAttributeValue(document, element, ScheduleXml::EnabledAttribute, BoolToText(Enabled));
    // Values are element text, so commas, "=" and any character survive.
    for (const QString& line : Params) {
        const QString name = ParamName(line);
        if (!name.isEmpty())
            AddNodeValue(document, element, name, ParamValueOf(line));
    }
    return true;
}

std::unique_ptr<TScheduleAction> TScheduleAction::LoadFromXML(TXmlNode node,
                                                              const TVitrelleScheduler* scheduler)
{
    if (node.IsNull() || !node.IsElement() ||
        node.Name().compare(ScheduleXml::ActionElement, Qt::CaseInsensitive) != 0)
        return nullptr;
    IScheduleSource* source =
        scheduler != nullptr ? scheduler->FindSource(GetAttributeValue(node, ScheduleXml::SourceAttribute))
                             : nullptr;
    if (source == nullptr)
        return nullptr;
    const qint32 action = TextToInt(GetAttributeValue(node, ScheduleXml::ActionAttribute)).value_or(-1);
    TActionPeriodicity periodicity;
    periodicity.LoadFromXML(node);
    bool enabled = TextToBool(GetAttributeValue(node, ScheduleXml::EnabledAttribute)).value_or(false);
    // A time that cannot be read must not pass for midnight: the action would switch screens at 00:00,
    // and the next save would make that permanent. It stays in the schedule, disabled, for the operator
    // to set its time.
    const QString timeText = GetAttributeValue(node, ScheduleXml::TimeAttribute);
    if (!TextToTimeOfDay(timeText)) {
        WriteLog(TScheduleAction::LogSource, 2,
                 QStringLiteral("Cannot read the time of day '%1' of the %2 element in line %3 (source '%4', "
                                "action %5): the action is disabled")
                     .arg(timeText, node.Name(), QString::number(node.Line()), source->GetSourceName(),
                          QString::number(action)));
        enabled = false;
    }
    auto result = CreateAction(source, action, periodicity.Kind, periodicity.Time, enabled);
    // Child elements only: text between them (indentation) and comments are no parameters. Each is applied
    // as SetParamValue would (a repeated name, in any letter case, replaces the value in place; an empty
    // value removes it), with an index by name instead of a search per element: a file may hold thousands.
    QStringList lines;
    QHash<QString, qsizetype> index; // case-folded name -> its line
    for (const TXmlNode& child : node.ChildElements()) {
        const QString name = child.Name();
        if (name.isEmpty() || name.contains(QLatin1Char('=')))
            continue;
        const QString value = child.Text();
        const QString key = name.toCaseFolded();
        const auto found = index.constFind(key);
        if (value.isEmpty()) {
            if (found != index.constEnd()) {
                lines[found.value()] = QString(); // removed; a null line is never a parameter
                index.erase(found);
            }
        } else if (found == index.constEnd()) {
            index.insert(key, lines.size());
            lines.append(name + QLatin1Char('=') + value);
        } else {
            lines[found.value()] = name + QLatin1Char('=') + value;
        }
    }
    lines.removeIf([](const QString& line) { return line.isNull(); });
    result->Params = std::move(lines);
    return result;
}

QString TScheduleAction::ParamValue(const QString& name) const
{
    const qsizetype index = IndexOfParam(Params, name);
    return index < 0 ? QString() : ParamValueOf(Params.at(index));
}

void TScheduleAction::SetParamValue(const QString& name, const QString& value)
{
    if (name.isEmpty() || name.contains(QLatin1Char('=')))
        return;
    const qsizetype index = IndexOfParam(Params, name);
    if (value.isEmpty()) {
        if (index >= 0)
            Params.removeAt(index);
    } else if (index < 0) {
        Params.append(name + QLatin1Char('=') + value);
    } else {
        Params[index] = name + QLatin1Char('=') + value;
    }
}

QDateTime LocalMoment(const QDate& date, const QTime& time)
{
    const QDateTime moment(date, time);
    if (!date.isValid() || !time.isValid() ||
        (moment.isValid() && moment.date() == date && moment.time() == time))
        return moment;
    // Inside a gap: clock changes happen on whole minutes, so the first whole minute that exists is the end.
    const QTime start(time.hour(), time.minute());
    for (QTime candidate = start.addSecs(60); candidate > start; candidate = candidate.addSecs(60)) {
        const QDateTime next(date, candidate);
        if (next.isValid() && next.date() == date && next.time() == candidate)
            return next;
    }
    return LocalMoment(date.addDays(1), QTime(0, 0)); // a gap that reaches midnight
}
