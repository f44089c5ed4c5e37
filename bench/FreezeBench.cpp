// Whether the show waits for slow work: the operator's window, the real agent and two displays playing
// 1-second slides with the real web views on a private Xvfb, while one slow thing happens at a time:
//   (a) a scheduled update of the playing vitrelle, the content server answering its file after 30 s;
//   (b) "Download vitrelle list" clicked on the Settings page, the server answering the list after 30 s;
//   (c) a scheduled power on of a display that never answers (pseudo-terminal, 30 s reply time-out);
//   (d) a scheduled power on of all displays together with each display's own power on (the first switches
//   the
//       monitors, the others talk to the displays): four displays on pseudo-terminals, each answering after 5
//       s;
//   (e) a slide whose transform takes about 3 s.
// A baseline with nothing slow comes first. For each: the longest time one slide stayed on screen (from the
// swap that showed it to the next one) over the slide duration, per playing display, and the largest
// lateness of a 10 ms timer on the main thread; beside the goal (1.5x the duration, 50 ms). The outcome of
// the slow work is awaited by polling what it changes, wherever it runs. A summary table ends the run.
#include "AgentScheduleSource.h"
#include "BenchDisplay.h"
#include "DisplaySimulator.h"
#include "EventLogWriter.h"
#include "HttpDownloader.h"
#include "Log.h"
#include "MessageBox.h"
#include "QtSerialLine.h"
#include "ScheduleAction.h"
#include "TestContentServer.h"
#include "TestPlatform.h"
#include "VitrelleCenterAgent.h"
#include "VitrelleCenterApplication.h"
#include "VitrelleCenterForm.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleDeviceSettings.h"
#include "VitrelleDownloader.h"
#include "VitrelleForm.h"
#include "WatchedView.h"
#include "WebSlideView.h"
#include "XmlDocument.h"
#include "XsltTemplate.h"
#include "XvfbServer.h"

#include "ActionList.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using std::chrono::milliseconds;

// Two displays side by side on the X screen play; two more (for the power scenario) lie beyond it.
const QSize ScreenSize(1280, 480);
constexpr int DisplayCount = 4;
constexpr int PlayingDisplays = 2;
constexpr qint32 SlideSeconds = 1;
constexpr int SlidesPerShow = 24;
// The position of the slow slide in its show: far enough in to be prepared after the warm-up.
constexpr int SlowSlide = 8;
const QString Colours = QStringLiteral("colours");
const QString SlowShow = QStringLiteral("slowshow");
const QString ListPath = QStringLiteral("/list/VitrelleList.xml");

constexpr double SlideGoal = 1.5;  // longest slide over its duration
constexpr double TimerGoalMs = 50; // lateness of the 10 ms timer
constexpr milliseconds SlowAnswer = 30s;
constexpr int SilentTimeOutMs = 30000; // the display's time-out constant in (c)
constexpr int SlowDisplayReplyMs = 5000;
constexpr int SlowDisplayTimeOutMs = 5500; // the reply comes within it; the exchange lasts it
constexpr milliseconds TransformTarget = 3s;

// Set up by main.
std::shared_ptr<const ISlideViewFactory> WebViews;
int SlowItems = 0;       // the slow slide's work items, calibrated to TransformTarget
double CalibratedMs = 0; // the processor time one transform of them took when calibrated

struct TSummaryLine
{
    std::string Scenario;
    double MaxRatio = 0;
    double TimerLateMs = 0;
    bool OutcomeSeen = false;
};
std::vector<TSummaryLine> Summary;

// ---- content ----

QString ColourOf(int index, bool alternate)
{
    static constexpr int Levels[] = {40, 100, 160, 220};
    const int i = alternate ? index + 7 : index;
    const auto level = [](int value) {
        return QString::number(value, 16).rightJustified(2, QLatin1Char('0'));
    };
    return QStringLiteral("#%1%2%3").arg(level(Levels[i % 4]), level(Levels[i / 4 % 4]),
                                         level(Levels[i / 16 % 4]));
}

QByteArray ShowXml(const QString& name, const QString& prefix, bool withSlowSlide, bool alternate = false)
{
    QString xml = QStringLiteral("<Vitrelle name=\"%1\">").arg(name);
    for (int i = 0; i < SlidesPerShow; ++i) {
        const QString id = prefix + QString::number(i);
        if (withSlowSlide && i == SlowSlide) {
            xml += QStringLiteral("<Diapositive id=\"%1\" type=\"Slow\"><Colour>%2</Colour><Work>")
                       .arg(id, ColourOf(i, alternate));
            for (int k = 0; k < SlowItems; ++k)
                xml += QStringLiteral("<i>%1</i>").arg(k);
            xml += QStringLiteral("</Work></Diapositive>");
        } else {
            xml += QStringLiteral("<Diapositive id=\"%1\" type=\"Solid\"><Colour>%2</Colour></Diapositive>")
                       .arg(id, ColourOf(i, alternate));
        }
    }
    return (xml + QStringLiteral("</Vitrelle>")).toUtf8();
}

const QByteArray List = "<Vitrelles><Vitrelle id=\"colours\" name=\"Colours\"/>"
                        "<Vitrelle id=\"slowshow\" name=\"Slow show\"/></Vitrelles>";
const QByteArray Types = "<DiapositiveTypes><DiapositiveType><Name>Solid</Name></DiapositiveType>"
                         "<DiapositiveType><Name>Slow</Name></DiapositiveType></DiapositiveTypes>";
const QByteArray SolidTemplate =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:output method=\"html\" encoding=\"UTF-8\"/><xsl:template match=\"/\">"
    "<html><head><meta charset=\"utf-8\"/><style>html, body { margin: 0; height: 100%; background: "
    "<xsl:value-of select=\"Diapositive/Colour\"/>; }</style></head><body></body></html>"
    "</xsl:template></xsl:stylesheet>";
// Every work item is compared with every other one: quadratic in their number, and never output.
const QByteArray SlowTemplate =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:output method=\"html\" encoding=\"UTF-8\"/><xsl:template match=\"/\">"
    "<xsl:variable name=\"items\" select=\"Diapositive/Work/i\"/>"
    "<html><head><meta charset=\"utf-8\"/><style>html, body { margin: 0; height: 100%; background: "
    "<xsl:value-of select=\"Diapositive/Colour\"/>; }</style></head><body>"
    "<xsl:for-each select=\"$items\"><xsl:variable name=\"v\" select=\"number(.)\"/>"
    "<xsl:if test=\"count($items[number(.) &lt; $v]) &lt; 0\">never</xsl:if></xsl:for-each>"
    "</body></html></xsl:template></xsl:stylesheet>";

bool WriteFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// This thread's processor time in milliseconds: what a piece of work costs, whatever else the machine runs.
double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct TTransformTime
{
    double CpuMs = 0;
    double WallMs = 0;
};

// What the slow template costs on items work items, through the program's own transform.
TTransformTime TimeSlowTransform(int items)
{
    TXmlDocument stylesheet;
    if (!stylesheet.LoadFromBytes(SlowTemplate))
        throw std::runtime_error("the slow template does not parse");
    const std::shared_ptr<const TXsltTemplate> compiled = TXsltTemplate::Compile(stylesheet);
    QByteArray input = "<Diapositive><Colour>#102030</Colour><Work>";
    for (int k = 0; k < items; ++k)
        input += "<i>" + QByteArray::number(k) + "</i>";
    input += "</Work></Diapositive>";
    TXmlDocument document;
    if (!document.LoadFromBytes(input))
        throw std::runtime_error("the slow slide does not parse");
    QByteArray output;
    QString errors;
    const auto started = TClock::now();
    const double cpu = ThreadCpuMs();
    if (!compiled->Transform(document.DocumentElement(), output, errors))
        throw std::runtime_error("the slow transform failed: " + errors.toStdString());
    return {ThreadCpuMs() - cpu, std::chrono::duration<double, std::milli>(TClock::now() - started).count()};
}

// The number of work items that costs the slow template about TransformTarget of processor time: the median
// of a few short runs, scaled by the square of the time (the work is quadratic). Processor time depends less
// than the wall time on what else the machine runs; on a busy machine the slide takes longer than the target.
// The slide's own time in the scenario is measured too.
void CalibrateSlowSlide()
{
    constexpr int ProbeItems = 1000;
    std::array<double, 5> probes{};
    for (double& probe : probes)
        probe = TimeSlowTransform(ProbeItems).CpuMs;
    std::sort(probes.begin(), probes.end());
    const double probeMs = std::max(probes[probes.size() / 2], 1.0);
    SlowItems = std::clamp(
        static_cast<int>(ProbeItems * std::sqrt(static_cast<double>(TransformTarget.count()) / probeMs)), 200,
        60000);
    const TTransformTime check = TimeSlowTransform(SlowItems);
    CalibratedMs = check.CpuMs;
    std::fprintf(
        stderr,
        "slow slide: %d work items (%d cost %.0f ms), one transform %.0f ms of processor time, %.0f ms "
        "on the clock\n",
        SlowItems, ProbeItems, probeMs, check.CpuMs, check.WallMs);
}

// ---- what the run sees ----

// Keeps every log line with the moment it came, whatever thread wrote it; errors and warnings also go to
// standard error.
class TLogRecorder : public IEventSink
{
public:
    void ReportEvent(const QString&, TEventType type, quint16, quint32, const QString& text) override
    {
        const qsizetype at = text.indexOf(QLatin1String(" : "));
        const QString message = at >= 0 ? text.mid(at + 3) : text;
        std::lock_guard lock(FMutex);
        FLines.push_back(message);
        FTimes.push_back(QDateTime::currentDateTime());
        if (type == etError || type == etWarning || Verbose)
            std::fprintf(stderr, "log +%.3f s: %s\n",
                         std::chrono::duration<double>(TClock::now() - FStart).count(),
                         text.toUtf8().constData());
    }
    int Count(const QString& start) const
    {
        std::lock_guard lock(FMutex);
        return static_cast<int>(std::count_if(FLines.begin(), FLines.end(),
                                              [&](const QString& line) { return line.startsWith(start); }));
    }

    // When the first line that contains the text came; invalid when none did.
    QDateTime FirstTime(const QString& text) const
    {
        std::lock_guard lock(FMutex);
        for (qsizetype i = 0; i < FLines.size(); ++i)
            if (FLines[i].contains(text))
                return FTimes[static_cast<size_t>(i)];
        return {};
    }

private:
    // VC_FREEZE_LOG=1: every line, for a closer look at one scenario.
    const bool Verbose = qEnvironmentVariableIntValue("VC_FREEZE_LOG") != 0;
    const TClock::time_point FStart = TClock::now();
    mutable std::mutex FMutex;
    QStringList FLines;
    std::vector<QDateTime> FTimes;
};

struct TSwap
{
    QString Slide;
    TClock::time_point Time;
};

// The largest lateness of a 10 ms timer on the main thread while it runs.
class TTimerProbe
{
public:
    TTimerProbe()
    {
        FTimer.setTimerType(Qt::PreciseTimer);
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            const auto now = TClock::now();
            const double late = std::chrono::duration<double, std::milli>(now - FLast).count() - 10.0;
            FWorstMs = std::max(FWorstMs, late);
            FLast = now;
        });
    }
    void Start()
    {
        FWorstMs = 0;
        FLast = TClock::now();
        FTimer.start();
    }
    double Stop()
    {
        FTimer.stop();
        return FWorstMs;
    }

private:
    QTimer FTimer;
    TClock::time_point FLast;
    double FWorstMs = 0;
};

void ServeFor(milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

struct TSlideTime
{
    QString Slide;
    double Start = 0; // seconds after from
    double Seconds = 0;
};

// How long each slide stayed on screen within [from, to]: from the swap that showed it (the last one before
// from counts for the slide on screen then) to the next swap, or to the end for the last one.
std::vector<TSlideTime> SlideTimes(const std::vector<TSwap>& swaps, TClock::time_point from,
                                   TClock::time_point to)
{
    const auto seconds = [](TClock::duration d) { return std::chrono::duration<double>(d).count(); };
    std::vector<TSlideTime> times;
    const TSwap* shown = nullptr;
    for (const TSwap& swap : swaps) {
        if (swap.Time > to)
            break;
        if (swap.Time >= from && shown != nullptr)
            times.push_back({shown->Slide, seconds(shown->Time - from), seconds(swap.Time - shown->Time)});
        shown = &swap;
    }
    if (shown != nullptr)
        times.push_back({shown->Slide, seconds(shown->Time - from), seconds(to - shown->Time)});
    else
        times.push_back({QStringLiteral("(none)"), 0, seconds(to - from)});
    return times;
}

// What each display's serial line is: nothing, a display that never answers, or one that answers after 5 s.
enum class TSerial
{
    None,
    Silent,
    Slow
};

// The operator's window, its agent and the content server, in an application folder of their own; the
// first two displays play (the second always the colour show), the schedule ticks only when a scenario asks.
class TRig
{
public:
    TRig(std::array<TSerial, DisplayCount> serial, const QString& firstShow)
    {
        const QString app = FFolder.path();
        {
            TVitrelleCenterSettings settings(app);
            FServer.Configure(settings.HttpSettings());
            settings.Save();
        }
        WriteFile(app + "/Templates/Types.xml", Types);
        WriteFile(app + "/Templates/Solid.xsl", SolidTemplate);
        WriteFile(app + "/Templates/Slow.xsl", SlowTemplate);
        const QByteArray colours = ShowXml("Colours", "c", false);
        const QByteArray slow = ShowXml("Slow show", "s", true);
        WriteFile(app + "/Cache/VitrelleList.xml", List);
        WriteFile(app + "/Cache/" + Colours + ".xml", colours);
        WriteFile(app + "/Cache/" + SlowShow + ".xml", slow);
        FServer.SetFile(ListPath, List);
        FServer.SetFile("/vitrelles/" + Colours + ".xml", colours);
        FServer.SetFile("/vitrelles/" + SlowShow + ".xml", slow);

        for (int i = 0; i < DisplayCount; ++i) {
            if (serial[i] == TSerial::None)
                continue;
            const bool silent = serial[i] == TSerial::Silent;
            FDisplays.push_back(std::make_unique<TDisplaySimulator>(std::vector<TSimulatedAnswer>{
                {"PON\r", silent ? QByteArray() : QByteArray("OK"), silent ? 0 : SlowDisplayReplyMs}}));
            TVitrelleDeviceSettings device;
            TDeviceControlSettings& control = device.ControlSettings();
            control.ComSettings.Port = FDisplays.back()->PortPath();
            control.ComSettings.TimeOutConstant = silent ? SilentTimeOutMs : SlowDisplayTimeOutMs;
            control.PowerOn = "PON#13";
            control.PowerOnOK = "OK";
            control.PowerOff = "POF#13";
            control.PowerOffOK = "OK";
            QDir().mkpath(app + "/Devices");
            if (!device.SaveToFile(app + QStringLiteral("/Devices/DEVICE%1.xml").arg(i + 1)))
                throw std::runtime_error("a device settings file cannot be written");
            FPorts[static_cast<size_t>(i)] = FDisplays.back()->PortPath();
        }

        for (int i = 0; i < DisplayCount; ++i) {
            TSimulatedDisplaySystem::TOutput& output =
                FFakes.Display->AddOutput(QStringLiteral("DP-%1").arg(i + 1));
            output.Geometry = QRect(640 * i, 0, 640, 480);
            output.Modes = {TSystemDisplayMode{640, 480, 60, 32}};
            output.Current = output.Modes.front();
        }

        // The program's machine where it matters here: real time for the slides, HTTP with the program's
        // limits, the machine's serial ports, the pause before every display is switched. The wall clock
        // stands still (at 08:00) until a scenario moves it past an action's time.
        TAgentPlatform platform = FFakes.Agent();
        platform.SlideViews = std::make_shared<TWatchedViewFactory>(WebViews);
        platform.SerialPorts = std::make_shared<TQtSerialPortFactory>();
        platform.Downloaders =
            std::make_shared<THttpDownloaderFactory>(THttpOptions{THttpTimeouts{}, FFakes.Clock});
        platform.PowerAllPause = 500ms;
        FAgent = CreateAgent(app, platform);
        if (!FAgent)
            throw std::runtime_error("the agent did not start");
        FForm = std::make_unique<TfrmVitrelleCenter>(*FAgent);
        FForm->setGeometry(100, 100, 800, 400);
        FForm->show();
        TVitrelleCenterAgent& agent = Agent();
        if (agent.DeviceCount() != DisplayCount || agent.PlayerCount() != DisplayCount)
            throw std::runtime_error("the agent has not found every display");
        for (int i = 0; i < DisplayCount; ++i)
            if (!FPorts[static_cast<size_t>(i)].isEmpty() &&
                agent.Devices(i).Settings().ControlSettings().ComSettings.Port !=
                    FPorts[static_cast<size_t>(i)])
                throw std::runtime_error("a display did not get its serial port");
        // The scenario starts the tick when its action is in.
        agent.Scheduler().StopTicking();

        for (int i = 0; i < PlayingDisplays; ++i) {
            TVitrellePlayer& player = agent.Players(i);
            player.Form().SetOnSlideShown([this, i, &player] {
                const auto* front = dynamic_cast<const TWatchedView*>(player.Form().SlideStack().Front());
                FSwaps[static_cast<size_t>(i)].push_back(
                    {front != nullptr ? front->SlideId() : QString(), TClock::now()});
            });
            if (!agent.PlayVitrelle(i == 0 ? firstShow : Colours, i, SlideSeconds))
                throw std::runtime_error("a display does not play");
        }
        // The web views are up and the show runs at its pace.
        if (!ServeUntil([this] { return FSwaps[0].size() >= 3 && FSwaps[1].size() >= 3; }, 60s))
            throw std::runtime_error("the displays did not show their first slides");
    }

    ~TRig()
    {
        for (int i = 0; i < PlayingDisplays; ++i)
            Agent().Players(i).Form().SetOnSlideShown(nullptr);
        FForm.reset();
        FAgent.reset();
    }

    TVitrelleCenterAgent& Agent() const { return *FAgent; }
    QString Folder() const { return FFolder.path(); }
    TfrmVitrelleCenter& Form() const { return *FForm; }
    TTestContentServer& Server() { return FServer; }
    const TLogRecorder& Log() const { return *FLog; }
    const std::vector<TSwap>& Swaps(int display) const { return FSwaps[static_cast<size_t>(display)]; }

    // Adds an action of the source at 08:01, a minute after the clock's time: not yet due.
    void Schedule(IScheduleSource* source, qint32 code)
    {
        if (source == nullptr)
            throw std::runtime_error("no such schedule source");
        Agent().Scheduler().AddAction(
            TScheduleAction::CreateAction(source, code, TActionPeriodicity::EveryDay, QTime(8, 1), true));
    }
    // Moves the clock past the actions' time and starts the tick, whose first pass runs them.
    void RunSchedule()
    {
        FFakes.Clock->AdvanceSeconds(90);
        Agent().Scheduler().StartTicking();
    }

private:
    // The log goes to the recorder for the rig's life; ended after the window and its agent.
    struct TLogOverride
    {
        explicit TLogOverride(std::shared_ptr<IEventSink> sink) { SetLogSinkOverride(std::move(sink)); }
        ~TLogOverride()
        {
            FinalizeLog();
            SetLogSinkOverride(nullptr);
        }
    };

    QTemporaryDir FFolder;
    TTestContentServer FServer;
    std::vector<std::unique_ptr<TDisplaySimulator>> FDisplays;
    std::array<QString, DisplayCount> FPorts;
    std::shared_ptr<TLogRecorder> FLog = std::make_shared<TLogRecorder>();
    TLogOverride FLogOverride{FLog};
    TTestPlatform FFakes = TestPlatform();
    std::unique_ptr<TVitrelleCenterAgent> FAgent; // made before the window, freed after it
    std::unique_ptr<TfrmVitrelleCenter> FForm;
    std::array<std::vector<TSwap>, PlayingDisplays> FSwaps;
};

// Closes any modal window that comes up meanwhile (an error box), so that the run never waits for an
// operator; what it said goes to standard error.
class TModalCloser
{
public:
    TModalCloser()
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr)
                return;
            ++Closed;
            if (const auto* box = qobject_cast<QMessageBox*>(modal))
                std::fprintf(stderr, "a message box came up: %s\n", box->text().toUtf8().constData());
            else
                std::fprintf(stderr, "a modal window came up: %s\n",
                             modal->windowTitle().toUtf8().constData());
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
        });
        FTimer.start(200);
    }
    int Closed = 0;

private:
    QTimer FTimer;
};

// Runs one scenario on the rig: starts the timer probe, triggers the slow work, waits for its outcome (at
// most limit), lets the show go on for a few seconds more and reports.
void RunScenario(benchmark::State& state, const std::string& name, TRig& rig,
                 const std::function<void()>& trigger, const std::function<bool()>& done, milliseconds limit)
{
    TTimerProbe probe;
    const auto from = TClock::now();
    probe.Start();
    trigger();
    // Without an outcome to wait for, the show is watched for the whole limit.
    const bool seen = done ? ServeUntil(done, limit) : (ServeFor(limit), true);
    const double outcomeSeconds = std::chrono::duration<double>(TClock::now() - from).count();
    ServeFor(3s); // the show after the outcome
    const auto to = TClock::now();
    const double lateMs = probe.Stop();

    double worst = 0;
    std::string perDisplay;
    for (int i = 0; i < PlayingDisplays; ++i) {
        const std::vector<TSlideTime> times = SlideTimes(rig.Swaps(i), from, to);
        double longest = 0;
        for (const TSlideTime& time : times) {
            longest = std::max(longest, time.Seconds);
            // Each slide held too long, for a closer look.
            if (time.Seconds > SlideGoal * SlideSeconds)
                std::fprintf(stderr, "  display %d: slide %s on screen %.2f s from +%.2f s\n", i + 1,
                             time.Slide.toUtf8().constData(), time.Seconds, time.Start);
        }
        const double ratio = longest / SlideSeconds;
        worst = std::max(worst, ratio);
        state.counters["slide_ratio_display" + std::to_string(i + 1)] = ratio;
        state.counters["slides_display" + std::to_string(i + 1)] = static_cast<double>(times.size());
        char text[48];
        std::snprintf(text, sizeof text, " display %d %.2f", i + 1, ratio);
        perDisplay += text;
    }
    const bool met = worst <= SlideGoal && lateMs <= TimerGoalMs;
    state.SetIterationTime(std::chrono::duration<double>(to - from).count());
    state.counters["slide_ratio_max"] = worst;
    state.counters["slide_ratio_goal"] = SlideGoal;
    state.counters["timer_late_ms"] = lateMs;
    state.counters["timer_goal_ms"] = TimerGoalMs;
    state.counters["outcome_s"] = seen ? outcomeSeconds : -1;
    state.counters["goal_met"] = met ? 1 : 0;
    std::fprintf(stderr, "%s: outcome %s after %.1f s; longest slide / duration:%s; timer late %.0f ms\n",
                 name.c_str(), seen ? "seen" : "NOT seen", outcomeSeconds, perDisplay.c_str(), lateMs);
    Summary.push_back({name, worst, lateMs, seen});
}

// A scenario that cannot be set up or run is reported as such, and the run goes on with the next one.
void Guarded(benchmark::State& state, const std::function<void()>& body)
{
    try {
        body();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "the scenario failed: %s\n", error.what());
        state.SkipWithError(error.what());
    }
}

std::array<TSerial, DisplayCount> NoSerial()
{
    return {TSerial::None, TSerial::None, TSerial::None, TSerial::None};
}

// ---- the scenarios ----

// Nothing slow: what the show does on its own over 10 s.
void BM_Baseline(benchmark::State& state)
{
    for (auto _ : state)
        Guarded(state, [&] {
            TModalCloser closer;
            TRig rig(NoSerial(), Colours);
            RunScenario(
                state, "baseline (nothing slow)", rig, [] {}, nullptr, 10s);
        });
}
BENCHMARK(BM_Baseline)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// (a) The scheduled update of the vitrelle both displays play; its file comes after 30 s, with new colours.
void BM_UpdateWhileServerSlow(benchmark::State& state)
{
    for (auto _ : state)
        Guarded(state, [&] {
            TModalCloser closer;
            TRig rig(NoSerial(), Colours);
            TVitrelleRepository& repository = rig.Agent().Repository();
            const auto downloader = [&]() -> TVitrelleDownloader* {
                for (int i = 0; i < repository.DownloaderCount(); ++i)
                    if (repository.DownloaderAt(i)->Vitrelle() != nullptr &&
                        repository.DownloaderAt(i)->Vitrelle()->Id == Colours)
                        return repository.DownloaderAt(i);
                return nullptr;
            };
            rig.Server().SetDelayedFile("/vitrelles/" + Colours + ".xml",
                                        ShowXml("Colours", "c", false, true), SlowAnswer);
            RunScenario(
                state, "(a) update, vitrelle file after 30 s", rig,
                [&] {
                    rig.Schedule(downloader(), TVitrelleDownloader::UpdateAction);
                    rig.RunSchedule();
                },
                [&] {
                    const TVitrelleDownloader* updater = downloader();
                    return updater != nullptr && updater->LastUpdate().Time.isValid();
                },
                50s);
            if (const TVitrelleDownloader* updater = downloader())
                state.counters["update_succeeded"] = updater->LastUpdate().Succeeded ? 1 : 0;
        });
}
BENCHMARK(BM_UpdateWhileServerSlow)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// (b) "Download vitrelle list" on the Settings page; the list comes after 30 s.
void BM_DownloadListWhileServerSlow(benchmark::State& state)
{
    for (auto _ : state)
        Guarded(state, [&] {
            TModalCloser closer;
            TRig rig(NoSerial(), Colours);
            bool listChanged = false;
            QObject::connect(&rig.Agent().Notifier(), &TAgentNotifier::VitrelleListChanged,
                             [&] { listChanged = true; });
            auto* pageButton = rig.Form().findChild<QAbstractButton*>(QStringLiteral("sbSettings"));
            if (pageButton == nullptr)
                throw std::runtime_error("no Settings page button");
            pageButton->click();
            ServeFor(500ms);
            auto* button = rig.Form().findChild<QAbstractButton*>(QStringLiteral("btnDownloadList"));
            if (button == nullptr)
                throw std::runtime_error("no Download vitrelle list button");
            rig.Server().SetDelayedFile(ListPath, List, SlowAnswer);
            const int boxesBefore = closer.Closed;
            RunScenario(
                state, "(b) Download vitrelle list, list after 30 s", rig,
                [&] {
                    // As the operator clicks: the button shows its state after an idle moment, and the click
                    // goes through the application.
                    for (TActionList* list : rig.Form().findChildren<TActionList*>())
                        list->UpdateAll();
                    QTest::mouseClick(button, Qt::LeftButton);
                },
                [&] { return listChanged || closer.Closed > boxesBefore; }, 50s);
            state.counters["list_loaded"] = listChanged ? 1 : 0;
        });
}
BENCHMARK(BM_DownloadListWhileServerSlow)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// (c) A scheduled power on of the first display, which never answers: 30 s time-out.
void BM_PowerOnSilentDisplay(benchmark::State& state)
{
    for (auto _ : state)
        Guarded(state, [&] {
            TModalCloser closer;
            TRig rig({TSerial::Silent, TSerial::None, TSerial::None, TSerial::None}, Colours);
            const QString line = QStringLiteral("Power on of device '");
            RunScenario(
                state, "(c) power on, display silent, 30 s time-out", rig,
                [&] {
                    rig.Schedule(&rig.Agent().Devices(0), TVitrelleDevice::PowerOnAction);
                    rig.RunSchedule();
                },
                [&] { return rig.Log().Count(line) >= 1; }, 50s);
        });
}
BENCHMARK(BM_PowerOnSilentDisplay)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// (d) A scheduled power on of all displays, with each display's own power on at the same time: four
// displays on their serial lines, each answering after 5 s.
void BM_PowerAllOnFourDisplays(benchmark::State& state)
{
    for (auto _ : state)
        Guarded(state, [&] {
            TModalCloser closer;
            TRig rig({TSerial::Slow, TSerial::Slow, TSerial::Slow, TSerial::Slow}, Colours);
            const QString deviceLine = QStringLiteral("Power on of device '");
            const QString allLine = QStringLiteral("Power on of all devices");
            RunScenario(
                state, "(d) power all on, four displays, 5 s each", rig,
                [&] {
                    TVitrelleCenterAgent& agent = rig.Agent();
                    rig.Schedule(agent.Scheduler().FindSource(QStringLiteral("VitrelleCenterAgent")),
                                 TAgentScheduleSource::PowerOnAllAction);
                    for (int i = 0; i < DisplayCount; ++i)
                        rig.Schedule(&agent.Devices(i), TVitrelleDevice::PowerOnAction);
                    rig.RunSchedule();
                },
                [&] { return rig.Log().Count(deviceLine) >= DisplayCount && rig.Log().Count(allLine) >= 1; },
                50s);
            int succeeded = 0;
            for (int i = 0; i < DisplayCount; ++i) {
                const auto& record = rig.Agent().Devices(i).LastPowerCommand();
                succeeded += record && record->Succeeded ? 1 : 0;
            }
            state.counters["displays_switched"] = succeeded;
        });
}
BENCHMARK(BM_PowerAllOnFourDisplays)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// (e) The first display's show has a slide whose transform takes about 3 s; the outcome is that display
// passing it (shown or skipped).
void BM_SlowTransform(benchmark::State& state)
{
    for (auto _ : state)
        Guarded(state, [&] {
            TModalCloser closer;
            {
                // Calibrated with the program up and two displays playing, as in the scenario: measured here,
                // the same transform costs nearly twice as much processor time before the program is up.
                const TRig calibration(NoSerial(), Colours);
                CalibrateSlowSlide();
            }
            TRig rig(NoSerial(), SlowShow);
            const auto passed = [&] {
                for (const TSwap& swap : rig.Swaps(0)) {
                    bool ok = false;
                    const int index = swap.Slide.mid(1).toInt(&ok);
                    if (ok && index > SlowSlide)
                        return true;
                }
                return false;
            };
            if (passed())
                throw std::runtime_error("the slow slide came before the scenario");
            RunScenario(
                state, "(e) slide transform of 3 s", rig, [] {}, passed, 50s);
            bool shown = false;
            for (const TSwap& swap : rig.Swaps(0))
                shown = shown || swap.Slide == QStringLiteral("s%1").arg(SlowSlide);
            state.counters["slow_slide_shown"] = shown ? 1 : 0;
            state.counters["transform_calibrated_cpu_ms"] = CalibratedMs;
            // The slide's own preparation: from its log line to its page in the cache, wherever it ran.
            const QString slowId = QStringLiteral("s%1").arg(SlowSlide);
            const QDateTime started = rig.Log().FirstTime("preparation of slide '" + slowId + "'");
            const QFileInfo page(rig.Folder() + "/Cache/Slow/" + slowId + ".html");
            const double preparedMs = started.isValid() && page.exists()
                                          ? static_cast<double>(started.msecsTo(page.lastModified()))
                                          : -1;
            state.counters["slow_slide_prepared_ms"] = preparedMs;
            std::fprintf(stderr, "slow slide: prepared in %.0f ms in the scenario (log line to page file)\n",
                         preparedMs);
            const TTransformTime after = TimeSlowTransform(SlowItems);
            state.counters["transform_after_cpu_ms"] = after.CpuMs;
            state.counters["transform_after_ms"] = after.WallMs;
            std::fprintf(stderr,
                         "slow slide: one transform after the scenario %.0f ms of processor time, %.0f ms on "
                         "the clock\n",
                         after.CpuMs, after.WallMs);
        });
}
BENCHMARK(BM_SlowTransform)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void PrintSummary()
{
    if (Summary.empty())
        return;
    std::printf("\n%-46s %18s %18s %9s\n", "scenario", "max slide/duration", "timer late (ms)", "goal met");
    std::printf("%-46s %18s %18s %9s\n", "", "(goal <= 1.50)", "(goal <= 50)", "");
    for (const TSummaryLine& line : Summary)
        std::printf("%-46s %18.2f %18.0f %9s%s\n", line.Scenario.c_str(), line.MaxRatio, line.TimerLateMs,
                    line.MaxRatio <= SlideGoal && line.TimerLateMs <= TimerGoalMs ? "yes" : "no",
                    line.OutcomeSeen ? "" : "  (outcome never came)");
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    TXvfbServer server;
    if (!StartBenchDisplay(server, ScreenSize))
        return 1;
    {
        // The program's application object: an error escaping a handler is logged and shown, not fatal.
        TVitrelleCenterApplication application(argc, argv);
        WebViews = std::make_shared<TWebSlideViewFactory>();
        benchmark::RunSpecifiedBenchmarks();
        WebViews.reset();
    }
    benchmark::Shutdown();
    PrintSummary();
    return 0;
}
