#pragma once

#include "ManualSteadyClock.h"
#include "PlayJournal.h"
#include "TestContentServer.h"
#include "TestFiles.h"
#include "TestPlatform.h"

#include <QDateTime>
#include <QList>
#include <QRect>
#include <QStringList>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

class TVitrelleCenterAgent;
class TScaledClock;

// How one kind of scheduled action fared: every due moment should have been run exactly once, soon after.
struct TSoakTally
{
    int Due = 0;
    int Run = 0;
    int Lost = 0;  // due moments that no run answered
    int Twice = 0; // runs beyond the first for one due moment, and runs that no due moment explains
    int Late = 0;  // runs later than the tolerance after their due moment
    qint64 MaxDelaySeconds = 0;

    void Add(const TSoakTally& other);
};

struct TSoakReport
{
    // By kind: "power all on", "power all off", "display power", "play", "stop", "update".
    std::map<QString, TSoakTally> ByKind;
    TSoakTally Total;
    // Each lost, doubled or late occurrence, described.
    QStringList Faults;
    qint64 Swaps = 0;
    int UpdatesSucceeded = 0;
    int UpdatesFailed = 0;
    int Requests = 0;
    int ServerFailures = 0;
    int ServerHangs = 0;
    int ErrorLines = 0;
    int WarningLines = 0;
    QStringList FirstErrors;
    // What the play journal (a real database in the soak's folder) holds of the same time.
    QString JournalFolder; // where the journal is, for the export tool
    qint64 JournalPlays = 0;
    qint64 JournalMisses = 0;
    qint64 JournalPowers = 0;
    qint64 JournalUpdatesSucceeded = 0;
    qint64 JournalUpdatesFailed = 0;
    QDateTime Start;
    QDateTime End;
};

struct TSoakOptions
{
    int Days = 7;
    // Simulated time: the wall clock and the slide clock move on by this much per pass of the scheduler.
    std::chrono::seconds Step{15};
    // The slide duration of the play actions.
    qint32 SlideSeconds = 60;
    // How the content server misbehaves once everything has been cached once.
    TTestContentServer::TFlaky Flaky{0.05, 0.01, std::chrono::milliseconds(3000), 1};
    // A run later than this after its due moment counts as late (simulated time).
    std::chrono::seconds Tolerance{60};
};

// Days of the system's life on a machine with two displays, against a content server that fails some of its
// requests, hangs on others and publishes new content every day. The real agent runs a schedule of every kind
// of action (every display on in the morning and off at night, one display off over lunch, a vitrelle played
// on each display during the day, every vitrelle updated each hour) and the players show their slides in
// their windows; every effect of an action (a power request, a device's power command, a player starting or
// stopping, a vitrelle's update) is recorded at the moment it happened and matched to the moments the
// schedule made the action due.
//
// Two ways to pass the time: simulated, with fake slide views that are ready at once, the wall clock and the
// slide clock moving on together in steps and the machine settled after each step (a week in minutes); or
// real, with the views given (the real web views under an X server), the slides at real time and the wall
// clock running fast enough for the days to pass in the time given.
class TSoak
{
public:
    // monitors: the displays' places on the desktop. Without views the time is simulated.
    TSoak(TSoakOptions options, QList<QRect> monitors,
          std::shared_ptr<const ISlideViewFactory> views = nullptr);
    ~TSoak();

    TSoak(const TSoak&) = delete;
    TSoak& operator=(const TSoak&) = delete;

    // Publishes the first day's content, starts the agent (which caches the list and the vitrelles), sets up
    // the schedule and lets the first media downloads end; then the server turns flaky. Raises
    // std::runtime_error when the system cannot start.
    void Start();
    // The days in simulated time; dayEnded(d) after day d (0 based).
    void RunSimulated(const std::function<void(int)>& dayEnded = {});
    // The days in the real time given; dayEnded(d) after day d.
    void RunRealTime(std::chrono::milliseconds duration, const std::function<void(int)>& dayEnded = {});
    // Stops the players and lets their clocks end.
    void Finish();

    TSoakReport Report() const;
    // The files in the cache folder now.
    qint64 CacheFiles() const;
    TVitrelleCenterAgent& Agent() const { return *FAgent; }
    TTestContentServer& Server() { return FServer; }

private:
    class TCountingSink;
    struct TMoment
    {
        QString Key;
        QString Kind;
        QDateTime Time;
    };

    void Publish(int day);
    void BuildSchedule();
    void ExpectDue();
    // Records whatever the last steps did; now is the wall clock's moment.
    void Observe(const QDateTime& now);
    // Serves events until every playing player's clock waits for a moment after the slide clock's present
    // and no media download runs; false after the real-time limit.
    bool Settle();
    bool Idle() const;
    void EndDay(int day, const std::function<void(int)>& dayEnded);
    QDateTime Now() const;

    const TSoakOptions FOptions;
    const QList<QRect> FMonitors;
    const bool FSimulated;
    TTempFolder FFolder;
    TTestContentServer FServer;
    std::shared_ptr<TCountingSink> FLog;
    TTestPlatform FFakes = TestPlatform();
    std::shared_ptr<TManualSteadyClock> FSlideClock;
    std::shared_ptr<TScaledClock> FScaledClock;
    std::shared_ptr<const ISlideViewFactory> FViews;
    std::unique_ptr<TVitrelleCenterAgent> FAgent;
    std::shared_ptr<TPlayJournal> FJournal; // installed once the first content is cached
    QDateTime FStart;
    int FPublishedDay = -1;

    std::vector<TMoment> FDue;
    std::vector<TMoment> FRuns;
    qsizetype FPowerRequestsSeen = 0;
    std::vector<QDateTime> FDevicePowerSeen;
    std::vector<bool> FWasPlaying;
    std::map<QString, QDateTime> FUpdateSeen;
    int FUpdatesSucceeded = 0;
    int FUpdatesFailed = 0;
    qint64 FSwaps = 0;
    int FRequests = 0;
};
