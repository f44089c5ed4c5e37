#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>

#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class TScheduleAction;

// When each action last ran, kept in a small file beside the schedule (ScheduleState.xml): a restart later
// the same day must not run again what already ran before it (a restart loop would replay the morning's
// power-on every time). An action is known by its source's name (letter case aside), its code and its time
// of day, which is all that survives a restart.
//
// Threads: any; the records have their own lock, and a write of the file happens under it, so that two
// actions ending at once leave one whole file.
class TScheduleRunState
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TVitrelleScheduler"};
    static inline const QString FileName = QStringLiteral("ScheduleState.xml");
    // Older records are dropped when the file is written: no periodicity reaches back that far.
    static constexpr qint64 KeptDays = 8;

    // The state file that goes with a schedule file: same folder.
    static QString PathBeside(const QString& scheduleFile);

    // Reads the file and writes later records to it. A missing or broken file is nothing recorded (a broken
    // one is logged at level 2); never raises.
    void Open(const QString& path);
    QString Path() const;

    // The moment the action last started, if recorded.
    std::optional<QDateTime> LastRun(const QString& source, qint32 action, const QTime& time) const;
    std::optional<QDateTime> LastRun(const TScheduleAction& action) const;
    // Records the moment the action started and, with a file open, writes the file atomically. Raises the
    // file layer's errors (the record stays in memory).
    void Record(const QString& source, qint32 action, const QTime& time, const QDateTime& at);
    // A source has been given another name: its records (and those of any other pair) move to that name,
    // where the later of two records of one action wins. With a file open it is written when a record moved.
    // Whether any moved; raises the file layer's errors (the records stay renamed in memory).
    bool RenameSources(const std::vector<std::pair<QString, QString>>& renames);

private:
    struct TEntry
    {
        QString Source;
        qint32 Action = 0;
        int Second = 0; // the time of day, in seconds
        QDateTime At;   // UTC
    };

    void WriteLocked() const;

    mutable std::mutex FMutex;
    QString FPath;
    std::vector<TEntry> FEntries;
};
