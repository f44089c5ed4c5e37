#include "AgentScheduleSource.h"
#include "DisplaySimulator.h"
#include "EventWait.h"
#include "LogCapture.h"
#include "QtSerialLine.h"
#include "ScheduleAction.h"
#include "SimulatedDisplaySystem.h"
#include "ThreadLink.h"
#include "VitrelleDevice.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

namespace {

const QByteArray PowerOnRequest = "PON\r";

// Work on a worker of its own, as the scheduler runs an action there.
class TLane : public IThread
{
public:
    explicit TLane(std::function<void()> work) : FWork(std::move(work)), FLink(*this) { FLink.Start(); }
    bool Ended() const { return FLink.Ended(); }
    std::exception_ptr Error() const { return FError; }

private:
    void ThreadExecute() override
    {
        try {
            FWork();
        } catch (...) {
            FError = std::current_exception(); // the test looks at it
        }
    }
    void ThreadTerminated() override {}

    std::function<void()> FWork;
    std::exception_ptr FError;
    TThreadLink FLink;
};

// Serves the main thread's events with a 10 ms timer running until the condition holds; the timer's largest
// lateness in milliseconds.
qint64 ServeWithTimer(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last - 10);
        last = now;
    });
    tick.start();
    EXPECT_TRUE(ServeEventsUntil(condition, timeoutMs));
    return std::max(worst, clock.elapsed() - last - 10);
}

QString ErrorText(std::exception_ptr error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const EVitrelleError& raised) {
        return raised.Message();
    }
    return {};
}

class DeviceWorkerTest : public ::testing::Test
{
protected:
    std::unique_ptr<TVitrelleDevice> Make(const QString& name, const QString& port, qint32 constant,
                                          qint32 perChar)
    {
        auto device = std::make_unique<TVitrelleDevice>(TDeviceServices{System, Ports, {}});
        TVitrelleDeviceSettings file;
        file.Name = name;
        file.ControlSettings().ComSettings.Port = port;
        file.ControlSettings().ComSettings.TimeOutConstant = constant;
        file.ControlSettings().ComSettings.TimeOutPerChar = perChar;
        if (!port.isEmpty()) {
            file.ControlSettings().PowerOn = "PON#13";
            file.ControlSettings().PowerOnOK = "OK";
        }
        device->ApplySettings(&file);
        return device;
    }

    std::shared_ptr<TSimulatedDisplaySystem> System = std::make_shared<TSimulatedDisplaySystem>();
    std::shared_ptr<TQtSerialPortFactory> Ports = std::make_shared<TQtSerialPortFactory>();
    TLogCapture Log;
};

struct TSlowCase
{
    const char* Name;
    TSimulatedAnswer Answer;
    qint32 Constant;
    qint32 PerChar;
    bool Scheduled; // the scheduled action on a worker; else the operator's command
    bool Succeeded;
    const char* Error; // part of the error raised; empty: none
};

class SlowDisplayTest : public DeviceWorkerTest, public ::testing::WithParamInterface<TSlowCase>
{
};

// A display that takes its time: the main thread keeps serving its events meanwhile, the command shows as
// in progress, and its outcome is the one a command on the main thread had.
TEST_P(SlowDisplayTest, TheMainThreadGoesOnAndTheOutcomeArrives)
{
    const TSlowCase& c = GetParam();
    TDisplaySimulator display({c.Answer});
    const int openBefore = OpenDescriptorsOn(display.PortPath());
    const auto device = Make("Hall", display.PortPath(), c.Constant, c.PerChar);
    struct TRecorder : IPlayRecorder
    {
        void Record(TJournalRecord record) override
        {
            std::lock_guard lock(Mutex);
            if (const auto* power = std::get_if<TPowerRecord>(&record))
                Powers.push_back(*power);
        }
        std::mutex Mutex;
        std::vector<TPowerRecord> Powers;
    };
    auto recorder = std::make_shared<TRecorder>();
    SetPlayRecorder(recorder);
    int told = 0;
    device->OnPowerStatusChange = [&](TVitrelleDevice&) { ++told; };

    bool ended = false;
    bool succeeded = false;
    std::exception_ptr error;
    std::unique_ptr<TLane> lane;
    std::unique_ptr<TScheduleAction> action = device->CreateDefaultAction(TVitrelleDevice::PowerOnAction);
    QElapsedTimer elapsed;
    elapsed.start();
    if (c.Scheduled) {
        lane = std::make_unique<TLane>([&] { succeeded = device->ExecuteAction(action.get()); });
    } else {
        device->PowerAsync(true, [&](bool success, std::exception_ptr raised) {
            ended = true;
            succeeded = success;
            error = raised;
        });
    }
    bool seenInProgress = false;
    const qint64 lateness = ServeWithTimer([&] {
        seenInProgress = seenInProgress || (device->Busy() && device->PowerCommandInProgress().has_value());
        return lane ? lane->Ended() : ended;
    });
    if (lane)
        error = lane->Error();

    EXPECT_GE(elapsed.elapsed(), 500) << "the display is slow";
    EXPECT_LT(lateness, 200) << "the main thread waited for the display";
    EXPECT_TRUE(seenInProgress);
    EXPECT_EQ(succeeded, c.Succeeded);
    EXPECT_TRUE(QString::fromLatin1(c.Error).isEmpty() ? !error : ErrorText(error).contains(c.Error))
        << ErrorText(error).toStdString();
    EXPECT_FALSE(device->PowerCommandInProgress());
    ASSERT_TRUE(device->LastPowerCommand());
    EXPECT_EQ(device->LastPowerCommand()->Succeeded, c.Succeeded);
    EXPECT_EQ(told, error ? 0 : 1);
    EXPECT_EQ(Log.Lines().filter("TVitrelleDevice").size(), error ? 0 : 1);
    EXPECT_EQ(OpenDescriptorsOn(display.PortPath()), openBefore);
    // The play journal has the command once, with who asked for it and how it ended.
    SetPlayRecorder(nullptr);
    ASSERT_EQ(recorder->Powers.size(), 1U);
    const TPowerRecord& journalled = recorder->Powers.front();
    EXPECT_EQ(journalled.Display.Name, "Hall");
    EXPECT_TRUE(journalled.On);
    EXPECT_EQ(journalled.Origin, c.Scheduled ? "schedule" : "operator");
    EXPECT_EQ(journalled.Succeeded, c.Succeeded);
    EXPECT_TRUE(journalled.Reply.contains(QLatin1String(c.Error))) << journalled.Reply.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Devices, SlowDisplayTest,
    ::testing::Values(
        TSlowCase{"NeverAnswers", {PowerOnRequest, ""}, 800, 20, false, false, ""},
        TSlowCase{"Drips", {PowerOnRequest, "OK", 600, -1, 300}, 700, 400, false, true, ""},
        TSlowCase{"Vanishes", {PowerOnRequest, "OK", 600, 1}, 2000, 20, false, false, "no longer"},
        TSlowCase{"NeverAnswersToTheSchedule", {PowerOnRequest, ""}, 800, 20, true, false, ""},
        TSlowCase{"AnswersTheSchedule", {PowerOnRequest, "OK", 600}, 1000, 20, true, true, ""},
        TSlowCase{
            "VanishesUnderTheSchedule", {PowerOnRequest, "OK", 600, 1}, 2000, 20, true, false, "no longer"}),
    [](const auto& info) { return std::string(info.param.Name); });

// The program ends while a display is silent for a long time-out: the exchange is abandoned at once, its
// port closed, and nothing reports it to a page that is gone.
TEST_F(DeviceWorkerTest, DestroyingTheDeviceEndsItsExchangeAtOnce)
{
    TDisplaySimulator display({});
    const int openBefore = OpenDescriptorsOn(display.PortPath());
    auto device = Make("Hall", display.PortPath(), 30000, 1000);
    bool reported = false;
    device->PowerAsync(true, [&](bool, std::exception_ptr) { reported = true; });
    ASSERT_EQ(display.Received(PowerOnRequest.size(), 5000), PowerOnRequest);
    QElapsedTimer elapsed;
    elapsed.start();
    device.reset();
    EXPECT_LT(elapsed.elapsed(), 1000);
    ServeEventsUntil([] { return false; }, 50);
    EXPECT_FALSE(reported);
    EXPECT_EQ(OpenDescriptorsOn(display.PortPath()), openBefore);
}

// "Power all" with several slow displays takes about as long as one of them, not the sum, and ends as it
// did: the monitor power switched after the pause, every display with the code switched over its line.
TEST_F(DeviceWorkerTest, PowerAllTalksToTheDisplaysAtTheSameTime)
{
    constexpr int Displays = 4;
    // A reply is read until the line has been quiet for the time-out: one exchange lasts about that long.
    constexpr int ExchangeMs = 800;
    std::vector<std::unique_ptr<TDisplaySimulator>> simulators;
    std::vector<std::unique_ptr<TVitrelleDevice>> devices;
    for (int i = 0; i < Displays; ++i) {
        simulators.push_back(std::make_unique<TDisplaySimulator>(
            std::vector<TSimulatedAnswer>{{PowerOnRequest, "OK", ExchangeMs / 2}}));
        devices.push_back(
            Make(QStringLiteral("Display %1").arg(i + 1), simulators.back()->PortPath(), ExchangeMs, 20));
    }
    devices.push_back(Make("No serial control", {}, 250, 20));
    TAgentScheduleSource source(*System, std::chrono::milliseconds(300), &devices);
    const std::unique_ptr<TScheduleAction> action =
        source.CreateDefaultAction(TAgentScheduleSource::PowerOnAllAction);

    QElapsedTimer elapsed;
    elapsed.start();
    bool succeeded = false;
    TLane lane([&] { succeeded = source.ExecuteAction(action.get()); });
    const qint64 lateness = ServeWithTimer([&] { return lane.Ended(); });
    const qint64 ms = elapsed.elapsed();

    EXPECT_FALSE(lane.Error()) << ErrorText(lane.Error()).toStdString();
    EXPECT_TRUE(succeeded);
    EXPECT_GE(ms, ExchangeMs);
    EXPECT_LT(ms, 2 * ExchangeMs) << "the displays were asked one after the other";
    EXPECT_LT(lateness, 200);
    EXPECT_EQ(System->PowerRequests, QList<bool>{true});
    for (int i = 0; i < Displays; ++i) {
        ASSERT_TRUE(devices[i]->LastPowerCommand());
        EXPECT_TRUE(devices[i]->LastPowerCommand()->Succeeded);
    }
    EXPECT_FALSE(devices.back()->LastPowerCommand()) << "a display without the code is not asked";
    const QStringList lines = Log.Lines().filter("TVitrelleDevice");
    ASSERT_EQ(lines.size(), Displays + 1) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.last(), "[3] TVitrelleDevice: Power on of all devices succeeded");
}

} // namespace
