// Playback as a viewer sees it, on a private Xvfb: 200 solid-colour slides in the real slide window with the
// real web views, the screen read at 60 frames a second. Swap quality (blank, mixed and stale frames, the
// time from each swap to the first frame that shows the new slide), memory of the program and its web engine
// processes over 2,000 swaps, the real program's start-up to its first slide, and the CPU a static slide
// costs. Every figure is reported beside its goal, as a ratio where it has one; a summary table ends the run.
#include "BenchDisplay.h"
#include "BenchShow.h"
#include "Clock.h"
#include "DiapositiveType.h"
#include "FakeNetworkStatus.h"
#include "FakeScreenSaver.h"
#include "HttpDownloader.h"
#include "ProcessStats.h"
#include "ScreenCapture.h"
#include "SteadyClock.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleForm.h"
#include "VitrellePlayer.h"
#include "VitrelleRepository.h"
#include "WatchedView.h"
#include "WebSlideView.h"
#include "XmlDocument.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using std::chrono::milliseconds;

const QSize ScreenSize(640, 480);
constexpr int SlideCount = 200;
constexpr auto FramePeriod = std::chrono::microseconds(16667); // 60 frames a second
constexpr double FrameMs = 1000.0 / 60.0;
const QString VitrelleId = QStringLiteral("colours");

// Set up by main.
TXvfbServer* Server = nullptr;
std::shared_ptr<const ISlideViewFactory> WebViews;

// The lines of the closing table, in the order they were measured.
std::vector<std::array<std::string, 4>> Summary; // figure, measured, goal, ratio

void AddSummary(const std::string& figure, double measured, double goal, const char* unit, bool ratio = true)
{
    char value[64];
    char target[64];
    char quotient[32] = "-";
    std::snprintf(value, sizeof value, "%.2f %s", measured, unit);
    std::snprintf(target, sizeof target, "%.2f %s", goal, unit);
    if (ratio && goal > 0)
        std::snprintf(quotient, sizeof quotient, "%.2f", measured / goal);
    Summary.push_back({figure, value, target, quotient});
}

// ---- the show ----

// Distinct colours, far enough apart that the sampler's tolerance never confuses two, none near black or
// white.
QRgb SlideColour(int index)
{
    static constexpr int Levels[] = {40, 80, 120, 160, 200, 240};
    return qRgb(Levels[index / 36 % 6], Levels[index / 6 % 6], Levels[index % 6]);
}

QList<QRgb> Palette()
{
    QList<QRgb> palette;
    for (int i = 0; i < SlideCount; ++i)
        palette << SlideColour(i);
    return palette;
}

QString SlideId(int index)
{
    return QStringLiteral("c%1").arg(index, 3, 10, QLatin1Char('0'));
}

bool WriteFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// An application folder with a slide type whose page is one colour and a vitrelle of SlideCount such slides,
// the types registered and the repository over its cache.
class TColourShow
{
public:
    TColourShow()
    {
        const QString templates = Folder.filePath("Templates");
        const QString cache = Folder.filePath("Cache");
        QDir().mkpath(templates);
        for (const char* name : {"Types.xml", "Solid.xsl"})
            QFile::copy(QStringLiteral(VC_SOLID_SLIDE_DIR "/") + name, templates + "/" + name);
        WriteFile(cache + "/VitrelleList.xml",
                  "<Vitrelles><Vitrelle id=\"" + VitrelleId.toUtf8() + "\" name=\"Colours\"/></Vitrelles>");
        QByteArray vitrelle = "<Vitrelle name=\"Colours\">";
        for (int i = 0; i < SlideCount; ++i)
            vitrelle +=
                QStringLiteral("<Diapositive id=\"%1\" type=\"Solid\"><Colour>#%2</Colour></Diapositive>")
                    .arg(SlideId(i), QString::number(SlideColour(i) & 0xffffff, 16).rightJustified(6, '0'))
                    .toUtf8();
        WriteFile(cache + "/" + VitrelleId + ".xml", vitrelle + "</Vitrelle>");

        Opened = std::make_unique<TBenchRepository>(Folder.path(), templates, cache);
        Repository = Opened->Repository.get();
    }

    QTemporaryDir Folder;
    std::unique_ptr<TBenchRepository> Opened;
    TVitrelleRepository* Repository = nullptr;
};

// The machine's monotonic time run Speed times faster: slides of a whole second pass in a fraction of one.
class TFastSteadyClock : public ISteadyClock
{
public:
    explicit TFastSteadyClock(int speed) : FSpeed(speed) {}
    milliseconds Now() const override
    {
        return std::chrono::duration_cast<milliseconds>((TClock::now() - FStart) * FSpeed);
    }
    void WaitUntil(milliseconds moment, const std::function<bool()>& stopRequested) override
    {
        std::unique_lock lock(FMutex);
        FWakeUp.wait_until(lock, FStart + std::chrono::duration_cast<TClock::duration>(moment) / FSpeed,
                           stopRequested);
    }
    void Wake() override
    {
        {
            const std::lock_guard lock(FMutex);
        }
        FWakeUp.notify_all();
    }

private:
    const int FSpeed;
    const TClock::time_point FStart = TClock::now();
    std::mutex FMutex;
    std::condition_variable FWakeUp;
};

// The slide's position in the show ("s12" is 12); -1 for none.
int SlidePosition(const TWatchedView* view)
{
    if (view == nullptr)
        return -1;
    bool ok = false;
    const int index = view->SlideId().mid(1).toInt(&ok);
    return ok ? index : -1;
}

struct TSwap
{
    int Slide = -1;
    TClock::time_point Time;
};

// A player on the colour show, full screen on the whole Xvfb screen, that records every swap.
class TPlayback
{
public:
    TPlayback(TColourShow& show, int speed, milliseconds tick, qint32 slideSeconds)
    {
        TPlayerServices services;
        services.SlideViews = std::make_shared<TWatchedViewFactory>(WebViews);
        services.ScreenSaver = std::make_shared<TFakeScreenSaver>();
        services.Tick = tick;
        services.Clock = std::make_shared<TFastSteadyClock>(speed);
        Player = std::make_unique<TVitrellePlayer>(nullptr, *show.Repository, services);
        Player->Form().SetMonitor(
            TDesktopMonitor{QStringLiteral("screen"), QRect(QPoint(0, 0), ScreenSize), {}, true});
        Player->Form().SetFullScreen(true);
        Player->Form().SetOnSlideShown([this] {
            const auto* front = dynamic_cast<const TWatchedView*>(Player->Form().SlideStack().Front());
            Swaps.push_back({SlidePosition(front), TClock::now()});
        });
        Player->SetSlideDuration(slideSeconds);
    }
    ~TPlayback()
    {
        Player->StopPlaying(true);
        ServeUntil([this] { return Player->State() != psPlaying; }, 10s);
    }

    void Play()
    {
        if (!Player->Play(VitrelleId))
            throw std::runtime_error("the colour show does not play");
    }

    // Serves events for a while without waking more often than the events themselves ask.
    static void ServeFor(milliseconds duration)
    {
        QEventLoop loop;
        QTimer::singleShot(duration, &loop, &QEventLoop::quit);
        loop.exec();
    }

    std::unique_ptr<TVitrellePlayer> Player;
    std::vector<TSwap> Swaps;
};

// Corners, a few pixels in, and the centre.
QList<QPoint> CoverPoints()
{
    const int right = ScreenSize.width() - 5;
    const int bottom = ScreenSize.height() - 5;
    return {
        {4, 4}, {right, 4}, {4, bottom}, {right, bottom}, {ScreenSize.width() / 2, ScreenSize.height() / 2}};
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// ---- processes ----

// The program: this process and its web engine's, not the X server.
TProcessSample ProgramMemory()
{
    return SampleProcesses(ProcessTree(getpid(), static_cast<pid_t>(Server->ProcessId())));
}

// The background of the demo's first slide.
const QRgb DemoFirstSlide = qRgb(0x12, 0x35, 0x5b);

// ---- the benchmarks ----

// 200 swaps, a slide a quarter of a second (a 1 s slide on a clock four times as fast).
void BM_SwapQuality(benchmark::State& state)
{
    for (auto _ : state) {
        TColourShow show;
        const QList<QRgb> palette = Palette();
        std::vector<TScreenSampler::TFrame> frames;
        std::vector<TSwap> swaps;
        {
            TPlayback playback(show, 4, 40ms, 1);
            TScreenSampler sampler(Server->Name(), CoverPoints());
            sampler.Start(FramePeriod);
            const auto started = TClock::now();
            playback.Play();
            // One pass through the show: the last slide, or the first one shown again after it.
            const auto passed = [&] {
                const std::vector<TSwap>& s = playback.Swaps;
                return !s.empty() && (s.back().Slide == SlideCount - 1 ||
                                      (s.size() > 1 && s.back().Slide < s[s.size() - 2].Slide));
            };
            ServeUntil(passed, 110s);
            TPlayback::ServeFor(150ms); // the last slide's first frames
            frames = sampler.Stop();
            state.SetIterationTime(std::chrono::duration<double>(TClock::now() - started).count());
            swaps = playback.Swaps;
        }
        // Frames after the show came round again would count its first slide as stale.
        if (swaps.size() > 1 && swaps.back().Slide < swaps[swaps.size() - 2].Slide) {
            const auto cut = swaps.back().Time;
            swaps.pop_back();
            std::erase_if(frames, [&](const TScreenSampler::TFrame& frame) { return frame.Time >= cut; });
        }
        const TSwapReport report = JudgeCapture(palette, frames);
        std::vector<double> latencies;
        int unseen = 0;
        for (const TSwap& swap : swaps) {
            const auto seen = swap.Slide >= 0 ? report.FirstSeen[static_cast<size_t>(swap.Slide)]
                                              : TScreenSampler::TClock::time_point{};
            if (seen == TScreenSampler::TClock::time_point{}) {
                ++unseen;
                continue;
            }
            latencies.push_back(std::chrono::duration<double, std::milli>(seen - swap.Time).count());
        }
        const double median = Median(latencies);
        const double worst = latencies.empty() ? 0 : *std::max_element(latencies.begin(), latencies.end());
        state.counters["swaps"] = static_cast<double>(swaps.size());
        state.counters["skipped"] = static_cast<double>(SlideCount - static_cast<int>(swaps.size()));
        state.counters["frames"] = report.Frames;
        state.counters["blank"] = report.Blank;
        state.counters["blank_goal"] = 0;
        state.counters["mixed"] = report.Mixed;
        state.counters["stale"] = report.Stale;
        state.counters["stale_goal"] = 0;
        state.counters["swaps_never_seen"] = unseen;
        state.counters["median_ms"] = median;
        state.counters["median_frames"] = median / FrameMs;
        state.counters["median_goal_frames"] = 2;
        state.counters["median_ratio"] = median / (2 * FrameMs);
        state.counters["max_ms"] = worst;
        state.counters["max_frames"] = worst / FrameMs;
        AddSummary("swaps shown (of 200)", static_cast<double>(swaps.size()), SlideCount, "", false);
        AddSummary("blank frames", report.Blank, 0, "frames", false);
        AddSummary("mixed frames", report.Mixed, 0, "frames", false);
        AddSummary("stale frames", report.Stale, 0, "frames", false);
        AddSummary("swap to screen, median", median / FrameMs, 2, "frames");
        AddSummary("swap to screen, max", worst / FrameMs, 2, "frames");
    }
}
BENCHMARK(BM_SwapQuality)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Memory after 100 and after 2,000 swaps; a 1 s slide on a clock eight times as fast.
void BM_MemoryOverSwaps(benchmark::State& state)
{
    for (auto _ : state) {
        TColourShow show;
        TPlayback playback(show, 8, 20ms, 1);
        const auto started = TClock::now();
        playback.Play();
        const auto swapped = [&](size_t count) {
            return [&playback, count] { return playback.Swaps.size() >= count; };
        };
        if (!ServeUntil(swapped(100), 120s))
            state.SkipWithError("fewer than 100 swaps in two minutes");
        const TProcessSample early = ProgramMemory();
        // Progress on the way, a few minutes in all.
        TProcessSample late;
        for (size_t swaps = 500; swaps <= 2000; swaps += 500) {
            if (!ServeUntil(swapped(swaps), 300s)) {
                state.SkipWithError("fewer than 500 swaps in five minutes");
                break;
            }
            late = ProgramMemory();
            std::fprintf(stderr, "%zu swaps after %.0f s: RSS %.1f MiB, PSS %.1f MiB in %d processes\n",
                         swaps, std::chrono::duration<double>(TClock::now() - started).count(), late.RssMiB,
                         late.PssMiB, late.Processes);
        }
        state.SetIterationTime(std::chrono::duration<double>(TClock::now() - started).count());
        state.counters["processes"] = late.Processes;
        state.counters["rss_MiB_100"] = early.RssMiB;
        state.counters["rss_MiB_2000"] = late.RssMiB;
        state.counters["pss_MiB_100"] = early.PssMiB;
        state.counters["pss_MiB_2000"] = late.PssMiB;
        state.counters["rss_growth"] = late.RssMiB / early.RssMiB;
        state.counters["pss_growth"] = late.PssMiB / early.PssMiB;
        state.counters["growth_goal"] = 1.05;
        AddSummary("RSS after 2,000 / after 100 swaps", late.RssMiB / early.RssMiB, 1.05, "");
        AddSummary("PSS after 2,000 / after 100 swaps", late.PssMiB / early.PssMiB, 1.05, "");
    }
}
BENCHMARK(BM_MemoryOverSwaps)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The real program in an application folder with the demo's content and a play action due at start: from the
// launch to the first frame whose corners show the first slide's background (its text may cover the centre).
// Frames before it that are not black (a white window, say) are counted. The program is ended with SIGTERM
// each time.
void BM_StartUpToFirstSlide(benchmark::State& state)
{
    const int runs = 5;
    std::vector<double> times;
    int cleanExits = 0;
    int flashFrames = 0;
    for (auto _ : state) {
        for (int run = 0; run < runs; ++run) {
            QTemporaryDir app;
            const QString executable = app.filePath("VitrelleCenter");
            QFile::copy(QStringLiteral(VC_EXECUTABLE), executable);
            QFile::setPermissions(executable, QFile::permissions(executable) | QFileDevice::ExeOwner);
            for (const char* folder : {"Templates", "Cache"}) {
                QProcess copy;
                copy.start("cp", {"-r", QStringLiteral(VC_DEMO_FOLDER "/") + folder, app.path()});
                copy.waitForFinished();
            }
            QDir(app.path()).mkpath("Devices");
            WriteFile(app.filePath("Schedule.xml"),
                      "<Schedule><ScheduleAction Source=\"Player Device 1\" Action=\"0\" Periodicity=\"0\" "
                      "Time=\"00:00:00\" Enabled=\"True\"><vitrelleID>welcome</vitrelleID>"
                      "<diapositiveDuration>4</diapositiveDuration></ScheduleAction></Schedule>");
            const QString base = app.path();
            WriteFile(
                app.filePath("VitrelleCenter.xml"),
                QStringLiteral(
                    "<VitrelleCenter><DevicePath>%1/Devices</DevicePath><RepositoryPath>%1/Cache</"
                    "RepositoryPath>"
                    "<TemplatePath>%1/Templates</TemplatePath><VitrelleListFilePath/><TypeFilePath/>"
                    "<HttpSettings><AuthentificationURL/><VitrelleListURL/><VitrelleURL/><MediaURL/><Login/>"
                    "<Password/></HttpSettings><VitrelleAutoUpdate>0</VitrelleAutoUpdate>"
                    "<VitrelleUpdateTime Periodicity=\"3\" Time=\"00:00:00\"/></VitrelleCenter>")
                    .arg(base)
                    .toUtf8());
            QFile::setPermissions(app.filePath("VitrelleCenter.xml"),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner);

            // Read on this thread at the capture's pace, until the slide is seen.
            TScreenSampler sampler(Server->Name(), CoverPoints().mid(0, 4));
            QProcess program;
            program.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
            program.setWorkingDirectory(app.path());
            program.setStandardOutputFile(QProcess::nullDevice());
            program.setStandardErrorFile(app.filePath("VitrelleCenter.log"));
            const auto launched = TClock::now();
            program.start(executable, {});
            const QDeadlineTimer limit(15000);
            auto next = TClock::now();
            while (!limit.hasExpired()) {
                const TScreenSampler::TFrame frame = sampler.Sample();
                const TFrameVerdict verdict = JudgeFrame({DemoFirstSlide}, frame);
                if (verdict.Kind == TFrameVerdict::fvSlide) {
                    times.push_back(std::chrono::duration<double>(frame.Time - launched).count());
                    break;
                }
                // Before the slide, anything but the black of the window is a flash a viewer sees.
                if (std::any_of(frame.Colours.begin(), frame.Colours.end(),
                                [](QRgb colour) { return qGray(colour) > 12; }))
                    ++flashFrames;
                next += FramePeriod;
                std::this_thread::sleep_until(next);
            }
            ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
            if (program.waitForFinished(20000) && program.exitStatus() == QProcess::NormalExit &&
                program.exitCode() == 0)
                ++cleanExits;
            else
                program.kill();
            program.waitForFinished(5000);
        }
        state.SetIterationTime(times.empty() ? 0 : Median(times));
    }
    const double median = Median(times);
    const double worst = times.empty() ? 0 : *std::max_element(times.begin(), times.end());
    state.counters["runs"] = runs;
    state.counters["slide_seen"] = static_cast<double>(times.size());
    state.counters["clean_exits"] = cleanExits;
    state.counters["flash_frames_before_slide"] = flashFrames;
    state.counters["median_s"] = median;
    state.counters["max_s"] = worst;
    state.counters["goal_s"] = 1.5;
    state.counters["median_ratio"] = median / 1.5;
    state.counters["max_ratio"] = worst / 1.5;
    AddSummary("start-up to first slide, median", median, 1.5, "s");
    AddSummary("start-up to first slide, max", worst, 1.5, "s");
    AddSummary("clean exits on SIGTERM (of 5)", cleanExits, runs, "", false);
    AddSummary("non-black frames before the slide", flashFrames, 0, "frames", false);
}
BENCHMARK(BM_StartUpToFirstSlide)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// CPU of the program and its web engine processes while one slide stays on screen (30 s slides, the real
// clock and tick), and of the X server for comparison.
void BM_IdleCost(benchmark::State& state)
{
    const auto window = 5s;
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (auto _ : state) {
        TColourShow show;
        TPlayback playback(show, 1, 1000ms, 30);
        playback.Play();
        if (!ServeUntil([&] { return !playback.Swaps.empty(); }, 20s)) {
            state.SkipWithError("no slide shown");
            break;
        }
        TPlayback::ServeFor(2s); // the first slide settles
        const std::vector<pid_t> program = ProcessTree(getpid(), static_cast<pid_t>(Server->ProcessId()));
        const std::vector<pid_t> display{static_cast<pid_t>(Server->ProcessId())};
        const qint64 programBefore = CpuTicks(program);
        const qint64 displayBefore = CpuTicks(display);
        const auto started = TClock::now();
        TPlayback::ServeFor(window);
        const double seconds = std::chrono::duration<double>(TClock::now() - started).count();
        const double programPercent =
            100.0 * static_cast<double>(CpuTicks(program) - programBefore) / ticksPerSecond / seconds;
        const double displayPercent =
            100.0 * static_cast<double>(CpuTicks(display) - displayBefore) / ticksPerSecond / seconds;
        state.SetIterationTime(seconds);
        state.counters["swaps_in_window"] = static_cast<double>(playback.Swaps.size() - 1);
        state.counters["processes"] = static_cast<double>(program.size());
        state.counters["cpu_percent"] = programPercent;
        state.counters["x_server_cpu_percent"] = displayPercent;
        state.counters["goal_percent"] = 1;
        state.counters["ratio"] = programPercent / 1.0;
        AddSummary("idle CPU, program and web engine", programPercent, 1, "% core");
        AddSummary("idle CPU, X server (not in the goal)", displayPercent, 1, "% core", false);
    }
}
BENCHMARK(BM_IdleCost)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void PrintSummary()
{
    if (Summary.empty())
        return;
    std::printf("\n%-40s %16s %16s %8s\n", "figure", "measured", "goal", "ratio");
    for (const auto& [figure, measured, goal, ratio] : Summary)
        std::printf("%-40s %16s %16s %8s\n", figure.c_str(), measured.c_str(), goal.c_str(), ratio.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    // The display first: the application connects to it when made.
    TXvfbServer server;
    if (!StartBenchDisplay(server, ScreenSize))
        return 1;
    Server = &server;
    {
        QApplication application(argc, argv);
        WebViews = std::make_shared<TWebSlideViewFactory>();
        benchmark::RunSpecifiedBenchmarks();
        WebViews.reset();
    }
    benchmark::Shutdown();
    PrintSummary();
    return 0;
}
