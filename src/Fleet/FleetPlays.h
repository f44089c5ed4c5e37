#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

struct sqlite3;

// One row of the play journal's plays, as the fleet sends it (JSON).
struct TFleetPlay
{
    qint64 Id = 0;
    QByteArray Json;
};

// The play journal's rows for the fleet, and the mark of what the broker has acknowledged, kept in the
// journal's own database (table fleet_sent), so that a row goes out once across restarts.
//
// Threads: one worker at a time (it is handed from job to job); never the main thread, since SQLite may wait
// for the journal's writer. Raises EVitrelleError with SQLite's message.
class TFleetPlayStore
{
public:
    explicit TFleetPlayStore(QString journalPath, QString kioskId);
    ~TFleetPlayStore();
    TFleetPlayStore(const TFleetPlayStore&) = delete;
    TFleetPlayStore& operator=(const TFleetPlayStore&) = delete;

    // The highest row id acknowledged by the broker (0: none).
    qint64 SentMark();
    void SetSentMark(qint64 id);
    // The rows after this id, in id order, at most limit.
    std::vector<TFleetPlay> After(qint64 id, int limit);

private:
    void Open();

    const QString FPath;
    const QString FKioskId;
    sqlite3* FDatabase = nullptr;
};
