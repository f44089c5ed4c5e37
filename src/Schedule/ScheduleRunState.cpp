#include "ScheduleRunState.h"

#include "Errors.h"
#include "Log.h"
#include "ScheduleAction.h"
#include "ScheduleSource.h"
#include "XmlDocument.h"
#include "XmlHelpers.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

const QString RootElement = QStringLiteral("ScheduleState");
const QString RanElement = QStringLiteral("Ran");
const QString SourceAttribute = QStringLiteral("Source");
const QString ActionAttribute = QStringLiteral("Action");
const QString TimeAttribute = QStringLiteral("Time");
const QString AtAttribute = QStringLiteral("At");

int SecondOfDay(const QTime& time)
{
    return time.isValid() ? time.msecsSinceStartOfDay() / 1000 : -1;
}

} // namespace

QString TScheduleRunState::PathBeside(const QString& scheduleFile)
{
    return QFileInfo(scheduleFile).absoluteDir().filePath(FileName);
}

void TScheduleRunState::Open(const QString& path)
{
    std::vector<TEntry> entries;
    TXmlDocument document;
    bool read = false;
    try {
        read = LoadXmlFile(document, path, QString(), nullptr);
    } catch (const EVitrelleError& error) {
        WriteLog(LogSource, 2,
                 QStringLiteral("Cannot read %1, no action counts as run: %2").arg(path, error.Message()));
    }
    if (!read && QFileInfo::exists(path))
        WriteLog(LogSource, 2, QStringLiteral("Cannot read %1: no action counts as run").arg(path));
    const TXmlNode root = read ? document.DocumentElement() : TXmlNode();
    if (read && (root.IsNull() || root.Name() != RootElement)) {
        WriteLog(LogSource, 2, QStringLiteral("%1 is no schedule state: no action counts as run").arg(path));
    } else if (read) {
        for (const TXmlNode& node : root.ChildElements()) {
            if (node.Name() != RanElement)
                continue;
            TEntry entry;
            entry.Source = GetAttributeValue(node, SourceAttribute);
            const std::optional<int> action = TextToInt(GetAttributeValue(node, ActionAttribute));
            const std::optional<QTime> time = TextToTimeOfDay(GetAttributeValue(node, TimeAttribute));
            entry.At = QDateTime::fromString(GetAttributeValue(node, AtAttribute), Qt::ISODateWithMs);
            if (entry.Source.isEmpty() || !action || !time || !entry.At.isValid())
                continue; // a damaged record is no record
            entry.Action = *action;
            entry.Second = SecondOfDay(*time);
            entry.At = entry.At.toUTC();
            entries.push_back(std::move(entry));
        }
    }
    std::lock_guard lock(FMutex);
    FPath = path;
    FEntries = std::move(entries);
}

QString TScheduleRunState::Path() const
{
    std::lock_guard lock(FMutex);
    return FPath;
}

std::optional<QDateTime> TScheduleRunState::LastRun(const QString& source, qint32 action,
                                                    const QTime& time) const
{
    const int second = SecondOfDay(time);
    std::lock_guard lock(FMutex);
    for (const TEntry& entry : FEntries)
        if (entry.Action == action && entry.Second == second &&
            entry.Source.compare(source, Qt::CaseInsensitive) == 0)
            return entry.At.toLocalTime();
    return std::nullopt;
}

std::optional<QDateTime> TScheduleRunState::LastRun(const TScheduleAction& action) const
{
    return LastRun(action.Source->GetSourceName(), action.Action, action.Periodicity.Time);
}

void TScheduleRunState::Record(const QString& source, qint32 action, const QTime& time, const QDateTime& at)
{
    const int second = SecondOfDay(time);
    const QDateTime utc = at.toUTC();
    std::lock_guard lock(FMutex);
    const auto found = std::find_if(FEntries.begin(), FEntries.end(), [&](const TEntry& entry) {
        return entry.Action == action && entry.Second == second &&
               entry.Source.compare(source, Qt::CaseInsensitive) == 0;
    });
    if (found != FEntries.end()) {
        found->Source = source;
        found->At = utc;
    } else {
        FEntries.push_back(TEntry{source, action, second, utc});
    }
    const QDateTime oldest = utc.addDays(-KeptDays);
    std::erase_if(FEntries, [&oldest](const TEntry& entry) { return entry.At < oldest; });
    if (!FPath.isEmpty())
        WriteLocked();
}

bool TScheduleRunState::RenameSources(const std::vector<std::pair<QString, QString>>& renames)
{
    std::lock_guard lock(FMutex);
    bool renamed = false;
    for (TEntry& entry : FEntries) {
        // The first rename that matches: A to B and B to C move A to B, not to C.
        const auto match = std::find_if(renames.begin(), renames.end(), [&entry](const auto& rename) {
            return entry.Source.compare(rename.first, Qt::CaseInsensitive) == 0;
        });
        if (match == renames.end() || match->second.isEmpty() || entry.Source == match->second)
            continue;
        entry.Source = match->second;
        renamed = true;
    }
    if (!renamed)
        return false;
    // Two records of one action now: the later run is the one that counts.
    std::vector<TEntry> kept;
    for (TEntry& entry : FEntries) {
        const auto same = std::find_if(kept.begin(), kept.end(), [&entry](const TEntry& other) {
            return other.Action == entry.Action && other.Second == entry.Second &&
                   other.Source.compare(entry.Source, Qt::CaseInsensitive) == 0;
        });
        if (same == kept.end())
            kept.push_back(std::move(entry));
        else if (entry.At > same->At)
            *same = std::move(entry);
    }
    FEntries = std::move(kept);
    if (!FPath.isEmpty())
        WriteLocked();
    return true;
}

void TScheduleRunState::WriteLocked() const
{
    TXmlDocument document;
    const TXmlNode root = document.CreateDocumentElement(RootElement);
    for (const TEntry& entry : FEntries) {
        TXmlNode node = document.AppendElement(root, RanElement);
        SetAttributeValue(&document, node, SourceAttribute, entry.Source);
        SetAttributeValue(&document, node, ActionAttribute, QString::number(entry.Action));
        SetAttributeValue(&document, node, TimeAttribute,
                          TimeOfDayToText(QTime::fromMSecsSinceStartOfDay(entry.Second * 1000)));
        SetAttributeValue(&document, node, AtAttribute, entry.At.toString(Qt::ISODateWithMs));
    }
    document.SaveToFile(FPath);
}
