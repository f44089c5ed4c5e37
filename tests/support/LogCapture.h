#pragma once

#include "Log.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <vector>

struct TCapturedEvent
{
    QString ApplicationName;
    TEventType Type;
    QString Text; // header + line, as the event log receives it
    // The log line without the header and without its date and time: "<source padded> [<level>] : <msg>".
    QString Entry() const;
};

// Installs a recording sink and initialises the log for the lifetime of the object; the log is finalised
// and the system sink restored afterwards.
class TLogCapture
{
public:
    explicit TLogCapture(qint32 maxLevel = 3, bool initialize = true);
    ~TLogCapture();

    std::vector<TCapturedEvent> Events() const;
    // "[level] source: message" for every event, in order (compact form for assertions).
    QStringList Lines() const;
    bool Contains(const QString& fragment) const;
    void Clear();

private:
    class TSink;
    std::shared_ptr<TSink> FSink;
};
