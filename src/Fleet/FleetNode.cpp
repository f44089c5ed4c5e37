#include "FleetNode.h"

#include "Errors.h"
#include "FleetPlays.h"
#include "Log.h"
#include "LogErrors.h"
#include "WorkQueue.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

namespace {

// Rows fetched from the journal at a time.
constexpr int FetchSize = 200;
// Log lines kept for the events topic while the link is down; the oldest go first.
constexpr size_t MaxEvents = 200;
// What of a command's payload its log line quotes.
constexpr int QuotedPayload = 200;
const QStringList Commands = {QStringLiteral("play"),   QStringLiteral("stop"), QStringLiteral("power"),
                              QStringLiteral("update"), QStringLiteral("list"), QStringLiteral("screenshot")};

QJsonValue Time(const QDateTime& time)
{
    return time.isValid() ? QJsonValue(time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs))
                          : QJsonValue(QJsonValue::Null);
}

QByteArray DisplayJson(int number, const TFleetDisplayStatus& d)
{
    QJsonObject json{
        {QStringLiteral("display"), number},
        {QStringLiteral("name"), d.Name},
        {QStringLiteral("identity"), QJsonObject{{QStringLiteral("output"), d.Output},
                                                 {QStringLiteral("manufacturer"), d.Manufacturer},
                                                 {QStringLiteral("model"), d.Model},
                                                 {QStringLiteral("serial"), d.Serial}}},
        {QStringLiteral("power"),
         d.PowerOn ? (*d.PowerOn ? QStringLiteral("on") : QStringLiteral("off")) : QStringLiteral("unknown")},
        {QStringLiteral("last_command"),
         d.LastCommandOn
             ? QJsonValue(QJsonObject{{QStringLiteral("command"),
                                       *d.LastCommandOn ? QStringLiteral("on") : QStringLiteral("off")},
                                      {QStringLiteral("at"), Time(d.LastCommandTime)},
                                      {QStringLiteral("succeeded"), d.LastCommandSucceeded},
                                      {QStringLiteral("error"), d.LastCommandError}})
             : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("playing"),
         d.VitrelleId.isEmpty() ? QJsonValue(QJsonValue::Null)
                                : QJsonValue(QJsonObject{{QStringLiteral("vitrelle"), d.VitrelleId},
                                                         {QStringLiteral("slide"), d.SlideId},
                                                         {QStringLiteral("since"), Time(d.PlayingSince)}})},
        {QStringLiteral("last_swap"), Time(d.LastSwap)},
        {QStringLiteral("last_update"), Time(d.LastUpdate)},
        {QStringLiteral("last_screenshot"), Time(d.LastScreenshot)},
    };
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

// The display number of a command: 1 to count, or 0 ("all") where allowed; -1 when it is none of these.
int DisplayOf(const QJsonObject& json, int count, bool allAllowed)
{
    const QJsonValue value = json.value(QStringLiteral("display"));
    if (allAllowed && value == QJsonValue(QStringLiteral("all")))
        return 0;
    if (!value.isDouble())
        return -1;
    const double number = value.toDouble();
    if (number != static_cast<int>(number) || number < 1 || number > count)
        return -1;
    return static_cast<int>(number);
}

} // namespace

QString TFleetNode::TopicBaseOf(const QString& site, const QString& kioskId)
{
    return QStringLiteral("%1/%2/%3").arg(TopicRoot, site, kioskId);
}

TFleetLinkOptions TFleetNode::LinkOptions(const TFleetSettings& settings)
{
    TFleetLinkOptions options;
    options.Host = settings.Host.trimmed();
    options.Port = settings.EffectivePort();
    options.ClientId =
        QStringLiteral("vitrelle-%1-%2").arg(settings.EffectiveSite(), settings.EffectiveKioskId());
    options.User = settings.User;
    options.Password = settings.Password;
    options.CaFile = settings.CaFile;
    options.CertFile = settings.CertFile;
    options.KeyFile = settings.KeyFile;
    const QString base = TopicBaseOf(settings.EffectiveSite(), settings.EffectiveKioskId());
    options.WillTopic = base + QStringLiteral("/status");
    options.WillPayload = QJsonDocument(QJsonObject{{QStringLiteral("kiosk"), settings.EffectiveKioskId()},
                                                    {QStringLiteral("site"), settings.EffectiveSite()},
                                                    {QStringLiteral("online"), false}})
                              .toJson(QJsonDocument::Compact);
    options.Subscriptions = {base + QStringLiteral("/cmd/+")};
    return options;
}

TFleetNode::TFleetNode(TFleetNodeOptions options, IFleetKiosk& kiosk, std::unique_ptr<IFleetLink> link)
    : FOptions(std::move(options)), FBase(TopicBaseOf(FOptions.Site, FOptions.KioskId)), FKiosk(kiosk),
      FLink(std::move(link))
{
    FWorker = std::make_unique<TWorkQueue>(QStringLiteral("Fleet journal"));
    if (!FOptions.JournalPath.isEmpty())
        FStore = std::make_shared<TFleetPlayStore>(FOptions.JournalPath, FOptions.KioskId);
    LoadMark();
    SetLogListener([this](const QString& source, quint8 level, const QString& message) {
        const QByteArray event =
            QJsonDocument(QJsonObject{{QStringLiteral("level"), level},
                                      {QStringLiteral("source"), source},
                                      {QStringLiteral("message"), message},
                                      {QStringLiteral("at"), Time(QDateTime::currentDateTime())}})
                .toJson(QJsonDocument::Compact);
        std::lock_guard lock(FEventsMutex);
        FEvents.push_back(event);
        if (FEvents.size() > MaxEvents) {
            FEvents.pop_front();
            ++FEventsDropped;
        }
    });
    connect(&FTimer, &QTimer::timeout, this, &TFleetNode::Tick);
    FTimer.start(FOptions.Tick);
    FLastRefill = std::chrono::steady_clock::now();
    FLink->Start(*this);
}

TFleetNode::~TFleetNode()
{
    SetLogListener(nullptr);
    FTimer.stop();
    if (FUp)
        PublishStatus(false);
    FUp = false;
    FLink.reset();   // sends the goodbye, then disconnects
    FWorker.reset(); // a job that has not started is dropped: a mark being saved may not be the last
    // On the way out the last mark is written here, or the rows acknowledged last would go out again at the
    // next start.
    if (FStore && FMarkLoaded && FMark != FSavedMark)
        LogErrors(LogSource, [this] { FStore->SetSentMark(FMark); });
}

qint64 TFleetNode::Send(const TFleetMessage& message)
{
    // While the node is destroyed, events served by the link's or the worker's end may still answer.
    return FLink ? FLink->Publish(message) : -1;
}

QByteArray TFleetNode::StatusJson(bool online) const
{
    const TFleetKioskStatus status = FKiosk.Status();
    return QJsonDocument(QJsonObject{{QStringLiteral("kiosk"), FOptions.KioskId},
                                     {QStringLiteral("site"), FOptions.Site},
                                     {QStringLiteral("online"), online},
                                     {QStringLiteral("version"), status.Version},
                                     {QStringLiteral("started"), Time(status.Started)},
                                     {QStringLiteral("restarts"), status.Restarts},
                                     {QStringLiteral("displays"), status.Displays},
                                     {QStringLiteral("at"), Time(QDateTime::currentDateTime())}})
        .toJson(QJsonDocument::Compact);
}

void TFleetNode::PublishStatus(bool online)
{
    Send({FBase + QStringLiteral("/status"), StatusJson(online), 1, true, {}, {}});
}

void TFleetNode::LinkUp()
{
    FUp = true;
    ++FGeneration;
    // What the kiosk is now goes first, then whatever the journal holds.
    PublishStatus(true);
    FDisplayJson.clear();
    FDisplaySent.clear();
    PublishDisplays(true);
    FToSend.clear();
    FPublished.clear();
    FTicketPlays.clear();
    FFetchedUpTo = FMark;
    FFetching = false;
    FTokens = 0;
    FLastRefill = std::chrono::steady_clock::now();
    PumpPlays();
}

void TFleetNode::LinkDown(const QString&)
{
    FUp = false;
    ++FGeneration;
    FToSend.clear();
    FPublished.clear();
    FTicketPlays.clear();
    FFetching = false;
}

void TFleetNode::Tick()
{
    if (!FUp)
        return;
    PublishDisplays(false);
    PublishEvents();
    PumpPlays();
}

void TFleetNode::PublishDisplays(bool all)
{
    const std::vector<TFleetDisplayStatus> displays = FKiosk.Displays();
    const int count = static_cast<int>(displays.size());
    if (count != FDisplayCount) {
        if (FDisplayCount >= 0 && !all)
            PublishStatus(true);
        // A display that left keeps no retained status.
        for (int n = count + 1; n <= FDisplayCount; ++n)
            Send({FBase + QStringLiteral("/display/%1/status").arg(n), {}, 1, true, {}, {}});
        FDisplayCount = count;
    }
    FDisplayJson.resize(displays.size());
    FDisplaySent.resize(displays.size());
    const auto now = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        QByteArray json = DisplayJson(i + 1, displays[static_cast<size_t>(i)]);
        auto& last = FDisplayJson[static_cast<size_t>(i)];
        auto& sent = FDisplaySent[static_cast<size_t>(i)];
        if (json == last || (!all && now - sent < FOptions.DisplayStatusInterval))
            continue;
        if (Send({FBase + QStringLiteral("/display/%1/status").arg(i + 1), json, 1, true, {}, {}}) < 0)
            return;
        last = std::move(json);
        sent = now;
    }
}

void TFleetNode::PublishEvents()
{
    std::deque<QByteArray> events;
    int dropped = 0;
    {
        std::lock_guard lock(FEventsMutex);
        events.swap(FEvents);
        std::swap(dropped, FEventsDropped);
    }
    if (dropped > 0)
        events.push_front(
            QJsonDocument(QJsonObject{{QStringLiteral("level"), 2},
                                      {QStringLiteral("source"), QString(LogSource)},
                                      {QStringLiteral("message"),
                                       QStringLiteral("%1 log lines were left out").arg(dropped)},
                                      {QStringLiteral("at"), Time(QDateTime::currentDateTime())}})
                .toJson(QJsonDocument::Compact));
    for (const QByteArray& event : events)
        Send({FBase + QStringLiteral("/events"), event, 0, false, {}, {}});
}

bool TFleetNode::StoreFailed(const std::exception_ptr& error)
{
    // Logged once until the store works again.
    if (!error) {
        FStoreTroubleLogged = false;
        return false;
    }
    if (!FStoreTroubleLogged)
        LogErrors(LogSource, [error] { std::rethrow_exception(error); });
    FStoreTroubleLogged = true;
    return true;
}

void TFleetNode::LoadMark()
{
    if (!FStore || !FWorker || FMarkLoaded || FLoadingMark)
        return;
    // The journal may not have made its database yet: tried again at the next tick.
    FLoadingMark = true;
    auto mark = std::make_shared<qint64>(0);
    FWorker->Post([store = FStore, mark] { *mark = store->SentMark(); },
                  [this, mark](std::exception_ptr error) {
                      FLoadingMark = false;
                      if (StoreFailed(error))
                          return;
                      FMark = FSavedMark = FFetchedUpTo = *mark;
                      FMarkLoaded = true;
                  });
}

void TFleetNode::PumpPlays()
{
    LoadMark();
    if (!FStore || !FMarkLoaded || !FUp)
        return;
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - FLastRefill).count();
    FLastRefill = now;
    FTokens =
        std::min(FTokens + seconds * FOptions.PlaysPerSecond, static_cast<double>(FOptions.PlaysPerSecond));
    while (!FToSend.empty() && FTokens >= 1 &&
           static_cast<int>(FTicketPlays.size()) < FOptions.PlaysInFlight) {
        auto [id, json] = std::move(FToSend.front());
        FToSend.pop_front();
        const qint64 ticket = Send({FBase + QStringLiteral("/plays"), json, 1, false, {}, {}});
        if (ticket <= 0)
            return; // down: LinkDown starts again from the mark
        FTokens -= 1;
        FPublished.push_back({id, false});
        FTicketPlays[ticket] = id;
    }
    if (FToSend.size() < FetchSize / 2 && !FFetching && FWorker) {
        FFetching = true;
        const quint64 generation = FGeneration;
        auto rows = std::make_shared<std::vector<TFleetPlay>>();
        FWorker->Post(
            [store = FStore, after = FFetchedUpTo, rows] { *rows = store->After(after, FetchSize); },
            [this, rows, generation](std::exception_ptr error) {
                if (generation != FGeneration)
                    return;
                FFetching = false;
                if (StoreFailed(error))
                    return;
                for (TFleetPlay& play : *rows) {
                    FFetchedUpTo = play.Id;
                    FToSend.emplace_back(play.Id, std::move(play.Json));
                }
            });
    }
}

void TFleetNode::Acknowledged(qint64 ticket)
{
    const auto found = FTicketPlays.find(ticket);
    if (found == FTicketPlays.end())
        return;
    const qint64 id = found->second;
    FTicketPlays.erase(found);
    for (TPublishedPlay& play : FPublished)
        if (play.Id == id)
            play.Acknowledged = true;
    // The mark moves over the rows acknowledged without a gap before them.
    while (!FPublished.empty() && FPublished.front().Acknowledged) {
        FMark = FPublished.front().Id;
        FPublished.pop_front();
    }
    SaveMark();
}

void TFleetNode::SaveMark()
{
    if (FSaving || FMark == FSavedMark || !FStore || !FWorker)
        return;
    FSaving = true;
    const qint64 mark = FMark;
    FWorker->Post([store = FStore, mark] { store->SetSentMark(mark); },
                  [this, mark](std::exception_ptr error) {
                      FSaving = false;
                      if (StoreFailed(error))
                          return;
                      FSavedMark = mark;
                      SaveMark(); // what was acknowledged meanwhile
                  });
}

void TFleetNode::Answer(const TFleetMessage& request, const QString& command, bool succeeded,
                        const QString& message)
{
    const QByteArray json =
        QJsonDocument(QJsonObject{{QStringLiteral("kiosk"), FOptions.KioskId},
                                  {QStringLiteral("command"), command},
                                  {QStringLiteral("ok"), succeeded},
                                  {QStringLiteral("message"), message},
                                  {QStringLiteral("at"), Time(QDateTime::currentDateTime())}})
            .toJson(QJsonDocument::Compact);
    const QString topic =
        request.ResponseTopic.isEmpty() ? FBase + QStringLiteral("/answers") : request.ResponseTopic;
    Send({topic, json, 1, false, {}, request.CorrelationData});
    WriteLog(LogSource, succeeded ? 3 : 2,
             QStringLiteral("Fleet command %1 %2: %3")
                 .arg(command, succeeded ? QStringLiteral("done") : QStringLiteral("refused"), message));
}

void TFleetNode::Received(const TFleetMessage& message)
{
    const QString prefix = FBase + QStringLiteral("/cmd/");
    if (!message.Topic.startsWith(prefix)) {
        // Only the kiosk's own command topic is subscribed to; anything else is never acted on.
        WriteLog(
            LogSource, 2,
            QStringLiteral("A message on %1 was ignored: not this kiosk's command topic").arg(message.Topic));
        return;
    }
    const QString name = message.Topic.mid(prefix.size());
    QString quoted = QString::fromUtf8(message.Payload.left(QuotedPayload));
    WriteLog(LogSource, 3,
             QStringLiteral("Fleet command %1 %2 from the broker (answer to %3)")
                 .arg(name, quoted,
                      message.ResponseTopic.isEmpty() ? FBase + QStringLiteral("/answers")
                                                      : message.ResponseTopic));
    if (!Commands.contains(name)) {
        Answer(message, name, false, QStringLiteral("Unknown command '%1'").arg(name));
        return;
    }
    QJsonParseError parseError;
    const QJsonDocument document = message.Payload.trimmed().isEmpty()
                                       ? QJsonDocument(QJsonObject())
                                       : QJsonDocument::fromJson(message.Payload, &parseError);
    if (document.isNull() || !document.isObject()) {
        Answer(message, name, false, QStringLiteral("The command is no JSON object"));
        return;
    }
    const QJsonObject json = document.object();
    const int count = static_cast<int>(FKiosk.Displays().size());
    TFleetCommand command;
    if (name == QLatin1String("play")) {
        command.Kind = TFleetCommand::Play;
        command.Display = DisplayOf(json, count, false);
        command.VitrelleId = json.value(QStringLiteral("vitrelle")).toString();
        const QJsonValue seconds = json.value(QStringLiteral("seconds"));
        if (!seconds.isUndefined() &&
            (!seconds.isDouble() || seconds.toDouble() < 1 || seconds.toDouble() > 86400)) {
            Answer(message, name, false, QStringLiteral("'seconds' must be a number from 1 to 86400"));
            return;
        }
        command.SlideSeconds = seconds.isUndefined() ? 0 : seconds.toInt();
        if (command.VitrelleId.isEmpty()) {
            Answer(message, name, false, QStringLiteral("'vitrelle' is missing"));
            return;
        }
    } else if (name == QLatin1String("stop")) {
        command.Kind = TFleetCommand::Stop;
        command.Display = DisplayOf(json, count, false);
    } else if (name == QLatin1String("power")) {
        command.Kind = TFleetCommand::Power;
        command.Display = DisplayOf(json, count, true);
        const QString state = json.value(QStringLiteral("state")).toString();
        if (state != QLatin1String("on") && state != QLatin1String("off")) {
            Answer(message, name, false, QStringLiteral("'state' must be \"on\" or \"off\""));
            return;
        }
        command.On = state == QLatin1String("on");
    } else if (name == QLatin1String("update")) {
        command.Kind = TFleetCommand::Update;
        command.VitrelleId = json.value(QStringLiteral("vitrelle")).toString();
        if (command.VitrelleId.isEmpty()) {
            Answer(message, name, false, QStringLiteral("'vitrelle' is missing"));
            return;
        }
    } else if (name == QLatin1String("list")) {
        command.Kind = TFleetCommand::DownloadList;
    } else if (name == QLatin1String("screenshot")) {
        const int display = DisplayOf(json, count, false);
        if (display < 1) {
            Answer(message, name, false,
                   QStringLiteral("'display' must be a display number from 1 to %1").arg(count));
            return;
        }
        Screenshot(message, display);
        return;
    }
    if (command.Display < 0 ||
        (command.Kind != TFleetCommand::Power && command.Kind != TFleetCommand::Update &&
         command.Kind != TFleetCommand::DownloadList && command.Display == 0)) {
        Answer(message, name, false,
               QStringLiteral("'display' must be a display number from 1 to %1").arg(count));
        return;
    }
    QPointer<TFleetNode> self(this);
    try {
        FKiosk.Execute(command, [self, message, name](bool succeeded, const QString& outcome) {
            if (self)
                self->Answer(message, name, succeeded, outcome);
        });
    } catch (const EVitrelleError& error) {
        // What the kiosk raised is the command's outcome, not the link's trouble.
        Answer(message, name, false, error.Message());
    } catch (const std::exception& error) {
        Answer(message, name, false, QString::fromUtf8(error.what()));
    }
}

void TFleetNode::Screenshot(const TFleetMessage& request, int display)
{
    const QString file = FKiosk.ScreenshotFile(display);
    if (!FWorker)
        return;
    auto picture = std::make_shared<QByteArray>();
    FWorker->Post(
        [file, picture] {
            QFile input(file);
            if (!input.open(QIODevice::ReadOnly))
                throw EFileError(QStringLiteral("Display has no picture yet (%1)").arg(file));
            *picture = input.readAll();
        },
        [this, request, display, picture](std::exception_ptr error) {
            if (error) {
                Answer(request, QStringLiteral("screenshot"), false,
                       QStringLiteral("Display %1 has no picture yet").arg(display));
                return;
            }
            Send({FBase + QStringLiteral("/display/%1/screenshot").arg(display), *picture, 1, false, {}, {}});
            Answer(request, QStringLiteral("screenshot"), true,
                   QStringLiteral("The picture of display %1 is on %2/display/%1/screenshot")
                       .arg(QString::number(display), FBase));
        });
}
