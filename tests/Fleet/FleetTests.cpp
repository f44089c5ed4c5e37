#include "Errors.h"
#include "EventWait.h"
#include "FleetNode.h"
#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MosquittoLink.h"
#include "PlayJournal.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <gtest/gtest.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <mutex>

namespace {

// A client of the broker that records what arrives (all of vitrelle/v1/#) and sends commands: the operator's
// and the collector's side. Reconnects at once when the broker comes back.
class TTestClient
{
public:
    struct TReceived
    {
        QString Topic;
        QByteArray Payload;
        QByteArray Correlation;
    };

    TTestClient(const TMosquittoBroker& broker, const QString& id, bool tls)
    {
        mosquitto_lib_init();
        FMosq = mosquitto_new(id.toUtf8().constData(), true, this);
        mosquitto_int_option(FMosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        if (tls)
            mosquitto_tls_set(FMosq, broker.CaFile().toLocal8Bit().constData(), nullptr,
                              broker.ClientCertFile().toLocal8Bit().constData(),
                              broker.ClientKeyFile().toLocal8Bit().constData(), nullptr);
        mosquitto_reconnect_delay_set(FMosq, 1, 1, false);
        mosquitto_connect_v5_callback_set(
            FMosq, [](mosquitto* m, void* self, int rc, int, const mosquitto_property*) {
                if (rc == 0)
                    mosquitto_subscribe_v5(m, nullptr, "vitrelle/v1/#", 1, 0, nullptr);
                (void)self;
            });
        mosquitto_subscribe_v5_callback_set(
            FMosq, [](mosquitto*, void* self, int, int, const int*, const mosquitto_property*) {
                auto* client = static_cast<TTestClient*>(self);
                std::lock_guard lock(client->FMutex);
                ++client->FSubscriptions;
            });
        mosquitto_message_v5_callback_set(FMosq, [](mosquitto*, void* self, const mosquitto_message* message,
                                                    const mosquitto_property* props) {
            auto* client = static_cast<TTestClient*>(self);
            TReceived received{QString::fromUtf8(message->topic),
                               QByteArray(static_cast<const char*>(message->payload), message->payloadlen),
                               {}};
            void* data = nullptr;
            uint16_t length = 0;
            if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length, false)) {
                received.Correlation = QByteArray(static_cast<const char*>(data), length);
                free(data);
            }
            std::lock_guard lock(client->FMutex);
            client->FReceived.push_back(received);
        });
        mosquitto_connect_async(FMosq, tls ? "localhost" : "127.0.0.1", broker.Port(), 5);
        mosquitto_loop_start(FMosq);
        EXPECT_TRUE(ServeEventsUntil([this] { return Subscriptions() > 0; }))
            << "the test's client never subscribed";
    }
    ~TTestClient()
    {
        mosquitto_disconnect(FMosq);
        mosquitto_loop_stop(FMosq, true);
        mosquitto_destroy(FMosq);
    }

    int Subscriptions()
    {
        std::lock_guard lock(FMutex);
        return FSubscriptions;
    }
    std::vector<TReceived> Received()
    {
        std::lock_guard lock(FMutex);
        return FReceived;
    }
    std::vector<TReceived> On(const QString& topicEnd)
    {
        std::vector<TReceived> found;
        for (const TReceived& r : Received())
            if (r.Topic.endsWith(topicEnd))
                found.push_back(r);
        return found;
    }
    // The row ids of the plays received, in order of arrival.
    std::vector<qint64> PlayIds()
    {
        std::vector<qint64> ids;
        for (const TReceived& r : On(QStringLiteral("/plays")))
            ids.push_back(
                QJsonDocument::fromJson(r.Payload).object().value(QStringLiteral("id")).toInteger());
        return ids;
    }
    void Command(const QString& topic, const QByteArray& payload, const QByteArray& correlation)
    {
        mosquitto_property* props = nullptr;
        mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, "vitrelle/v1/operator/answers");
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation.constData(),
                                      static_cast<uint16_t>(correlation.size()));
        mosquitto_publish_v5(FMosq, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()),
                             payload.constData(), 1, false, props);
        mosquitto_property_free_all(&props);
    }

private:
    mosquitto* FMosq = nullptr;
    std::mutex FMutex;
    int FSubscriptions = 0;
    std::vector<TReceived> FReceived;
};

// Two displays; records the commands it was given and answers them at once.
class TFakeKiosk : public IFleetKiosk
{
public:
    TFleetKioskStatus Status() const override
    {
        return {QStringLiteral("0.1.0"), QDateTime::currentDateTime(), 2, 2};
    }
    std::vector<TFleetDisplayStatus> Displays() const override { return FDisplays; }
    void Execute(const TFleetCommand& command, TDone done) override
    {
        Commands.push_back(command);
        if (command.VitrelleId == QLatin1String("broken"))
            throw EVitrelleError(QStringLiteral("The vitrelle broken cannot be read"));
        done(true, QStringLiteral("done"));
    }
    QString ScreenshotFile(int display) const override
    {
        return Screens + QStringLiteral("/%1.jpg").arg(display);
    }

    static TFleetDisplayStatus Display(const QString& name, const QString& output)
    {
        TFleetDisplayStatus display;
        display.Name = name;
        display.Output = output;
        return display;
    }
    std::vector<TFleetDisplayStatus> FDisplays = {Display(QStringLiteral("Lobby"), QStringLiteral("HDMI-1")),
                                                  Display(QStringLiteral("Bar"), QStringLiteral("HDMI-2"))};
    std::vector<TFleetCommand> Commands;
    QString Screens;
};

TPlayRecord Play(int display, const QDateTime& appeared, int n)
{
    TPlayRecord play;
    play.Display.Name = display == 1 ? QStringLiteral("Lobby") : QStringLiteral("Bar");
    play.Display.Output = QStringLiteral("HDMI-%1").arg(display);
    play.VitrelleId = QStringLiteral("welcome");
    play.VitrelleName = QStringLiteral("Welcome");
    play.SlideId = QStringLiteral("s%1").arg(n);
    play.SlideType = QStringLiteral("Photo");
    play.Appeared = appeared;
    play.DurationMs = 10000;
    play.Ended = QStringLiteral("next");
    return play;
}

class FleetWithBroker : public ::testing::Test
{
protected:
    TTempFolder Folder;
    TFakeKiosk Kiosk;
    QString JournalPath() const { return Folder.File(QStringLiteral("PlayJournal.sqlite")); }

    std::unique_ptr<TFleetNode>
    StartNode(const TMosquittoBroker& broker, TFleetSettings settings,
              std::chrono::milliseconds minBackoff = std::chrono::milliseconds(1000),
              int playsPerSecond = 200)
    {
        settings.Host = settings.Host.isEmpty() ? QStringLiteral("127.0.0.1") : settings.Host;
        settings.Port = broker.Port();
        settings.Site = QStringLiteral("lyon");
        settings.KioskId = QStringLiteral("k1");
        TFleetLinkOptions link = TFleetNode::LinkOptions(settings);
        link.MinBackoff = minBackoff;
        link.MaxBackoff = minBackoff * 8;
        TFleetNodeOptions options;
        options.Site = settings.EffectiveSite();
        options.KioskId = settings.EffectiveKioskId();
        options.JournalPath = JournalPath();
        options.PlaysPerSecond = playsPerSecond;
        options.Tick = std::chrono::milliseconds(50);
        return std::make_unique<TFleetNode>(options, Kiosk, CreateMosquittoLink(link));
    }

    // Every id from 1 to count once, in order.
    static void ExpectEveryPlayOnceInOrder(const std::vector<qint64>& ids, qint64 count)
    {
        std::vector<qint64> expected(static_cast<size_t>(count));
        for (qint64 i = 0; i < count; ++i)
            expected[static_cast<size_t>(i)] = i + 1;
        EXPECT_EQ(ids, expected);
    }
};

} // namespace

// Plain and TLS (CA, client certificate): the status, both displays' status and every play of the journal
// arrive, the plays once each in row order; the node's mark is in the journal.
TEST_F(FleetWithBroker, StatusAndPlaysArrivePlainAndOverTls)
{
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        TTempFolder brokerFolder;
        TMosquittoBroker::TOptions options;
        options.Tls = tls;
        TMosquittoBroker broker(brokerFolder.Path(), options);
        TTestClient client(broker, QStringLiteral("collector"), tls);
        const QString journalPath = JournalPath();
        QFile::remove(journalPath);
        {
            TPlayJournal journal(journalPath, {});
            for (int i = 0; i < 30; ++i)
                journal.Record(Play(i % 2 + 1, QDateTime::currentDateTime().addSecs(i), i));
            journal.Flush();
        }
        TFleetSettings settings;
        if (tls) {
            settings.Host = QStringLiteral("localhost");
            settings.CaFile = broker.CaFile();
            settings.CertFile = broker.ClientCertFile();
            settings.KeyFile = broker.ClientKeyFile();
        }
        auto node = StartNode(broker, settings);
        ASSERT_TRUE(ServeEventsUntil([&] { return client.PlayIds().size() >= 30 && node->SentMark() == 30; }))
            << broker.Output().toStdString();
        ExpectEveryPlayOnceInOrder(client.PlayIds(), 30);
        const auto status = client.On(QStringLiteral("lyon/k1/status"));
        ASSERT_FALSE(status.empty());
        EXPECT_TRUE(QJsonDocument::fromJson(status.front().Payload)
                        .object()
                        .value(QStringLiteral("online"))
                        .toBool());
        const auto display = client.On(QStringLiteral("lyon/k1/display/2/status"));
        ASSERT_FALSE(display.empty());
        EXPECT_EQ(
            QJsonDocument::fromJson(display.back().Payload).object().value(QStringLiteral("name")).toString(),
            "Bar");
        // A new node on the same journal sends nothing twice.
        node.reset();
        ASSERT_TRUE(ServeEventsUntil([&] {
            const auto s = client.On(QStringLiteral("lyon/k1/status"));
            return !QJsonDocument::fromJson(s.back().Payload)
                        .object()
                        .value(QStringLiteral("online"))
                        .toBool();
        })) << "no offline status at the end";
        node = StartNode(broker, settings);
        ASSERT_TRUE(
            ServeEventsUntil([&] { return client.On(QStringLiteral("lyon/k1/status")).size() >= 3; }));
        ServeEventsUntil([] { return false; }, 500);
        ExpectEveryPlayOnceInOrder(client.PlayIds(), 30);
    }
}

// The broker killed while the displays keep playing and started again: every play arrives once, in order,
// and the status is published again.
TEST_F(FleetWithBroker, ABrokerKilledAndStartedAgainLosesAndDoublesNoPlay)
{
    TTempFolder brokerFolder;
    TMosquittoBroker broker(brokerFolder.Path(), {});
    auto client = std::make_unique<TTestClient>(broker, QStringLiteral("collector"), false);
    TPlayJournal::TOptions options;
    options.FlushPeriod = std::chrono::milliseconds(100);
    TPlayJournal journal(JournalPath(), options);
    auto node = StartNode(broker, {}, std::chrono::milliseconds(1000));
    int recorded = 0;
    QTimer player;
    QObject::connect(&player, &QTimer::timeout, [&] {
        journal.Record(Play(recorded % 2 + 1, QDateTime::currentDateTime(), recorded));
        ++recorded;
    });
    player.start(20);
    ASSERT_TRUE(ServeEventsUntil([&] { return client->PlayIds().size() >= 40; }));
    broker.Kill();
    ServeEventsUntil([] { return false; }, 1500);
    const int beforeRestart = static_cast<int>(client->On(QStringLiteral("lyon/k1/status")).size());
    broker.Start();
    // The collector is back before the kiosk's next try (its pause is at least a second by now).
    ASSERT_TRUE(ServeEventsUntil([&] { return client->Subscriptions() >= 2; }, 5000));
    ServeEventsUntil([] { return false; }, 1500);
    player.stop();
    journal.Flush();
    ASSERT_TRUE(ServeEventsUntil([&] { return static_cast<int>(node->SentMark()) == recorded; }, 20000))
        << node->SentMark() << " of " << recorded;
    ServeEventsUntil([] { return false; }, 300);
    ExpectEveryPlayOnceInOrder(client->PlayIds(), recorded);
    EXPECT_GT(static_cast<int>(client->On(QStringLiteral("lyon/k1/status")).size()), beforeRestart);
}

// A kiosk that was offline for a day (its journal holds a day of plays, every five minutes on two displays)
// sends its status first, then the whole backlog in row order at the bounded rate.
TEST_F(FleetWithBroker, ADayOfflineGoesOutInOrderStatusFirst)
{
    const QDateTime dayStart(QDate(2026, 12, 7), QTime(0, 0));
    {
        TPlayJournal journal(JournalPath(), {});
        for (int minute = 0; minute < 24 * 60; minute += 5)
            for (int display = 1; display <= 2; ++display)
                journal.Record(Play(display, dayStart.addSecs(minute * 60), minute));
        journal.Flush();
    }
    const int rows = 24 * 12 * 2;
    TTempFolder brokerFolder;
    TMosquittoBroker broker(brokerFolder.Path(), {});
    TTestClient client(broker, QStringLiteral("collector"), false);
    QElapsedTimer elapsed;
    elapsed.start();
    auto node = StartNode(broker, {}, std::chrono::milliseconds(1000), 400);
    ASSERT_TRUE(ServeEventsUntil([&] { return static_cast<int>(client.PlayIds().size()) >= rows; }, 20000));
    // 576 rows at 400 a second take more than a second: the rate holds.
    EXPECT_GE(elapsed.elapsed(), 1000);
    ExpectEveryPlayOnceInOrder(client.PlayIds(), rows);
    const auto all = client.Received();
    ASSERT_FALSE(all.empty());
    EXPECT_TRUE(all.front().Topic.endsWith("/status")) << all.front().Topic.toStdString();
    const auto first = QJsonDocument::fromJson(client.On("/plays").front().Payload).object();
    EXPECT_EQ(QDateTime::fromString(first.value("appeared").toString(), Qt::ISODateWithMs), dayStart);
}

// Wrong credentials: one level-1 line, attempts with growing pauses, and the main thread never held up.
TEST_F(FleetWithBroker, WrongCredentialsAreLoggedOnceAndRetriedWithBackOff)
{
    TLogCapture log;
    TTempFolder brokerFolder;
    TMosquittoBroker broker(brokerFolder.Path(),
                            {.User = QStringLiteral("k1"), .Password = QStringLiteral("right")});
    TFleetSettings settings;
    settings.User = QStringLiteral("k1");
    settings.Password = QStringLiteral("wrong-secret");
    auto node = StartNode(broker, settings, std::chrono::milliseconds(200));
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 last = 0;
    qint64 worstGap = 0;
    while (elapsed.elapsed() < 4000) {
        ServeEventsUntil([] { return false; }, 10);
        worstGap = std::max(worstGap, elapsed.elapsed() - last);
        last = elapsed.elapsed();
    }
    const QStringList lines = log.Lines();
    EXPECT_EQ(lines.filter("[1] TMosquittoLink").size(), 1) << lines.join('\n').toStdString();
    EXPECT_FALSE(log.Contains("wrong-secret"));
    // Pauses of 0.2, 0.4, 0.8, 1.6 s: about five attempts in four seconds, not twenty.
    const int attempts = static_cast<int>(broker.Output().count("New connection from"));
    EXPECT_GE(attempts, 3);
    EXPECT_LE(attempts, 7);
    EXPECT_LT(worstGap, 200) << "the main thread waited for the broker";
    EXPECT_TRUE(Kiosk.Commands.empty());
}

// Commands on the kiosk's own topic are carried out and answered on the response topic with their
// correlation data; malformed or unknown ones are answered with an error and change nothing; another
// kiosk's command never reaches this one.
TEST_F(FleetWithBroker, CommandsAreAnsweredWithTheirCorrelationAndCheckedFirst)
{
    struct TCase
    {
        const char* Topic;
        const char* Payload;
        bool Answered;
        bool Ok;
        int Commands; // what the kiosk was given in all, after this one
    };
    const TCase cases[] = {
        {"vitrelle/v1/lyon/k1/cmd/play", R"({"display":2,"vitrelle":"menu","seconds":8})", true, true, 1},
        {"vitrelle/v1/lyon/k1/cmd/power", R"({"display":"all","state":"off"})", true, true, 2},
        {"vitrelle/v1/lyon/k1/cmd/play", R"({"display":3,"vitrelle":"menu"})", true, false, 2},
        {"vitrelle/v1/lyon/k1/cmd/power", R"({"display":1,"state":"dim"})", true, false, 2},
        {"vitrelle/v1/lyon/k1/cmd/play", R"({"display":1,)", true, false, 2},
        {"vitrelle/v1/lyon/k1/cmd/reboot", "{}", true, false, 2},
        {"vitrelle/v1/lyon/k2/cmd/stop", R"({"display":1})", false, false, 2},
        {"vitrelle/v1/lyon/k1/cmd/screenshot", R"({"display":1})", true, false, 2},
        {"vitrelle/v1/lyon/k1/cmd/update", R"({"vitrelle":"menu"})", true, true, 3},
        // What the kiosk raises is the command's answer.
        {"vitrelle/v1/lyon/k1/cmd/play", R"({"display":1,"vitrelle":"broken"})", true, false, 4},
    };
    TTempFolder brokerFolder;
    TMosquittoBroker broker(brokerFolder.Path(), {});
    TTestClient client(broker, QStringLiteral("operator"), false);
    Kiosk.Screens = Folder.Path();
    TPlayJournal journal(JournalPath(), {});
    auto node = StartNode(broker, {});
    ASSERT_TRUE(ServeEventsUntil([&] { return !client.On("lyon/k1/status").empty(); }));
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Topic) + " " + c.Payload);
        const QByteArray correlation = QByteArray::number(++n);
        client.Command(c.Topic, c.Payload, correlation);
        const auto answered = [&] {
            for (const auto& r : client.On("operator/answers"))
                if (r.Correlation == correlation)
                    return true;
            return false;
        };
        EXPECT_EQ(ServeEventsUntil(answered, c.Answered ? 5000 : 700), c.Answered);
        if (c.Answered) {
            const auto answers = client.On("operator/answers");
            const QJsonObject answer = QJsonDocument::fromJson(answers.back().Payload).object();
            EXPECT_EQ(answer.value("ok").toBool(), c.Ok) << answer.value("message").toString().toStdString();
        }
        EXPECT_EQ(static_cast<int>(Kiosk.Commands.size()), c.Commands);
    }
    ASSERT_EQ(Kiosk.Commands.size(), 4u);
    EXPECT_EQ(Kiosk.Commands[0].Kind, TFleetCommand::Play);
    EXPECT_EQ(Kiosk.Commands[0].Display, 2);
    EXPECT_EQ(Kiosk.Commands[0].SlideSeconds, 8);
    EXPECT_EQ(Kiosk.Commands[1].Display, 0);
    EXPECT_FALSE(Kiosk.Commands[1].On);

    // With a picture, the screenshot goes to the display's topic.
    Folder.Write("1.jpg", QByteArray("\xff\xd8\xff\xe0 picture", 12));
    client.Command("vitrelle/v1/lyon/k1/cmd/screenshot", R"({"display":1})", "shot");
    ASSERT_TRUE(ServeEventsUntil([&] { return !client.On("lyon/k1/display/1/screenshot").empty(); }));
    EXPECT_EQ(client.On("lyon/k1/display/1/screenshot").front().Payload,
              QByteArray("\xff\xd8\xff\xe0 picture", 12));
}

// A broker that never answers (an address nobody routes) holds up neither the main thread nor the end.
TEST_F(FleetWithBroker, ABrokerThatNeverAnswersHoldsUpNothing)
{
    TLogCapture log;
    TFleetSettings settings;
    settings.Host = QStringLiteral("10.255.255.1");
    settings.AllowInsecure = true;
    TFleetLinkOptions link = TFleetNode::LinkOptions(settings);
    TFleetNodeOptions options;
    options.Site = settings.EffectiveSite();
    options.KioskId = settings.EffectiveKioskId();
    auto node = std::make_unique<TFleetNode>(options, Kiosk, CreateMosquittoLink(link));
    ServeEventsUntil([] { return false; }, 500);
    QElapsedTimer ending;
    ending.start();
    node.reset();
    EXPECT_LT(ending.elapsed(), 2000);
}
