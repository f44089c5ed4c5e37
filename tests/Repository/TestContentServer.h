#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>

class THttpSettings;

namespace httplib {
class Server;
}

// A content server inside the test process, on 127.0.0.1 at an ephemeral port. It speaks the login protocol
// (GET /login?<query>: status 200, body "1" and a session cookie for the expected query; body "0" for any
// other), serves the files it is given only to requests that carry a session cookie (403 otherwise; paths
// below "/public/" excepted), counts
// every request, and can be told to misbehave per path: answer a status, redirect, hang before answering,
// stall or drop the connection in the middle of a body, or send a body of any size generated on the fly.
class TTestContentServer
{
public:
    static constexpr const char* DefaultLogin = "operator";
    static constexpr const char* DefaultPassword = "secret";

    // On an ephemeral port unless one is given.
    explicit TTestContentServer(int port = 0);
    // Releases every request that hangs, then stops and joins the server.
    ~TTestContentServer();

    TTestContentServer(const TTestContentServer&) = delete;
    TTestContentServer& operator=(const TTestContentServer&) = delete;

    // "http://127.0.0.1:<port>"
    QString BaseUrl() const;
    // The URL templates of this server and the default credentials: login at "/login?user=%s&password=%s",
    // list at "/list/VitrelleList.xml", vitrelles at "/vitrelles/%s.xml", media at "/media/%s".
    void Configure(THttpSettings& settings) const;

    // ---- answers by path (the part of the URL before "?") ----
    void SetFile(const QString& path, const QByteArray& content);
    // size bytes of GeneratedByte(offset), produced while they are sent.
    void SetGenerated(const QString& path, qint64 size);
    // The same without announcing the size (chunked), as a server that sends without end.
    void SetGeneratedUnannounced(const QString& path, qint64 size);
    void SetStatus(const QString& path, int status, const QByteArray& body = {});
    void SetRedirect(const QString& path, const QString& location, int status = 302);
    // No answer at all until ReleaseHangs or the server's end.
    void SetHang(const QString& path);
    // The content, answered only after the delay (a slow server that answers in the end).
    void SetDelayedFile(const QString& path, const QByteArray& content, std::chrono::milliseconds delay);
    // Announces size bytes, sends the first half, then sends nothing more until ReleaseHangs.
    void SetStallMidBody(const QString& path, qint64 size);
    // Announces size bytes, sends the first half, then closes the connection.
    void SetDropMidBody(const QString& path, qint64 size);
    // Announces size bytes and sends them slowly: step bytes every interval (a server that never trips a
    // low-speed limit and still takes for ever).
    void SetTrickle(const QString& path, qint64 size, int step, std::chrono::milliseconds interval);
    void Remove(const QString& path);
    // Misbehaves at random on every request, login included, before its path is looked at: FailShare of them
    // get status 503 at once, HangShare get it only after HangTime (a server that stops answering for a
    // while). The draws follow the seed, so a run can be repeated.
    struct TFlaky
    {
        double FailShare = 0;
        double HangShare = 0;
        std::chrono::milliseconds HangTime{5000};
        unsigned Seed = 1;
    };
    void SetFlaky(const TFlaky& flaky);
    int FlakyFailures() const;
    int FlakyHangs() const;
    void ReleaseHangs();

    static char GeneratedByte(qint64 offset) { return static_cast<char>(offset % 251); }

    // ---- login ----
    // The raw query (after "?") that logs in; default "user=operator&password=secret".
    void SetLoginQuery(const QString& query);
    // Answers every login with this status and body instead (no cookie), redirecting to location when one is
    // given; a status of 0 ends the override.
    void SetLoginAnswer(int status, const QByteArray& body, const QString& location = {});
    // Forgets every session, as a restarted server would.
    void ForgetSessions();
    void SetRequireCookie(bool require);

    // ---- what was asked ----
    int Requests(const QString& path) const;
    int LoginRequests() const { return Requests(QStringLiteral("/login")); }
    int TotalRequests() const;
    // Every request target (path and query) as received, in order.
    QStringList Targets() const;
    void ResetCounts();

private:
    enum class TKind
    {
        Content,
        Generated,
        GeneratedUnannounced,
        Status,
        Redirect,
        Hang,
        Delayed,
        StallMidBody,
        DropMidBody,
        Trickle
    };
    struct TAnswer
    {
        TKind Kind = TKind::Content;
        int Status = 200;
        std::string Body;
        qint64 Size = 0;
        std::string Location;
        size_t Step = 0;
        std::chrono::milliseconds Interval{0};
    };
    void SetAnswer(const QString& path, TAnswer answer);
    // Waits until ReleaseHangs or the server's end (bounded, so that a forgotten release cannot stall a run).
    void WaitForRelease();
    // Waits for the interval; false when the server ends meanwhile.
    bool Pause(std::chrono::milliseconds interval);

    std::unique_ptr<httplib::Server> FServer;
    std::thread FThread;
    int FPort = 0;

    mutable std::mutex FMutex; // guards everything below
    std::condition_variable FReleased;
    std::map<std::string, TAnswer> FAnswers;
    std::string FLoginQuery;
    int FLoginOverrideStatus = 0;
    std::string FLoginOverrideBody;
    std::string FLoginOverrideLocation;
    std::set<std::string> FSessions;
    int FNextSession = 1;
    bool FRequireCookie = true;
    std::map<std::string, int> FCounts;
    QStringList FTargets;
    quint64 FReleaseGeneration = 0;
    bool FStopping = false;
    TFlaky FFlaky;
    std::mt19937 FFlakyRandom;
    int FFlakyFailures = 0;
    int FFlakyHangs = 0;
};
