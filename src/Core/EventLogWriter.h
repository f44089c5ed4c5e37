#pragma once

#include <QObject>
#include <QString>

#include <memory>

enum TEventType : quint8
{
    etError,
    etWarning,
    etInformation,
    etAuditSuccess,
    etAuditFailure
};

// Where events end up. The system sink is syslog, or standard error where the machine has no syslog socket;
// tests put their own sink in place. A sink never raises: a failing event log leaves no trace.
class IEventSink
{
public:
    virtual ~IEventSink() = default;
    virtual void ReportEvent(const QString& applicationName, TEventType type, quint16 category,
                             quint32 eventId, const QString& text) = 0;
};

// syslog(3) with openlog(<application name>, LOG_PID, LOG_USER) when /dev/log exists, standard error
// otherwise.
std::unique_ptr<IEventSink> CreateSystemEventSink();

// Reports one event per call to the system's event log under ApplicationName.
class TEventLogWriter : public QObject
{
    Q_OBJECT
public:
    explicit TEventLogWriter(QObject* owner = nullptr, std::shared_ptr<IEventSink> sink = nullptr);
    ~TEventLogWriter() override;

    QString ApplicationName = QStringLiteral("!MyApp");
    // Kept for interoperability of the component's settings; syslog needs no registered source.
    bool RegisterApplication = true;
    bool IncludeUserName = true;
    TEventType EventType = etInformation;

    qint32 EventID() const { return FEventID; }
    void SetEventID(qint32 value);
    qint16 EventCategory = 0;

    // The text of the last event's header ("\r\n" or "\r\nUser: <name>\r\n").
    const QString& Header() const { return FHeader; }

    void WriteEvent(const QString& text);

    // "N/A" unless the name fits 19 characters (20 with the terminator).
    static QString UserNameForHeader(const char* name);
    static QString CurrentUserName();

private:
    qint32 FEventID = 0;
    QString FHeader;
    std::shared_ptr<IEventSink> FSink;
};
