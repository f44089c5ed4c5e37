#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>

// One MQTT message as the fleet sends and receives it. ResponseTopic and CorrelationData are the MQTT 5
// request/response properties (empty: none).
struct TFleetMessage
{
    QString Topic;
    QByteArray Payload;
    int Qos = 0;
    bool Retain = false;
    QString ResponseTopic;
    QByteArray CorrelationData;
};

// What the link tells its owner. Main thread.
class IFleetLinkEvents
{
public:
    // Connected to the broker (after the subscriptions were asked for).
    virtual void LinkUp() = 0;
    // The connection was lost or refused; every message not acknowledged yet is forgotten by the link (its
    // owner sends again what it still wants sent). The link tries again by itself.
    virtual void LinkDown(const QString& reason) = 0;
    // The broker has acknowledged the QoS 1 message with this ticket (what Publish returned).
    virtual void Acknowledged(qint64 ticket) = 0;
    virtual void Received(const TFleetMessage& message) = 0;

protected:
    ~IFleetLinkEvents() = default;
};

// How the link reaches the broker.
struct TFleetLinkOptions
{
    QString Host;
    int Port = 1883;
    QString ClientId;
    QString User;
    QString Password; // never logged
    QString CaFile;   // set: TLS
    QString CertFile;
    QString KeyFile;
    std::chrono::seconds KeepAlive{30};
    // The retained message the broker publishes when the link goes without a goodbye.
    QString WillTopic;
    QByteArray WillPayload;
    // Subscribed at QoS 1 at every connection.
    QStringList Subscriptions;
    // Between two attempts: MinBackoff, doubled at every failure up to MaxBackoff.
    std::chrono::milliseconds MinBackoff{1000};
    std::chrono::milliseconds MaxBackoff{60000};
};

// The connection to the fleet's broker, behind which the library lives. Off the main thread: connecting,
// the network and the back-off run on a thread of the link; nothing the caller does waits on the broker.
//
// Threads: made, started, published to and destroyed on the main thread; events on the main thread.
class IFleetLink
{
public:
    virtual ~IFleetLink() = default;
    // Starts connecting; events go to the receiver until the link is destroyed. Once.
    virtual void Start(IFleetLinkEvents& events) = 0;
    // Queues the message for the broker. A ticket (> 0) whose Acknowledged follows the broker's
    // acknowledgement for QoS 1; 0 for QoS 0; -1, nothing sent, while the link is down.
    virtual qint64 Publish(const TFleetMessage& message) = 0;
    virtual bool Connected() const = 0;
};
