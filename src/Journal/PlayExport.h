#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

class QIODevice;

// What the export tool is asked for.
struct TExportOptions
{
    // The database file.
    QString Path;
    // Plays that appeared at or after From and before To; either may be absent.
    std::optional<QDateTime> From;
    std::optional<QDateTime> To;
    // Empty: every display or vitrelle.
    QString Display;
    QString Vitrelle;
    bool Json = false;
    // The summary per hour instead of the plays.
    bool Hourly = false;
};

// A bound of --from or --to: an ISO 8601 day ("2026-12-08") or time ("2026-12-08T14:00", seconds, a "Z" or
// an offset optional), local time unless it says otherwise. A day as the upper bound means the end of that
// day. Nothing for a text that is neither.
std::optional<QDateTime> ParseExportBound(const QString& text, bool upper);

// Writes the plays the options select as CSV (a header line first) or JSON (one array), or their hourly
// summary, to out, reading the database as it is now while its writer goes on. Rows are streamed: memory
// does not grow with their number. Raises EVitrelleError with the operator's message for a missing or locked
// database or an unknown display.
void ExportPlays(const TExportOptions& options, QIODevice& out);
