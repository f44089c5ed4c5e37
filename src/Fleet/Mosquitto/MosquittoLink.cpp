#include "MosquittoLink.h"

#include "Log.h"
#include "ThreadLink.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace {

constexpr QLatin1StringView LogSource{"TMosquittoLink"};
// How long one turn of the network loop waits for the socket: what a queued message may wait to be sent.
constexpr int LoopTimeoutMs = 20;
// At the end, how long what is queued (the goodbye status) may take to leave.
constexpr std::chrono::milliseconds FinalFlush{1500};

void InitializeLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString LibraryError(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

class TMosquittoLink : public IFleetLink, private IThread
{
public:
    explicit TMosquittoLink(TFleetLinkOptions options) : FOptions(std::move(options)) { InitializeLibrary(); }
    ~TMosquittoLink() override
    {
        FEvents = nullptr; // nothing more reaches the owner, which is going
        FStop.store(true);
        FLink.reset(); // waits for the worker, serving its hand-overs
    }

    void Start(IFleetLinkEvents& events) override
    {
        FEvents = &events;
        TThreadLink::StartLink(FLink, *this);
    }

    qint64 Publish(const TFleetMessage& message) override
    {
        std::lock_guard lock(FMutex);
        if (!FConnected)
            return -1;
        const qint64 ticket = message.Qos > 0 ? ++FLastTicket : 0;
        FOutbox.push_back({message, ticket});
        return ticket;
    }

    bool Connected() const override
    {
        std::lock_guard lock(FMutex);
        return FConnected;
    }

private:
    struct TQueued
    {
        TFleetMessage Message;
        qint64 Ticket = 0;
    };

    // Runs the call on the main thread (waiting for it) unless the owner has gone.
    void Deliver(const std::function<void(IFleetLinkEvents&)>& call)
    {
        try {
            RunOnMainThread([this, &call] {
                if (FEvents != nullptr)
                    call(*FEvents);
            });
        } catch (const std::exception& error) {
            // Raised when the link is being destroyed (nobody listens any more); anything else is the
            // receiver's fault, logged.
            if (!Stopping())
                WriteLog(LogSource, 1, QString::fromUtf8(error.what()));
        }
    }

    void ThreadExecute() override
    {
        auto backoff = FOptions.MinBackoff;
        while (!Stopping()) {
            const bool wasUp = Session();
            if (Stopping())
                break;
            if (wasUp)
                backoff = FOptions.MinBackoff;
            // Waits, asking to stop every tenth of a second.
            const auto until = std::chrono::steady_clock::now() + backoff;
            while (!Stopping() && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (!wasUp)
                backoff = std::min(backoff * 2, FOptions.MaxBackoff);
        }
    }
    void ThreadTerminated() override {}

    bool Stopping() const { return FStop.load() || WorkerStopRequested(); }

    // One connection from the attempt to its end; true when it was up.
    bool Session()
    {
        mosquitto* mosq = mosquitto_new(FOptions.ClientId.toUtf8().constData(), true, this);
        if (mosq == nullptr) {
            Failed(QStringLiteral("cannot make a client"));
            return false;
        }
        FMosq = mosq;
        FUp = false;
        FLost = false;
        FRefusal.clear();
        FRefusalLogged = false;
        FTickets.clear();
        mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_connect_v5_callback_set(mosq,
                                          [](mosquitto*, void* self, int rc, int, const mosquitto_property*) {
                                              static_cast<TMosquittoLink*>(self)->OnConnect(rc);
                                          });
        mosquitto_disconnect_v5_callback_set(mosq,
                                             [](mosquitto*, void* self, int rc, const mosquitto_property*) {
                                                 static_cast<TMosquittoLink*>(self)->OnDisconnect(rc);
                                             });
        mosquitto_publish_v5_callback_set(
            mosq, [](mosquitto*, void* self, int mid, int rc, const mosquitto_property*) {
                static_cast<TMosquittoLink*>(self)->OnPublished(mid, rc);
            });
        mosquitto_message_v5_callback_set(mosq, [](mosquitto*, void* self, const mosquitto_message* message,
                                                   const mosquitto_property* props) {
            static_cast<TMosquittoLink*>(self)->OnMessage(message, props);
        });
        int rc = MOSQ_ERR_SUCCESS;
        if (!FOptions.User.isEmpty())
            rc = mosquitto_username_pw_set(
                mosq, FOptions.User.toUtf8().constData(),
                FOptions.Password.isEmpty() ? nullptr : FOptions.Password.toUtf8().constData());
        if (rc == MOSQ_ERR_SUCCESS && !FOptions.CaFile.isEmpty()) {
            const QByteArray ca = FOptions.CaFile.toLocal8Bit();
            const QByteArray cert = FOptions.CertFile.toLocal8Bit();
            const QByteArray key = FOptions.KeyFile.toLocal8Bit();
            rc = mosquitto_tls_set(mosq, ca.constData(), nullptr, cert.isEmpty() ? nullptr : cert.constData(),
                                   key.isEmpty() ? nullptr : key.constData(), nullptr);
        }
        if (rc == MOSQ_ERR_SUCCESS && !FOptions.WillTopic.isEmpty())
            rc = mosquitto_will_set_v5(mosq, FOptions.WillTopic.toUtf8().constData(),
                                       static_cast<int>(FOptions.WillPayload.size()),
                                       FOptions.WillPayload.constData(), 1, true, nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            // Without waiting for the connection (only the name's look-up waits): a host that never answers
            // must not hold up the end of the program; the loop below sees the connection made or failed.
            rc = mosquitto_connect_async(mosq, FOptions.Host.toUtf8().constData(), FOptions.Port,
                                         static_cast<int>(FOptions.KeepAlive.count()));
        if (rc != MOSQ_ERR_SUCCESS) {
            Failed(LibraryError(rc));
            Drop();
            return false;
        }
        QString reason;
        while (!Stopping()) {
            rc = mosquitto_loop(mosq, LoopTimeoutMs, 1);
            if (rc == MOSQ_ERR_SUCCESS && !FLost)
                rc = SendQueued();
            if (rc != MOSQ_ERR_SUCCESS || FLost) {
                reason = !FRefusal.isEmpty() ? FRefusal : FLost ? FLostReason : LibraryError(rc);
                break;
            }
        }
        const bool wasUp = FUp;
        if (Stopping() && wasUp && !FLost) {
            // What was queued last (the goodbye) leaves before the orderly disconnect, which keeps the will
            // unsent.
            const auto until = std::chrono::steady_clock::now() + FinalFlush;
            while (std::chrono::steady_clock::now() < until && !FLost) {
                if (SendQueued() != MOSQ_ERR_SUCCESS ||
                    mosquitto_loop(mosq, LoopTimeoutMs, 1) != MOSQ_ERR_SUCCESS)
                    break;
                if (FTickets.empty() && mosquitto_want_write(mosq) == false)
                    break;
            }
            mosquitto_disconnect_v5(mosq, 0, nullptr);
            mosquitto_loop(mosq, LoopTimeoutMs, 1);
        }
        Drop();
        if (Stopping())
            return wasUp;
        if (wasUp) {
            WriteLog(LogSource, 2,
                     QStringLiteral("Lost the fleet's broker %1:%2 (%3); connecting again")
                         .arg(FOptions.Host, QString::number(FOptions.Port), reason));
            FReported.clear();
            Deliver([reason](IFleetLinkEvents& events) { events.LinkDown(reason); });
        } else {
            Failed(reason);
        }
        return wasUp;
    }

    void Drop()
    {
        {
            std::lock_guard lock(FMutex);
            FConnected = false;
            FOutbox.clear(); // the owner sends again what it still wants sent
        }
        mosquitto_destroy(FMosq);
        FMosq = nullptr;
    }

    // Logged once for as long as the link stays down (the same trouble at every retry is no news).
    void Failed(const QString& reason)
    {
        if (FReported.isEmpty())
            WriteLog(LogSource, 1,
                     QStringLiteral("Cannot connect to the fleet's broker %1:%2 as %3: %4; trying again with "
                                    "growing pauses")
                         .arg(FOptions.Host, QString::number(FOptions.Port), FOptions.ClientId, reason));
        FReported = reason;
    }

    int SendQueued()
    {
        std::deque<TQueued> queued;
        {
            std::lock_guard lock(FMutex);
            queued.swap(FOutbox);
        }
        for (const TQueued& item : queued) {
            const TFleetMessage& message = item.Message;
            mosquitto_property* props = nullptr;
            if (!message.ResponseTopic.isEmpty())
                mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC,
                                              message.ResponseTopic.toUtf8().constData());
            if (!message.CorrelationData.isEmpty())
                mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA,
                                              message.CorrelationData.constData(),
                                              static_cast<uint16_t>(message.CorrelationData.size()));
            int mid = 0;
            const int rc = mosquitto_publish_v5(
                FMosq, &mid, message.Topic.toUtf8().constData(), static_cast<int>(message.Payload.size()),
                message.Payload.constData(), message.Qos, message.Retain, props);
            mosquitto_property_free_all(&props);
            if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO)
                return rc;
            if (rc != MOSQ_ERR_SUCCESS) {
                // A message the library refuses (too large, a bad topic) is the sender's fault, not the
                // link's.
                WriteLog(LogSource, 2,
                         QStringLiteral("The fleet's broker was not sent a message on %1: %2")
                             .arg(message.Topic, LibraryError(rc)));
                continue;
            }
            if (item.Ticket > 0)
                FTickets[mid] = item.Ticket;
        }
        return MOSQ_ERR_SUCCESS;
    }

    void OnConnect(int rc)
    {
        if (rc != 0) {
            FRefusal = QStringLiteral("refused: %1").arg(QString::fromUtf8(mosquitto_reason_string(rc)));
            FLost = true;
            return;
        }
        for (const QString& topic : FOptions.Subscriptions)
            mosquitto_subscribe_v5(FMosq, nullptr, topic.toUtf8().constData(), 1, 0, nullptr);
        FUp = true;
        {
            std::lock_guard lock(FMutex);
            FConnected = true;
        }
        if (!FReported.isEmpty())
            WriteLog(LogSource, 3,
                     QStringLiteral("Connected to the fleet's broker %1:%2")
                         .arg(FOptions.Host, QString::number(FOptions.Port)));
        FReported.clear();
        Deliver([](IFleetLinkEvents& events) { events.LinkUp(); });
    }

    void OnDisconnect(int rc)
    {
        FLost = true;
        FLostReason =
            rc == 0 ? QStringLiteral("disconnected") : QString::fromUtf8(mosquitto_reason_string(rc));
        if (rc != 0 && FLostReason.isEmpty())
            FLostReason = LibraryError(rc);
    }

    void OnPublished(int mid, int rc)
    {
        const auto found = FTickets.find(mid);
        if (found == FTickets.end())
            return;
        const qint64 ticket = found->second;
        FTickets.erase(found);
        if (rc >= 128) {
            // Refused by the broker (its ACL): not delivered, so not acknowledged; tried again on the next
            // connection. Logged once per connection: every status change would be refused alike.
            if (FRefusalLogged)
                return;
            FRefusalLogged = true;
            WriteLog(LogSource, 2,
                     QStringLiteral("The fleet's broker refused a message: %1")
                         .arg(QString::fromUtf8(mosquitto_reason_string(rc))));
            return;
        }
        Deliver([ticket](IFleetLinkEvents& events) { events.Acknowledged(ticket); });
    }

    void OnMessage(const mosquitto_message* message, const mosquitto_property* props)
    {
        TFleetMessage received;
        received.Topic = QString::fromUtf8(message->topic);
        received.Payload = QByteArray(static_cast<const char*>(message->payload), message->payloadlen);
        received.Qos = message->qos;
        received.Retain = message->retain;
        char* responseTopic = nullptr;
        if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false) !=
            nullptr) {
            received.ResponseTopic = QString::fromUtf8(responseTopic);
            std::free(responseTopic);
        }
        void* correlation = nullptr;
        uint16_t length = 0;
        if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false) !=
            nullptr) {
            received.CorrelationData = QByteArray(static_cast<const char*>(correlation), length);
            std::free(correlation);
        }
        Deliver([&received](IFleetLinkEvents& events) { events.Received(received); });
    }

    const TFleetLinkOptions FOptions;
    IFleetLinkEvents* FEvents = nullptr; // main thread
    std::atomic<bool> FStop{false};

    mutable std::mutex FMutex; // guards the three below
    bool FConnected = false;
    std::deque<TQueued> FOutbox;
    qint64 FLastTicket = 0;

    // Worker only.
    mosquitto* FMosq = nullptr;
    bool FUp = false;
    bool FLost = false;
    QString FLostReason;
    QString FRefusal;
    bool FRefusalLogged = false;
    QString FReported;                        // the trouble logged while the link stays down
    std::unordered_map<int, qint64> FTickets; // message id -> ticket, QoS 1 messages not acknowledged yet

    std::unique_ptr<TThreadLink> FLink; // last: its worker uses the rest
};

} // namespace

std::unique_ptr<IFleetLink> CreateMosquittoLink(TFleetLinkOptions options)
{
    return std::make_unique<TMosquittoLink>(std::move(options));
}
