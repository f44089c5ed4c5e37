#pragma once

#include "HttpDownloader.h"
#include "LogCapture.h"
#include "PeakMemory.h"
#include "TestContentServer.h"
#include "TestFiles.h"
#include "TestPlatform.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

// The lines of the log at level 1 (errors), in order.
inline QStringList ErrorLines(const TLogCapture& log)
{
    return log.Lines().filter(QStringLiteral("[1] "));
}

// Every log line, for a failure message.
inline std::string LogText(const TLogCapture& log)
{
    return log.Lines().join('\n').toStdString();
}

// A 10 ms timer on the main thread, as a show's slide steps and the window need it served: the longest time
// between two of its ticks tells how long the main thread was held.
class TMainThreadPulse
{
public:
    TMainThreadPulse()
    {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout,
                         [this] { FLongest = std::max(FLongest, FSince.restart()); });
        FSince.start();
        FTimer.start();
    }
    // Milliseconds, up to now.
    qint64 LongestGap() const { return std::max(FLongest, FSince.elapsed()); }

private:
    QTimer FTimer;
    QElapsedTimer FSince;
    qint64 FLongest = 0;
};
