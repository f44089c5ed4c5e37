#include "EventLogWriter.h"

#include <QFileInfo>

#include <cstdio>
#include <mutex>
#include <pwd.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace {

class TSyslogSink : public IEventSink
{
public:
    ~TSyslogSink() override
    {
        if (!FIdent.isEmpty())
            closelog();
    }

    void ReportEvent(const QString& applicationName, TEventType type, quint16, quint32,
                     const QString& text) override
    {
        const QByteArray ident = applicationName.toUtf8();
        if (ident != FIdent) {
            // openlog keeps the pointer: the bytes must live as long as the connection.
            FIdent = ident;
            openlog(FIdent.constData(), LOG_PID, LOG_USER);
        }
        syslog(Priority(type), "%s", JournalText(text).toUtf8().constData());
    }

private:
    // The event's line breaks are CR LF, and its header starts with one. The journal keeps a message that
    // holds a CR as bytes, not text (its JSON export gives a list of numbers), and shows a leading break as
    // an empty first line: the entry gets LF breaks and starts with its "User: " line.
    static QString JournalText(QString text)
    {
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        qsizetype start = 0;
        while (start < text.size() && text.at(start) == QLatin1Char('\n'))
            ++start;
        return text.mid(start);
    }

    static int Priority(TEventType type)
    {
        switch (type) {
        case etError:
            return LOG_ERR;
        case etWarning:
        case etAuditFailure:
            return LOG_WARNING;
        case etAuditSuccess:
            return LOG_NOTICE;
        case etInformation:
            break;
        }
        return LOG_INFO;
    }

    QByteArray FIdent;
};

class TStderrSink : public IEventSink
{
public:
    void ReportEvent(const QString&, TEventType, quint16, quint32, const QString& text) override
    {
        const QByteArray bytes = text.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
        std::fflush(stderr);
    }
};

} // namespace

std::unique_ptr<IEventSink> CreateSystemEventSink()
{
    if (QFileInfo::exists(QStringLiteral("/dev/log")))
        return std::make_unique<TSyslogSink>();
    return std::make_unique<TStderrSink>();
}

TEventLogWriter::TEventLogWriter(QObject* owner, std::shared_ptr<IEventSink> sink)
    : QObject(owner), FSink(sink ? std::move(sink) : std::shared_ptr<IEventSink>(CreateSystemEventSink()))
{
}

TEventLogWriter::~TEventLogWriter() = default;

void TEventLogWriter::SetEventID(qint32 value)
{
    FEventID = value < 0 ? static_cast<qint32>(-static_cast<qint64>(value)) : value;
}

QString TEventLogWriter::UserNameForHeader(const char* name)
{
    if (name == nullptr || name[0] == '\0' || std::char_traits<char>::length(name) + 1 > 20)
        return QStringLiteral("N/A");
    return QString::fromLocal8Bit(name);
}

QString TEventLogWriter::CurrentUserName()
{
    passwd entry{};
    passwd* found = nullptr;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 16384));
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return UserNameForHeader(nullptr);
    return UserNameForHeader(found->pw_name);
}

void TEventLogWriter::WriteEvent(const QString& text)
{
    FHeader = QStringLiteral("\r\n");
    if (IncludeUserName)
        FHeader = QLatin1String("\r\nUser: ") + CurrentUserName() + QLatin1String("\r\n");
    FSink->ReportEvent(ApplicationName, EventType, static_cast<quint16>(EventCategory),
                       static_cast<quint32>(FEventID), FHeader + text);
}
