#include "PlayExport.h"

#include "Errors.h"

#include <QFileInfo>
#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

#include <sqlite3.h>

#include <map>
#include <tuple>

namespace {

constexpr qint64 HourMs = 3600 * 1000;

// The start of the hour the moment lies in, both in milliseconds.
qint64 FloorHour(qint64 ms)
{
    const qint64 hours = ms / HourMs - (ms % HourMs < 0 ? 1 : 0);
    return hours * HourMs;
}

class TDatabase
{
public:
    explicit TDatabase(const QString& path) : FPath(path)
    {
        if (!QFileInfo(path).isFile())
            throw EVitrelleError(QStringLiteral("No play journal at %1").arg(path));
        if (sqlite3_open_v2(path.toUtf8().constData(), &FDatabase, SQLITE_OPEN_READONLY, nullptr) !=
            SQLITE_OK)
            Fail(QStringLiteral("cannot be opened"));
        // The program writes a batch in well under a second; a reader waits that long, not for ever.
        sqlite3_busy_timeout(FDatabase, 3000);
    }
    ~TDatabase() { sqlite3_close_v2(FDatabase); }
    TDatabase(const TDatabase&) = delete;
    TDatabase& operator=(const TDatabase&) = delete;

    sqlite3_stmt* Prepare(const QString& sql)
    {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(FDatabase, sql.toUtf8().constData(), -1, &statement, nullptr) != SQLITE_OK)
            Fail(QStringLiteral("cannot be read"));
        return statement;
    }

    [[noreturn]] void Fail(const QString& what) const
    {
        const int code = FDatabase != nullptr ? sqlite3_errcode(FDatabase) : SQLITE_CANTOPEN;
        const QString reason =
            FDatabase != nullptr ? QString::fromUtf8(sqlite3_errmsg(FDatabase)) : QString();
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
            throw EVitrelleError(
                QStringLiteral("The play journal %1 is locked by another program").arg(FPath));
        throw EVitrelleError(QStringLiteral("The play journal %1 %2: %3").arg(FPath, what, reason));
    }

private:
    QString FPath;
    sqlite3* FDatabase = nullptr;
};

// A prepared statement finalised whatever happens.
class TQuery
{
public:
    TQuery(TDatabase& database, const QString& sql) : FDatabase(database), FStatement(database.Prepare(sql))
    {
    }
    ~TQuery() { sqlite3_finalize(FStatement); }
    TQuery(const TQuery&) = delete;
    TQuery& operator=(const TQuery&) = delete;

    void Bind(int index, const QString& value)
    {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(FStatement, index, utf8.constData(), static_cast<int>(utf8.size()),
                          SQLITE_TRANSIENT);
    }
    void Bind(int index, qint64 value) { sqlite3_bind_int64(FStatement, index, value); }
    // False at the end.
    bool Next()
    {
        const int code = sqlite3_step(FStatement);
        if (code == SQLITE_ROW)
            return true;
        if (code != SQLITE_DONE)
            FDatabase.Fail(QStringLiteral("cannot be read"));
        return false;
    }
    QString Text(int column) const
    {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(FStatement, column)));
    }
    qint64 Int(int column) const { return sqlite3_column_int64(FStatement, column); }

private:
    TDatabase& FDatabase;
    sqlite3_stmt* FStatement;
};

QString CsvField(const QString& value)
{
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"')) &&
        !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')))
        return value;
    QString quoted = value;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

void WriteCsvLine(QIODevice& out, const QStringList& fields)
{
    QStringList escaped;
    escaped.reserve(fields.size());
    for (const QString& field : fields)
        escaped << CsvField(field);
    out.write((escaped.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8());
}

QString LocalText(qint64 utcMs, qint64 offsetSeconds)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs, QTimeZone(static_cast<int>(offsetSeconds)))
        .toString(Qt::ISODateWithMs);
}

QString UtcText(qint64 utcMs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

const QStringList PlayColumns{"display",      "output",        "manufacturer", "model",      "serial",
                              "vitrelle_id",  "vitrelle_name", "slide_id",     "slide_type", "appeared",
                              "appeared_utc", "duration_ms",   "ended"};
const QStringList HourColumns{"hour",     "display", "vitrelle_id", "vitrelle_name",
                              "slide_id", "plays",   "seconds"};

// One hour of one slide of one vitrelle on one display.
struct THourKey
{
    qint64 HourUtcMs;
    qint64 OffsetSeconds;
    QString Display;
    QString Vitrelle;
    QString Slide;
    bool operator<(const THourKey& other) const
    {
        return std::tie(HourUtcMs, Display, Vitrelle, Slide, OffsetSeconds) <
               std::tie(other.HourUtcMs, other.Display, other.Vitrelle, other.Slide, other.OffsetSeconds);
    }
};

struct THourSum
{
    QString VitrelleName;
    qint64 Plays = 0;
    qint64 Ms = 0;
};

} // namespace

std::optional<QDateTime> ParseExportBound(const QString& text, bool upper)
{
    static const QRegularExpression day(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    if (day.match(text).hasMatch()) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (!date.isValid())
            return std::nullopt;
        return QDateTime(upper ? date.addDays(1) : date, QTime(0, 0));
    }
    static const QRegularExpression time(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}(:\\d{2}(\\.\\d{1,3})?)?(Z|[+-]\\d{2}:\\d{2})?$"));
    if (!time.match(text).hasMatch())
        return std::nullopt;
    const QDateTime moment = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!moment.isValid())
        return std::nullopt;
    return moment;
}

void ExportPlays(const TExportOptions& options, QIODevice& out)
{
    TDatabase database(options.Path);
    if (!options.Display.isEmpty()) {
        TQuery known(database,
                     QStringLiteral("SELECT 1 FROM displays WHERE name = ?1 COLLATE NOCASE LIMIT 1"));
        known.Bind(1, options.Display);
        if (!known.Next())
            throw EVitrelleError(
                QStringLiteral("The play journal knows no display '%1'").arg(options.Display));
    }

    QString sql =
        QStringLiteral("SELECT d.name, d.output, d.manufacturer, d.model, d.serial, p.vitrelle, "
                       "coalesce(v.name, ''), p.slide, "
                       "p.slide_type, p.appeared_ms, p.utc_offset_s, p.duration_ms, p.ended FROM plays p "
                       "JOIN displays d ON d.id = p.display LEFT JOIN vitrelles v ON v.id = p.vitrelle "
                       "WHERE p.appeared_ms >= ?1 AND p.appeared_ms < ?2");
    if (!options.Display.isEmpty())
        sql += QStringLiteral(" AND d.name = ?3 COLLATE NOCASE");
    if (!options.Vitrelle.isEmpty())
        sql += QStringLiteral(" AND p.vitrelle = ?4");
    sql += QStringLiteral(" ORDER BY p.appeared_ms, p.id");
    TQuery plays(database, sql);
    plays.Bind(1, options.From ? options.From->toMSecsSinceEpoch() : std::numeric_limits<qint64>::min());
    plays.Bind(2, options.To ? options.To->toMSecsSinceEpoch() : std::numeric_limits<qint64>::max());
    if (!options.Display.isEmpty())
        plays.Bind(3, options.Display);
    if (!options.Vitrelle.isEmpty())
        plays.Bind(4, options.Vitrelle);

    if (options.Hourly) {
        // A play that runs past the hour counts its seconds in each hour it covered, and once as a play in
        // the hour it appeared in.
        std::map<THourKey, THourSum> hours;
        while (plays.Next()) {
            const qint64 appeared = plays.Int(9);
            const qint64 offsetMs = plays.Int(10) * 1000;
            qint64 left = std::max<qint64>(plays.Int(11), 0);
            qint64 at = appeared;
            bool first = true;
            do {
                const qint64 hourStart = FloorHour(at + offsetMs) - offsetMs;
                const qint64 part = std::min(left, hourStart + HourMs - at);
                THourSum& sum =
                    hours[THourKey{hourStart, plays.Int(10), plays.Text(0), plays.Text(5), plays.Text(7)}];
                sum.VitrelleName = plays.Text(6);
                sum.Plays += first ? 1 : 0;
                sum.Ms += part;
                left -= part;
                at += part;
                first = false;
            } while (left > 0);
        }
        if (options.Json)
            out.write("[");
        else
            WriteCsvLine(out, HourColumns);
        bool firstRow = true;
        for (const auto& [key, sum] : hours) {
            const QString hour = LocalText(key.HourUtcMs, key.OffsetSeconds);
            const QString seconds = QString::number(static_cast<double>(sum.Ms) / 1000.0, 'f', 3);
            if (options.Json) {
                const QJsonObject row{{"hour", hour},
                                      {"display", key.Display},
                                      {"vitrelle_id", key.Vitrelle},
                                      {"vitrelle_name", sum.VitrelleName},
                                      {"slide_id", key.Slide},
                                      {"plays", sum.Plays},
                                      {"seconds", static_cast<double>(sum.Ms) / 1000.0}};
                out.write(firstRow ? "\n" : ",\n");
                out.write(QJsonDocument(row).toJson(QJsonDocument::Compact));
            } else {
                WriteCsvLine(out, {hour, key.Display, key.Vitrelle, sum.VitrelleName, key.Slide,
                                   QString::number(sum.Plays), seconds});
            }
            firstRow = false;
        }
        if (options.Json)
            out.write("\n]\n");
        return;
    }

    if (options.Json)
        out.write("[");
    else
        WriteCsvLine(out, PlayColumns);
    bool firstRow = true;
    while (plays.Next()) {
        const QStringList fields{plays.Text(0),         plays.Text(1),
                                 plays.Text(2),         plays.Text(3),
                                 plays.Text(4),         plays.Text(5),
                                 plays.Text(6),         plays.Text(7),
                                 plays.Text(8),         LocalText(plays.Int(9), plays.Int(10)),
                                 UtcText(plays.Int(9)), QString::number(plays.Int(11)),
                                 plays.Text(12)};
        if (options.Json) {
            QJsonObject row;
            for (qsizetype i = 0; i < PlayColumns.size(); ++i)
                row.insert(PlayColumns[i], fields[i]);
            row.insert(QStringLiteral("duration_ms"), plays.Int(11));
            out.write(firstRow ? "\n" : ",\n");
            out.write(QJsonDocument(row).toJson(QJsonDocument::Compact));
        } else {
            WriteCsvLine(out, fields);
        }
        firstRow = false;
    }
    if (options.Json)
        out.write("\n]\n");
}
