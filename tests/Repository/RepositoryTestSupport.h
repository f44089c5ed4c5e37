#pragma once

#include "HttpDownloader.h"
#include "LogCapture.h"
#include "PeakMemory.h"
#include "TestContentServer.h"
#include "TestFiles.h"
#include "TestPlatform.h"

#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

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
