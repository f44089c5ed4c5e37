#include "Soak.h"

#include <sqlite3.h>

#include "ActionPeriodicity.h"
#include "AgentScheduleSource.h"
#include "Log.h"
#include "ScheduleAction.h"
#include "VitrelleCenterAgent.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleDownloader.h"
#include "VitrelleForm.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

const QStringList VitrelleIds = {QStringLiteral("lobby"), QStringLiteral("menu")};
const QStringList VitrelleNames = {QStringLiteral("Lobby"), QStringLiteral("Menu")};
constexpr int PicturesPerVitrelle = 3;

// A small picture of its own colour, so that each day's media differ.
QByteArray Picture(int day, int index)
{
    const auto level = [](int value) {
        return QString::number(value % 256, 16).rightJustified(2, QLatin1Char('0'));
    };
    return QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\">"
                          "<rect width=\"64\" height=\"64\" fill=\"#%1%2%3\"/></svg>")
        .arg(level(day * 37), level(index * 80), level(128))
        .toUtf8();
}

QString MediaName(const QString& id, int day, int index)
{
    return QStringLiteral("%1-d%2-%3.svg").arg(id, QString::number(day), QString::number(index));
}

} // namespace

// Local time that runs a given number of times faster than the machine's monotonic time, from a start; it
// stands still at the start until it is set going.
class TScaledClock : public IClock
{
public:
    explicit TScaledClock(QDateTime start) : FStart(std::move(start)) {}

    QDateTime Now() const override
    {
        std::lock_guard lock(FMutex);
        if (FSpeed <= 0)
            return FStart;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - FOrigin).count();
        return FStart.addMSecs(static_cast<qint64>(elapsed * FSpeed * 1000.0));
    }
    void Go(double speed)
    {
        std::lock_guard lock(FMutex);
        FOrigin = std::chrono::steady_clock::now();
        FSpeed = speed;
    }

private:
    mutable std::mutex FMutex;
    const QDateTime FStart;
    std::chrono::steady_clock::time_point FOrigin;
    double FSpeed = 0;
};

// Counts the log's lines by level instead of keeping them: a week of information lines would be most of
// the memory measured.
class TSoak::TCountingSink : public IEventSink
{
public:
    void ReportEvent(const QString&, TEventType type, quint16, quint32, const QString& text) override
    {
        std::lock_guard lock(Mutex);
        if (type == etError) {
            ++Errors;
            if (FirstErrors.size() < 20)
                FirstErrors << text.mid(text.indexOf(QLatin1String(" - ")) + 3);
        } else if (type == etWarning) {
            ++Warnings;
        }
    }
    mutable std::mutex Mutex;
    int Errors = 0;
    int Warnings = 0;
    QStringList FirstErrors;
};

void TSoakTally::Add(const TSoakTally& other)
{
    Due += other.Due;
    Run += other.Run;
    Lost += other.Lost;
    Twice += other.Twice;
    Late += other.Late;
    MaxDelaySeconds = std::max(MaxDelaySeconds, other.MaxDelaySeconds);
}

TSoak::TSoak(TSoakOptions options, QList<QRect> monitors, std::shared_ptr<const ISlideViewFactory> views)
    : FOptions(options), FMonitors(std::move(monitors)), FSimulated(views == nullptr),
      FLog(std::make_shared<TCountingSink>()), FViews(std::move(views)),
      FStart(QDate(2026, 12, 7), QTime(0, 0)) // a Monday
{
    if (FSimulated) {
        FSlideClock = std::make_shared<TManualSteadyClock>();
        FFakes.SlideViews->ReadyAtOnce = true;
        FViews = FFakes.SlideViews;
        FFakes.Clock->Set(FStart);
    } else {
        FScaledClock = std::make_shared<TScaledClock>(FStart);
        FFakes.Downloaders = std::make_shared<THttpDownloaderFactory>(ShortHttpOptions(FScaledClock));
    }
    for (int i = 0; i < FMonitors.size(); ++i) {
        TSimulatedDisplaySystem::TOutput& output =
            FFakes.Display->AddOutput(QStringLiteral("DISPLAY-%1").arg(i + 1));
        const QRect& place = FMonitors[i];
        output.Geometry = place;
        output.Modes = {TSystemDisplayMode{static_cast<quint32>(place.width()),
                                           static_cast<quint32>(place.height()), 60, 32}};
        output.Current = output.Modes.front();
    }
}

TSoak::~TSoak()
{
    FAgent.reset();
    SetPlayRecorder(nullptr);
    FJournal.reset();
    FinalizeLog();
    SetLogSinkOverride(nullptr);
}

QDateTime TSoak::Now() const
{
    return FSimulated ? FFakes.Clock->Now() : FScaledClock->Now();
}

void TSoak::Publish(int day)
{
    if (day == 0)
        FServer.SetFile(
            QStringLiteral("/list/VitrelleList.xml"),
            "<Vitrelles><Vitrelle id=\"lobby\" name=\"Lobby\"/><Vitrelle id=\"menu\" name=\"Menu\"/>"
            "</Vitrelles>");
    for (int v = 0; v < VitrelleIds.size(); ++v) {
        const QString& id = VitrelleIds[v];
        QString xml = QStringLiteral("<Vitrelle name=\"%1\">").arg(VitrelleNames[v]);
        const QString today = QString::number(day);
        const QString dayNumber = QString::number(day + 1);
        for (int k = 1; k <= PicturesPerVitrelle; ++k) {
            const QString media = MediaName(id, day, k);
            xml += QStringLiteral("<Diapositive id=\"%1-d%2-%3\" type=\"Photo\"><image id=\"%4\"/>"
                                  "<Caption>%5, day %6, picture %3</Caption></Diapositive>")
                       .arg(id, today, QString::number(k), media, VitrelleNames[v], dayNumber);
            FServer.SetFile(QStringLiteral("/media/") + media, Picture(day, k));
            // Yesterday's pictures are gone from the server, as they would be from a real one.
            if (day > 0)
                FServer.Remove(QStringLiteral("/media/") + MediaName(id, day - 1, k));
        }
        xml += QStringLiteral("<Diapositive id=\"%1-d%2-news\" type=\"Announcement\"><Title>%3</Title>"
                              "<Line>News of day %4</Line></Diapositive></Vitrelle>")
                   .arg(id, today, VitrelleNames[v], dayNumber);
        FServer.SetFile(QStringLiteral("/vitrelles/%1.xml").arg(id), xml.toUtf8());
    }
    FPublishedDay = day;
}

void TSoak::Start()
{
    {
        TVitrelleCenterSettings settings(FFolder.Path());
        FServer.Configure(settings.HttpSettings());
        settings.Save();
    }
    const QString demo = QStringLiteral(VC_DEMO_FOLDER);
    FFolder.Write("Templates/Types.xml", ReadFileBytes(demo + "/Templates/Types.xml")
                                             .replace("http://127.0.0.1:8080", FServer.BaseUrl().toUtf8()));
    for (const char* name : {"Photo.xsl", "Announcement.xsl"})
        FFolder.Write(QStringLiteral("Templates/") + name,
                      ReadFileBytes(demo + "/Templates/" + QString::fromLatin1(name)));
    FServer.SetFile("/templates/Photo/photo.css", ReadFileBytes(demo + "/Cache/Photo/photo.css"));
    FServer.SetFile("/templates/Announcement/announcement.css",
                    ReadFileBytes(demo + "/Cache/Announcement/announcement.css"));
    Publish(0);

    SetLogSinkOverride(FLog);
    TAgentPlatform platform = FFakes.Agent();
    platform.SlideViews = FViews;
    if (FSimulated) {
        platform.SlideClock = FSlideClock;
    } else {
        platform.Clock = FScaledClock;
    }
    FAgent = CreateAgent(FFolder.Path(), platform);
    if (!FAgent)
        throw std::runtime_error("the agent did not start: " + FLog->FirstErrors.join(" | ").toStdString());
    // The soak moves the schedule on itself, in step with the clocks.
    FAgent->Scheduler().StopTicking();
    if (FAgent->DeviceCount() != FMonitors.size() ||
        FAgent->Repository().DownloaderCount() != VitrelleIds.size())
        throw std::runtime_error("the agent has not found every display and vitrelle");

    // Everything cached once while the server still behaves.
    for (int i = 0; i < FAgent->Repository().DownloaderCount(); ++i)
        if (!FAgent->Repository().DownloaderAt(i)->Update())
            throw std::runtime_error("the first update failed");
    if (!Settle())
        throw std::runtime_error("the first media downloads did not end");

    BuildSchedule();
    ExpectDue();
    FDevicePowerSeen.assign(static_cast<size_t>(FAgent->DeviceCount()), QDateTime());
    FWasPlaying.assign(static_cast<size_t>(FAgent->PlayerCount()), false);
    for (int i = 0; i < FAgent->PlayerCount(); ++i)
        FAgent->Players(i).Form().SetOnSlideShown([this] { ++FSwaps; });
    for (int i = 0; i < FAgent->Repository().DownloaderCount(); ++i) {
        const TVitrelleDownloader* downloader = FAgent->Repository().DownloaderAt(i);
        FUpdateSeen[downloader->Vitrelle()->Id] = downloader->LastUpdate().Time;
    }
    FPowerRequestsSeen = FFakes.Display->PowerRequests.size();
    FServer.ResetCounts();
    // From here on everything the soak counts goes to the play journal too.
    FJournal = std::make_shared<TPlayJournal>(FFolder.File(QString(TPlayJournal::FileName)),
                                              TPlayJournal::TOptions{});
    SetPlayRecorder(FJournal);
    FServer.SetFlaky(FOptions.Flaky);
}

void TSoak::BuildSchedule()
{
    TVitrelleScheduler& scheduler = FAgent->Scheduler();
    scheduler.Clear();
    const auto add = [&](IScheduleSource* source, qint32 code, quint8 kind, QTime time,
                         QStringList params = {}) {
        scheduler.AddAction(TScheduleAction::CreateAction(source, code, kind, time, true, &params));
    };
    for (IScheduleSource* source : scheduler.Sources())
        if (dynamic_cast<TAgentScheduleSource*>(source) != nullptr) {
            add(source, TAgentScheduleSource::PowerOnAllAction, TActionPeriodicity::EveryDay, QTime(6, 50));
            add(source, TAgentScheduleSource::PowerOffAllAction, TActionPeriodicity::EveryDay, QTime(21, 10));
        }
    // The first display is switched off over lunch.
    add(&FAgent->Devices(0), TVitrelleDevice::PowerOffAction, TActionPeriodicity::EveryDay, QTime(12, 30));
    add(&FAgent->Devices(0), TVitrelleDevice::PowerOnAction, TActionPeriodicity::EveryDay, QTime(13, 30));
    // The first display plays every day, the second on working days.
    const QString duration =
        TVitrellePlayer::SlideDurationParam + "=" + QString::number(FOptions.SlideSeconds);
    add(&FAgent->Players(0), TVitrellePlayer::PlayAction, TActionPeriodicity::EveryDay, QTime(7, 0),
        {TVitrellePlayer::VitrelleIdParam + "=lobby", duration});
    add(&FAgent->Players(0), TVitrellePlayer::StopAction, TActionPeriodicity::EveryDay, QTime(20, 0));
    add(&FAgent->Players(1), TVitrellePlayer::PlayAction, TActionPeriodicity::MondayToFriday, QTime(7, 30),
        {TVitrellePlayer::VitrelleIdParam + "=menu", duration});
    add(&FAgent->Players(1), TVitrellePlayer::StopAction, TActionPeriodicity::MondayToFriday, QTime(19, 0));
    // Every vitrelle is updated every hour.
    for (int i = 0; i < FAgent->Repository().DownloaderCount(); ++i)
        add(FAgent->Repository().DownloaderAt(i), TVitrelleDownloader::UpdateAction,
            TActionPeriodicity::EveryHour, QTime(0, 20 + 20 * i));
}

void TSoak::ExpectDue()
{
    struct TDaily
    {
        QString Key;
        QString Kind;
        QTime Time;
        bool WorkingDaysOnly;
    };
    const std::vector<TDaily> daily = {
        {"power all on", "power all on", QTime(6, 50), false},
        {"power all off", "power all off", QTime(21, 10), false},
        {"display 1 off", "display power", QTime(12, 30), false},
        {"display 1 on", "display power", QTime(13, 30), false},
        {"player 1 play", "play", QTime(7, 0), false},
        {"player 1 stop", "stop", QTime(20, 0), false},
        {"player 2 play", "play", QTime(7, 30), true},
        {"player 2 stop", "stop", QTime(19, 0), true},
    };
    for (int d = 0; d < FOptions.Days; ++d) {
        const QDate date = FStart.date().addDays(d);
        for (const TDaily& action : daily)
            if (!action.WorkingDaysOnly || date.dayOfWeek() <= 5)
                FDue.push_back({action.Key, action.Kind, QDateTime(date, action.Time)});
        for (int hour = 0; hour < 24; ++hour)
            for (int i = 0; i < VitrelleIds.size(); ++i)
                FDue.push_back(
                    {"update " + VitrelleIds[i], "update", QDateTime(date, QTime(hour, 20 + 20 * i))});
    }
}

void TSoak::Observe(const QDateTime& now)
{
    const QList<bool>& requests = FFakes.Display->PowerRequests;
    for (; FPowerRequestsSeen < requests.size(); ++FPowerRequestsSeen) {
        const QString kind = requests[FPowerRequestsSeen] ? "power all on" : "power all off";
        FRuns.push_back({kind, kind, now});
    }
    for (int i = 0; i < FAgent->DeviceCount(); ++i) {
        const std::optional<TPowerCommandRecord>& record = FAgent->Devices(i).LastPowerCommand();
        QDateTime& seen = FDevicePowerSeen[static_cast<size_t>(i)];
        if (record && record->Time != seen) {
            seen = record->Time;
            FRuns.push_back(
                {QStringLiteral("display %1 %2").arg(QString::number(i + 1), record->On ? "on" : "off"),
                 "display power", record->Time});
        }
    }
    for (int i = 0; i < FAgent->PlayerCount(); ++i) {
        const bool playing = FAgent->Players(i).State() == psPlaying;
        if (playing != FWasPlaying[static_cast<size_t>(i)])
            FRuns.push_back(
                {QStringLiteral("player %1 %2").arg(QString::number(i + 1), playing ? "play" : "stop"),
                 playing ? "play" : "stop", now});
        FWasPlaying[static_cast<size_t>(i)] = playing;
    }
    for (int i = 0; i < FAgent->Repository().DownloaderCount(); ++i) {
        const TVitrelleDownloader* downloader = FAgent->Repository().DownloaderAt(i);
        const TVitrelleUpdateRecord& record = downloader->LastUpdate();
        QDateTime& seen = FUpdateSeen[downloader->Vitrelle()->Id];
        if (record.Time.isValid() && record.Time != seen) {
            seen = record.Time;
            FRuns.push_back({"update " + downloader->Vitrelle()->Id, "update", record.Time});
            ++(record.Succeeded ? FUpdatesSucceeded : FUpdatesFailed);
        }
    }
}

bool TSoak::Idle() const
{
    for (int i = 0; i < FAgent->Repository().DownloaderCount(); ++i)
        if (FAgent->Repository().DownloaderAt(i)->Downloading())
            return false;
    if (!FSimulated)
        return true;
    int playing = 0;
    for (int i = 0; i < FAgent->PlayerCount(); ++i)
        playing += FAgent->Players(i).State() == psPlaying ? 1 : 0;
    const std::optional<std::chrono::milliseconds> next = FSlideClock->NextDeadline();
    return FSlideClock->WaitingAwake() == playing && (!next || *next > FSlideClock->Now());
}

bool TSoak::Settle()
{
    const QDeadlineTimer limit(std::chrono::seconds(60));
    for (;;) {
        QCoreApplication::processEvents();
        if (Idle()) {
            QCoreApplication::processEvents();
            if (Idle())
                return true;
        }
        if (limit.hasExpired())
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

void TSoak::EndDay(int day, const std::function<void(int)>& dayEnded)
{
    // The server's record of every request would grow all week in the process measured.
    FRequests += FServer.TotalRequests();
    FServer.ResetCounts();
    if (dayEnded)
        dayEnded(day);
}

void TSoak::RunSimulated(const std::function<void(int)>& dayEnded)
{
    if (!FSimulated)
        throw std::logic_error("a soak with real views runs in real time");
    const QDateTime end = FStart.addDays(FOptions.Days);
    QDateTime now = FStart;
    while (now < end) {
        now = now.addSecs(FOptions.Step.count());
        FFakes.Clock->Set(now);
        const int day = static_cast<int>(FStart.daysTo(now));
        if (day > FPublishedDay && day < FOptions.Days)
            Publish(day);
        FSlideClock->Advance(FOptions.Step);
        if (!Settle())
            throw std::runtime_error("the players did not settle at " +
                                     now.toString(Qt::ISODate).toStdString());
        FAgent->Scheduler().Tick();
        if (!Settle())
            throw std::runtime_error("the system did not settle after the actions of " +
                                     now.toString(Qt::ISODate).toStdString());
        Observe(now);
        if (now.time() == QTime(0, 0))
            EndDay(day - 1, dayEnded);
    }
}

void TSoak::RunRealTime(std::chrono::milliseconds duration, const std::function<void(int)>& dayEnded)
{
    if (FSimulated)
        throw std::logic_error("a simulated soak runs in simulated time");
    const QDateTime end = FStart.addDays(FOptions.Days);
    FScaledClock->Go(static_cast<double>(FOptions.Days) * 86400000.0 / static_cast<double>(duration.count()));
    int reported = 0;
    QEventLoop loop;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        const QDateTime now = Now();
        const int day = static_cast<int>(FStart.daysTo(std::min(now, end)));
        if (day > FPublishedDay && day < FOptions.Days)
            Publish(day);
        if (now < end)
            FAgent->Scheduler().Tick();
        Observe(now);
        for (; reported < day; ++reported)
            EndDay(reported, dayEnded);
        if (now >= end)
            loop.quit();
    });
    timer.start(100);
    loop.exec();
}

void TSoak::Finish()
{
    for (int i = 0; i < FAgent->PlayerCount(); ++i)
        FAgent->Players(i).StopPlaying(true);
    const QDeadlineTimer limit(std::chrono::seconds(30));
    while (!limit.hasExpired()) {
        bool playing = false;
        for (int i = 0; i < FAgent->PlayerCount(); ++i)
            playing = playing || FAgent->Players(i).State() == psPlaying;
        if (!playing && Settle())
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

TSoakReport TSoak::Report() const
{
    TSoakReport report;
    report.Start = FStart;
    report.End = FStart.addDays(FOptions.Days);
    std::map<QString, std::vector<QDateTime>> due;
    std::map<QString, QString> kindOf;
    for (const TMoment& moment : FDue) {
        due[moment.Key].push_back(moment.Time);
        kindOf[moment.Key] = moment.Kind;
        ++report.ByKind[moment.Kind].Due;
    }
    std::map<QString, std::vector<int>> answered; // runs per due moment
    for (auto& [key, moments] : due) {
        std::sort(moments.begin(), moments.end());
        answered[key].assign(moments.size(), 0);
    }
    for (const TMoment& run : FRuns) {
        TSoakTally& tally = report.ByKind[run.Kind];
        ++tally.Run;
        const std::vector<QDateTime>& moments = due[run.Key];
        // The latest due moment before the run: a due action runs at the first pass after its moment.
        const auto after = std::lower_bound(moments.begin(), moments.end(), run.Time);
        if (after == moments.begin()) {
            ++tally.Twice;
            report.Faults << QStringLiteral("%1 ran at %2 without being due")
                                 .arg(run.Key, run.Time.toString(Qt::ISODate));
            continue;
        }
        const size_t index = static_cast<size_t>(after - moments.begin()) - 1;
        if (++answered[run.Key][index] > 1) {
            ++tally.Twice;
            report.Faults << QStringLiteral("%1 due at %2 ran again at %3")
                                 .arg(run.Key, moments[index].toString(Qt::ISODate),
                                      run.Time.toString(Qt::ISODate));
            continue;
        }
        const qint64 delay = moments[index].secsTo(run.Time);
        tally.MaxDelaySeconds = std::max(tally.MaxDelaySeconds, delay);
        if (delay > FOptions.Tolerance.count()) {
            ++tally.Late;
            report.Faults << QStringLiteral("%1 due at %2 ran %3 s late")
                                 .arg(run.Key, moments[index].toString(Qt::ISODate), QString::number(delay));
        }
    }
    for (const auto& [key, counts] : answered)
        for (size_t i = 0; i < counts.size(); ++i)
            if (counts[i] == 0) {
                ++report.ByKind[kindOf[key]].Lost;
                report.Faults
                    << QStringLiteral("%1 due at %2 never ran").arg(key, due[key][i].toString(Qt::ISODate));
            }
    for (const auto& [kind, tally] : report.ByKind)
        report.Total.Add(tally);
    report.Swaps = FSwaps;
    if (FJournal) {
        FJournal->Flush();
        sqlite3* database = nullptr;
        sqlite3_open_v2(FJournal->Path().toUtf8().constData(), &database, SQLITE_OPEN_READONLY, nullptr);
        const auto count = [database](const char* sql) {
            sqlite3_stmt* statement = nullptr;
            qint64 rows = -1;
            if (sqlite3_prepare_v2(database, sql, -1, &statement, nullptr) == SQLITE_OK &&
                sqlite3_step(statement) == SQLITE_ROW)
                rows = sqlite3_column_int64(statement, 0);
            sqlite3_finalize(statement);
            return rows;
        };
        report.JournalFolder = FFolder.Path();
        report.JournalPlays = count("SELECT count(*) FROM plays");
        report.JournalMisses = count("SELECT count(*) FROM misses");
        report.JournalPowers = count("SELECT count(*) FROM power");
        report.JournalUpdatesSucceeded = count("SELECT count(*) FROM updates WHERE outcome = 'succeeded'");
        report.JournalUpdatesFailed = count("SELECT count(*) FROM updates WHERE outcome = 'failed'");
        sqlite3_close_v2(database);
    }
    report.UpdatesSucceeded = FUpdatesSucceeded;
    report.UpdatesFailed = FUpdatesFailed;
    report.Requests = FRequests + FServer.TotalRequests();
    report.ServerFailures = FServer.FlakyFailures();
    report.ServerHangs = FServer.FlakyHangs();
    std::lock_guard lock(FLog->Mutex);
    report.ErrorLines = FLog->Errors;
    report.WarningLines = FLog->Warnings;
    report.FirstErrors = FLog->FirstErrors;
    return report;
}

qint64 TSoak::CacheFiles() const
{
    qint64 count = 0;
    QDirIterator files(FAgent->Repository().RepositoryFolder(), QDir::Files | QDir::Hidden,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        files.next();
        ++count;
    }
    return count;
}
