#include "LogCapture.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <thread>

TEST(Log, LineFormat)
{
    const QDateTime when(QDate(2026, 12, 7), QTime(8, 5, 3));
    const QString date = QLocale::system().toString(when.date(), QLocale::ShortFormat);
    EXPECT_EQ(FormatLogLine(when, "TVitrellePlayer", 3, "Playing"),
              date + " 08:05:03 -  TVitrellePlayer [3] : Playing");
    EXPECT_EQ(FormatLogLine(when, "TThreadLink", 1, "x"), date + " 08:05:03 -      TThreadLink [1] : x");
    // Longer than the field: written in full, never cut.
    EXPECT_EQ(FormatLogLine(when, "TVitrelleCenterAgent", 2, "m"),
              date + " 08:05:03 - TVitrelleCenterAgent [2] : m");
    // Placeholders inside the parts are text, not format.
    EXPECT_EQ(FormatLogLine(when, "T%1", 3, "100% %1 %2"),
              date + " 08:05:03 -              T%1 [3] : 100% %1 %2");
}

TEST(Log, EventsCarryHeaderLineAndType)
{
    TLogCapture log;
    WriteLog("TVitrelleCenterAgent", 3, "Display device <0> properties:\r\nModel name: X\r\nManufacturer: Y");
    WriteLog("TVitrelleCenterSettings", 1, "Cannot find configuration file /x");
    WriteLog("THttpDownloader", 2, "warn");
    const auto events = log.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].Type, etInformation);
    EXPECT_EQ(events[1].Type, etError);
    EXPECT_EQ(events[2].Type, etWarning);
    // One event per line, multi-line messages included; the source is the executable's file name.
    static const QRegularExpression shape(QStringLiteral(
        "^\r\nUser: [^\r\n]{1,19}\r\n\\S.* \\d\\d:\\d\\d:\\d\\d - TVitrelleCenterAgent \\[3\\] : "
        "Display device <0> properties:\r\nModel name: X\r\nManufacturer: Y$"));
    EXPECT_TRUE(shape.match(events[0].Text).hasMatch()) << events[0].Text.toStdString();
    EXPECT_EQ(events[0].ApplicationName, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    EXPECT_EQ(log.Lines().at(1), "[1] TVitrelleCenterSettings: Cannot find configuration file /x");
}

TEST(Log, MaximumLevelFiltersAndOtherLevelsKeepTheLastType)
{
    TLogCapture log(2);
    WriteLog("A", 3, "information is filtered");
    WriteLog("A", 1, "error");
    WriteLog("A", 0, "level zero keeps error");
    WriteLog("A", 2, "warning");
    const auto events = log.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].Type, etError);
    EXPECT_EQ(events[2].Type, etWarning);
    EXPECT_FALSE(log.Contains("filtered"));
}

TEST(Log, NothingBeforeInitializeOrAfterFinalize)
{
    TLogCapture log(3, false);
    WriteLog("A", 1, "before");
    InitializeLog(3);
    WriteLog("A", 1, "during");
    FinalizeLog();
    WriteLog("A", 1, "after");
    EXPECT_EQ(log.Lines(), QStringList{"[1] A: during"});
}

TEST(Log, ConcurrentCallsNeverInterleave)
{
    TLogCapture log;
    constexpr int Threads = 4;
    constexpr int PerThread = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < PerThread; ++i)
                WriteLog(QStringLiteral("Worker%1").arg(t), static_cast<quint8>(1 + (i + t) % 3),
                         QStringLiteral("message %1 of %2").arg(QString::number(i), QString::number(t)));
        });
    for (std::thread& worker : workers)
        worker.join();
    const auto events = log.Events();
    ASSERT_EQ(events.size(), static_cast<size_t>(Threads * PerThread));
    static const QRegularExpression line(QStringLiteral("Worker(\\d) \\[(\\d)\\] : message \\d+ of (\\d)$"));
    for (const TCapturedEvent& event : events) {
        const QRegularExpressionMatch match = line.match(event.Text);
        ASSERT_TRUE(match.hasMatch()) << event.Text.toStdString();
        EXPECT_EQ(match.captured(1), match.captured(3));
        // The type that went with the event is the one of its own level.
        const TEventType expected[] = {etError, etWarning, etInformation};
        EXPECT_EQ(event.Type, expected[match.captured(2).toInt() - 1]);
    }
}

namespace {
class TLastEventSink : public IEventSink
{
public:
    void ReportEvent(const QString&, TEventType, quint16, quint32, const QString& text) override
    {
        Last = text;
    }
    QString Last;
};
} // namespace

TEST(EventLogWriter, PropertiesAndHeader)
{
    auto sink = std::make_shared<TLastEventSink>();
    TEventLogWriter writer(nullptr, sink);
    EXPECT_EQ(writer.ApplicationName, "!MyApp");
    EXPECT_TRUE(writer.RegisterApplication);
    EXPECT_TRUE(writer.IncludeUserName);
    EXPECT_EQ(writer.EventType, etInformation);
    writer.SetEventID(-42);
    EXPECT_EQ(writer.EventID(), 42);

    EXPECT_EQ(TEventLogWriter::UserNameForHeader("operator"), "operator");
    EXPECT_EQ(TEventLogWriter::UserNameForHeader("abcdefghijklmnopqrs"), "abcdefghijklmnopqrs"); // 19
    EXPECT_EQ(TEventLogWriter::UserNameForHeader("abcdefghijklmnopqrst"), "N/A");                // 20
    EXPECT_EQ(TEventLogWriter::UserNameForHeader(nullptr), "N/A");

    writer.IncludeUserName = false;
    writer.WriteEvent("text");
    EXPECT_EQ(writer.Header(), "\r\n");
    EXPECT_EQ(sink->Last, "\r\ntext");
    writer.IncludeUserName = true;
    writer.WriteEvent("text");
    EXPECT_EQ(writer.Header(), "\r\nUser: " + TEventLogWriter::CurrentUserName() + "\r\n");
}
