#pragma once

#include "SerialLine.h"

#include <QList>
#include <QThread>

// Serial lines that follow a script instead of a wire: a reply, a port that cannot be opened, a line that
// fails after delivering some bytes. Records what was opened and written, and whether a line is still open.
// One exchange at a time, on the main thread or on a display's worker; the test reads the script once the
// exchange is over (the display's queue hands the outcome over).
class TFakeSerialPorts : public ISerialPortFactory
{
public:
    struct TScript
    {
        QString OpenError;          // not empty: Open raises ESerialError with this text
        QByteArray Reply;           // handed out by the reads, then silence
        qint64 FailAfterBytes = -1; // >= 0: the line fails once this many reply bytes went out
        // What happened.
        int Opens = 0;
        int OpenLines = 0;
        QList<TSerialPortConfig> Configs;
        QList<QByteArray> Written;
    };

    std::unique_ptr<ISerialLine> Open(const TSerialPortConfig& config) const override
    {
        FScript->Configs << config;
        if (!FScript->OpenError.isEmpty())
            throw ESerialError(FScript->OpenError);
        ++FScript->Opens;
        return std::make_unique<TLine>(FScript);
    }

    TScript& Script() const { return *FScript; }

private:
    class TLine : public ISerialLine
    {
    public:
        explicit TLine(std::shared_ptr<TScript> script) : FScript(std::move(script)) { ++FScript->OpenLines; }
        ~TLine() override { --FScript->OpenLines; }

        qint64 Write(const QByteArray& bytes, int) override
        {
            FScript->Written << bytes;
            return bytes.size();
        }

        QByteArray Read(qint64 maxBytes, int timeoutMs) override
        {
            if (FScript->FailAfterBytes >= 0 && FDelivered >= FScript->FailAfterBytes)
                throw ESerialError(QStringLiteral("The line went away"));
            qint64 count = qMin(maxBytes, FScript->Reply.size() - FDelivered);
            if (FScript->FailAfterBytes >= 0)
                count = qMin(count, FScript->FailAfterBytes - FDelivered);
            if (count <= 0) {
                // A silent line: the wait runs out. Tests keep their time-outs at a few milliseconds.
                QThread::msleep(static_cast<unsigned long>(timeoutMs));
                return {};
            }
            const QByteArray bytes = FScript->Reply.mid(FDelivered, count);
            FDelivered += count;
            return bytes;
        }

    private:
        std::shared_ptr<TScript> FScript;
        qint64 FDelivered = 0;
    };

    std::shared_ptr<TScript> FScript = std::make_shared<TScript>();
};
