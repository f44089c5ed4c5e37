#pragma once

#include "EventLogWriter.h"

#include <QString>

#include <functional>
#include <memory>

// The system's only log. Levels: 1 error, 2 warning, 3 information. The source is the class name of the
// logging object. WriteLog may be called from any thread; calls are serialised.
bool InitializeLog(qint32 maxLevel);
void WriteLog(const QString& source, quint8 level, const QString& message);
void FinalizeLog();

// Sees every line of level 1 or 2 that was written (the fleet's events topic): on the writing thread, under
// the log's lock, so it must be quick and must not log. Null: none.
using TLogListener = std::function<void(const QString& source, quint8 level, const QString& message)>;
void SetLogListener(TLogListener listener);

// The line that WriteLog hands to the event log for a given moment (exposed for tests).
QString FormatLogLine(const QDateTime& when, const QString& source, quint8 level, const QString& message);

// Replaces the system sink of the writers created by InitializeLog from now on (null: the system sink
// again). The format of the events does not change.
void SetLogSinkOverride(std::shared_ptr<IEventSink> sink);
// For the test harness, which checks after every test that the log was left as found.
bool LogInitialized();
bool LogSinkOverridden();
