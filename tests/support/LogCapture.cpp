#include "LogCapture.h"

#include <QRegularExpression>

class TLogCapture::TSink : public IEventSink
{
public:
    void ReportEvent(const QString& applicationName, TEventType type, quint16, quint32,
                     const QString& text) override
    {
        std::lock_guard lock(Mutex);
        Events.push_back({applicationName, type, text});
    }

    mutable std::mutex Mutex;
    std::vector<TCapturedEvent> Events;
};

QString TCapturedEvent::Entry() const
{
    const qsizetype dash = Text.indexOf(QLatin1String(" - "));
    return dash < 0 ? Text : Text.mid(dash + 3);
}

TLogCapture::TLogCapture(qint32 maxLevel, bool initialize) : FSink(std::make_shared<TSink>())
{
    SetLogSinkOverride(FSink);
    if (initialize)
        InitializeLog(maxLevel);
}

TLogCapture::~TLogCapture()
{
    FinalizeLog();
    SetLogSinkOverride(nullptr);
}

std::vector<TCapturedEvent> TLogCapture::Events() const
{
    std::lock_guard lock(FSink->Mutex);
    return FSink->Events;
}

QStringList TLogCapture::Lines() const
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\S+) \\[(\\d+)\\] : (.*)$"),
                                            QRegularExpression::DotMatchesEverythingOption);
    QStringList lines;
    for (const TCapturedEvent& event : Events()) {
        const QRegularExpressionMatch match = pattern.match(event.Entry());
        lines << (match.hasMatch() ? QStringLiteral("[%1] %2: %3")
                                         .arg(match.captured(2), match.captured(1), match.captured(3))
                                   : event.Text);
    }
    return lines;
}

bool TLogCapture::Contains(const QString& fragment) const
{
    for (const TCapturedEvent& event : Events())
        if (event.Text.contains(fragment))
            return true;
    return false;
}

void TLogCapture::Clear()
{
    std::lock_guard lock(FSink->Mutex);
    FSink->Events.clear();
}
