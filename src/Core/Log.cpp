#include "Log.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>

#include <cerrno>
#include <mutex>

namespace {

std::mutex LogMutex; // one writer; its event type and header are shared state of one event
std::unique_ptr<TEventLogWriter> Writer;
qint32 MaxLevel = 0;
TLogListener Listener; // guarded by LogMutex
std::shared_ptr<IEventSink> SinkOverride;

QString ExecutableFileName()
{
    if (QCoreApplication::instance() != nullptr)
        return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return QString::fromLocal8Bit(program_invocation_short_name);
}

} // namespace

bool InitializeLog(qint32 maxLevel)
{
    std::lock_guard lock(LogMutex);
    Writer = std::make_unique<TEventLogWriter>(nullptr, SinkOverride);
    MaxLevel = maxLevel;
    Writer->ApplicationName = ExecutableFileName();
    Writer->RegisterApplication = true;
    return Writer != nullptr;
}

void FinalizeLog()
{
    std::lock_guard lock(LogMutex);
    Writer.reset();
}

void SetLogSinkOverride(std::shared_ptr<IEventSink> sink)
{
    std::lock_guard lock(LogMutex);
    SinkOverride = std::move(sink);
}

bool LogInitialized()
{
    std::lock_guard lock(LogMutex);
    return Writer != nullptr;
}

bool LogSinkOverridden()
{
    std::lock_guard lock(LogMutex);
    return SinkOverride != nullptr;
}

QString FormatLogLine(const QDateTime& when, const QString& source, quint8 level, const QString& message)
{
    const QString stamp = QLocale::system().toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                          when.time().toString(QStringLiteral("HH:mm:ss"));
    // One pass, so that a "%1" inside the source or the message is left as it is.
    return QStringLiteral("%1 - %2 [%3] : %4")
        .arg(stamp, source.rightJustified(16, QLatin1Char(' ')), QString::number(level), message);
}

void WriteLog(const QString& source, quint8 level, const QString& message)
{
    std::lock_guard lock(LogMutex);
    if (!Writer || static_cast<qint32>(level) > MaxLevel)
        return;
    switch (level) {
    case 1:
        Writer->EventType = etError;
        break;
    case 2:
        Writer->EventType = etWarning;
        break;
    case 3:
        Writer->EventType = etInformation;
        break;
    default:
        break; // keeps the type of the previous call
    }
    Writer->WriteEvent(FormatLogLine(QDateTime::currentDateTime(), source, level, message));
    if (Listener && level >= 1 && level <= 2)
        Listener(source, level, message);
}

void SetLogListener(TLogListener listener)
{
    std::lock_guard lock(LogMutex);
    Listener = std::move(listener);
}
