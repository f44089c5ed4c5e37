#pragma once

#include <QString>

// Element and attribute names of the schedule file Schedule.xml. The periodicity's own attributes
// ("Periodicity", "Time") are written and read by TActionPeriodicity; the action checks the time it read.
namespace ScheduleXml {
inline const QString RootElement = QStringLiteral("Schedule");
inline const QString ActionElement = QStringLiteral("ScheduleAction");
inline const QString SourceAttribute = QStringLiteral("Source");
inline const QString ActionAttribute = QStringLiteral("Action");
inline const QString EnabledAttribute = QStringLiteral("Enabled");
inline const QString TimeAttribute = QStringLiteral("Time");
} // namespace ScheduleXml
