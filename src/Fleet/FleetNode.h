#pragma once

#include "FleetKiosk.h"
#include "FleetLink.h"
#include "FleetSettings.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

class TFleetPlayStore;
class TWorkQueue;

struct TFleetNodeOptions
{
    QString Site;
    QString KioskId;
    // The play journal's database; empty: no plays are sent.
    QString JournalPath;
    // After an outage the backlog of plays goes out at most this fast, with at most this many waiting for the
    // broker's acknowledgement.
    int PlaysPerSecond = 20;
    int PlaysInFlight = 20;
    // How often the displays are looked at; a display's status goes out at most once per
    // DisplayStatusInterval.
    std::chrono::milliseconds Tick{250};
    std::chrono::milliseconds DisplayStatusInterval{1000};
};

// The kiosk on the fleet's broker. Topics under vitrelle/v1/<site>/<kiosk>/:
//   status (retained)                 the program, its displays, online or not (the link's will says offline)
//   display/<n>/status (retained)     what the display is and shows, on change, at most once per interval
//   display/<n>/screenshot            its last picture (JPEG), on request
//   plays                             the play journal's rows in order at QoS 1, each marked sent in the
//                                     journal once the broker acknowledged it
//   events                            the log's level-1 and level-2 lines
//   cmd/<command>                     commands: play, stop, power, update, list, screenshot; each answered on
//                                     its MQTT 5 response topic with its correlation data (or on answers)
// The payloads are JSON (docs/fleet/schema.json).
//
// Threads: main thread. The link's work runs on its own thread, the journal's on a worker of the node; what
// the show does never waits for either.
class TFleetNode : public QObject, private IFleetLinkEvents
{
    Q_OBJECT
public:
    static constexpr QLatin1StringView LogSource{"TFleetNode"};
    static inline const QString TopicRoot = QStringLiteral("vitrelle/v1");

    // Starts the link. Installs the log listener that feeds the events topic.
    TFleetNode(TFleetNodeOptions options, IFleetKiosk& kiosk, std::unique_ptr<IFleetLink> link);
    // Says offline (retained) and lets the link end; the journal's worker finishes its job first, then the
    // last mark is written (waiting for the journal's writer at most its busy time-out).
    ~TFleetNode() override;

    QString TopicBase() const { return FBase; }
    // The link's settings for a node of these fleet settings: client id, will, the command subscription.
    static TFleetLinkOptions LinkOptions(const TFleetSettings& settings);
    static QString TopicBaseOf(const QString& site, const QString& kioskId);
    // For tests: the last acknowledged row id as the node knows it.
    qint64 SentMark() const { return FMark; }

private:
    struct TPublishedPlay
    {
        qint64 Id = 0;
        bool Acknowledged = false;
    };

    void LinkUp() override;
    void LinkDown(const QString& reason) override;
    void Acknowledged(qint64 ticket) override;
    void Received(const TFleetMessage& message) override;

    // The link's Publish; -1 once the link is gone.
    qint64 Send(const TFleetMessage& message);
    void Tick();
    void PublishStatus(bool online);
    void PublishDisplays(bool all);
    void PublishEvents();
    // A failure of the journal's store, logged; false when there was none.
    bool StoreFailed(const std::exception_ptr& error);
    void LoadMark();
    void PumpPlays();
    void SaveMark();
    void Answer(const TFleetMessage& request, const QString& command, bool succeeded, const QString& message);
    void Screenshot(const TFleetMessage& request, int display);
    QByteArray StatusJson(bool online) const;

    const TFleetNodeOptions FOptions;
    const QString FBase;
    IFleetKiosk& FKiosk;
    std::unique_ptr<IFleetLink> FLink;
    QTimer FTimer;
    bool FUp = false;

    int FDisplayCount = -1;
    // Per display (index 0 = display 1): what was published last and when.
    std::vector<QByteArray> FDisplayJson;
    std::vector<std::chrono::steady_clock::time_point> FDisplaySent;

    // Plays: the journal's rows fetched and not yet published, those published in order with whether the
    // broker has them, the tickets of those waiting, and the mark (every row up to it acknowledged).
    std::shared_ptr<TFleetPlayStore> FStore;
    std::unique_ptr<TWorkQueue> FWorker;
    bool FMarkLoaded = false;
    bool FLoadingMark = false;
    qint64 FMark = 0;
    qint64 FSavedMark = 0;
    bool FSaving = false;
    qint64 FFetchedUpTo = 0;
    bool FFetching = false;
    quint64 FGeneration = 0; // a new connection makes the fetches of the one before void
    std::deque<std::pair<qint64, QByteArray>> FToSend;
    std::deque<TPublishedPlay> FPublished;
    std::unordered_map<qint64, qint64> FTicketPlays; // ticket -> row id
    double FTokens = 0;
    std::chrono::steady_clock::time_point FLastRefill;
    bool FStoreTroubleLogged = false;

    // Log lines for the events topic, filled on any thread.
    std::mutex FEventsMutex;
    std::deque<QByteArray> FEvents;
    int FEventsDropped = 0;
};
