#include "FleetPlays.h"

#include "Errors.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <sqlite3.h>

namespace {

// What the journal is waited for at most when its writer holds the database.
constexpr int BusyTimeoutMs = 10000;

const char* const CreateMark =
    "CREATE TABLE IF NOT EXISTS fleet_sent(name TEXT PRIMARY KEY, play INTEGER NOT NULL)";

const char* const SelectPlays =
    "SELECT p.id, d.name, d.output, d.manufacturer, d.model, d.serial, p.vitrelle, COALESCE(v.name, ''), "
    "p.slide, p.slide_type, p.appeared_ms, p.utc_offset_s, p.duration_ms, p.ended "
    "FROM plays p JOIN displays d ON d.id = p.display LEFT JOIN vitrelles v ON v.id = p.vitrelle "
    "WHERE p.id > ?1 ORDER BY p.id LIMIT ?2";

class TStatement
{
public:
    TStatement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &FStatement, nullptr) != SQLITE_OK)
            throw EVitrelleError(QStringLiteral("The play journal cannot be read for the fleet: %1")
                                     .arg(QString::fromUtf8(sqlite3_errmsg(db))));
    }
    ~TStatement() { sqlite3_finalize(FStatement); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;
    sqlite3_stmt* operator*() const { return FStatement; }

private:
    sqlite3_stmt* FStatement = nullptr;
};

QString Text(sqlite3_stmt* statement, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)));
}

void Fail(sqlite3* db, const QString& what)
{
    throw EVitrelleError(QStringLiteral("The play journal's %1 for the fleet failed: %2")
                             .arg(what, QString::fromUtf8(sqlite3_errmsg(db))));
}

} // namespace

TFleetPlayStore::TFleetPlayStore(QString journalPath, QString kioskId)
    : FPath(std::move(journalPath)), FKioskId(std::move(kioskId))
{
}

TFleetPlayStore::~TFleetPlayStore()
{
    sqlite3_close(FDatabase);
}

void TFleetPlayStore::Open()
{
    if (FDatabase != nullptr)
        return;
    // The journal makes the database and its tables; the fleet never creates the file itself.
    if (sqlite3_open_v2(FPath.toUtf8().constData(), &FDatabase, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(FDatabase));
        sqlite3_close(FDatabase);
        FDatabase = nullptr;
        throw EVitrelleError(
            QStringLiteral("The play journal %1 cannot be opened for the fleet: %2").arg(FPath, message));
    }
    sqlite3_busy_timeout(FDatabase, BusyTimeoutMs);
    if (sqlite3_exec(FDatabase, CreateMark, nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail(FDatabase, QStringLiteral("mark"));
}

qint64 TFleetPlayStore::SentMark()
{
    Open();
    TStatement select(FDatabase, "SELECT play FROM fleet_sent WHERE name = 'plays'");
    const int rc = sqlite3_step(*select);
    if (rc == SQLITE_ROW)
        return sqlite3_column_int64(*select, 0);
    if (rc != SQLITE_DONE)
        Fail(FDatabase, QStringLiteral("mark"));
    return 0;
}

void TFleetPlayStore::SetSentMark(qint64 id)
{
    Open();
    TStatement upsert(FDatabase, "INSERT INTO fleet_sent(name, play) VALUES('plays', ?1) "
                                 "ON CONFLICT(name) DO UPDATE SET play = excluded.play");
    sqlite3_bind_int64(*upsert, 1, id);
    if (sqlite3_step(*upsert) != SQLITE_DONE)
        Fail(FDatabase, QStringLiteral("mark"));
}

std::vector<TFleetPlay> TFleetPlayStore::After(qint64 id, int limit)
{
    Open();
    TStatement select(FDatabase, SelectPlays);
    sqlite3_bind_int64(*select, 1, id);
    sqlite3_bind_int(*select, 2, limit);
    std::vector<TFleetPlay> plays;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(*select)) == SQLITE_ROW) {
        sqlite3_stmt* s = *select;
        const QDateTime appeared = QDateTime::fromMSecsSinceEpoch(
            sqlite3_column_int64(s, 10), Qt::OffsetFromUTC, sqlite3_column_int(s, 11));
        const QJsonObject play{
            {QStringLiteral("id"), sqlite3_column_int64(s, 0)},
            {QStringLiteral("kiosk"), FKioskId},
            {QStringLiteral("display"), Text(s, 1)},
            {QStringLiteral("output"), Text(s, 2)},
            {QStringLiteral("manufacturer"), Text(s, 3)},
            {QStringLiteral("model"), Text(s, 4)},
            {QStringLiteral("serial"), Text(s, 5)},
            {QStringLiteral("vitrelle"), Text(s, 6)},
            {QStringLiteral("vitrelle_name"), Text(s, 7)},
            {QStringLiteral("slide"), Text(s, 8)},
            {QStringLiteral("slide_type"), Text(s, 9)},
            {QStringLiteral("appeared"), appeared.toString(Qt::ISODateWithMs)},
            {QStringLiteral("duration_ms"), sqlite3_column_int64(s, 12)},
            {QStringLiteral("ended"), Text(s, 13)},
        };
        plays.push_back({sqlite3_column_int64(s, 0), QJsonDocument(play).toJson(QJsonDocument::Compact)});
    }
    if (rc != SQLITE_DONE)
        Fail(FDatabase, QStringLiteral("reading"));
    return plays;
}
