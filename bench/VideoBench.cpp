// Video slides as a viewer sees them, on a private Xvfb with the real web views. For 1080p30 H.264 and VP9
// clips of 10 s (made by scripts/make-clip.sh): the frames the engine drops while playing (the page's
// getVideoPlaybackQuality) beside what a bare `ffmpeg -f null` decode of the same clip manages in the same
// time, and the CPU of the program and its engine per second of video. Then a show of alternating video and
// still slides through the real player, the screen read at 60 frames a second: blank, mixed and stale frames,
// video slides whose first frame never showed, the clip's time at the first frame after each swap, and the
// memory of every process of the program early and late; and the memory of the program over 1,000 video
// slides loaded one after the other into one view. A summary table ends the run.
//   build/bin/VideoBench                         everything (VC_VIDEO_SWAPS=N: N slides in the show, 200;
//                                                VC_VIDEO_SLIDES=N: N slides in the memory run, 1,000;
//                                                VC_VIDEO_MEMORY_STILL=1: still pages in it, for comparison)
//   build/bin/VideoBench --benchmark_filter=Decode
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
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using std::chrono::milliseconds;

// The screen, 1920x1080 unless VC_VIDEO_SCREEN=WxH says otherwise.
QSize ScreenSize(1920, 1080);
constexpr int ClipRate = 30;
constexpr int ClipSeconds = 10;
constexpr auto FramePeriod = std::chrono::microseconds(16667); // 60 frames a second
const QString VitrelleId = QStringLiteral("videos");

TXvfbServer* Server = nullptr;
std::shared_ptr<const ISlideViewFactory> WebViews;
QTemporaryDir* ClipFolder = nullptr;

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

bool WriteFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// A 1080p30 clip of ClipSeconds with the frame-number strip, made once per codec.
QString Clip(const QString& codec)
{
    const QString path =
        ClipFolder->filePath(QStringLiteral("clip-%1.%2").arg(codec, codec == "vp9" ? "webm" : "mp4"));
    if (QFileInfo(path).size() > 0)
        return path;
    QProcess maker;
    maker.setProcessChannelMode(QProcess::ForwardedChannels);
    maker.start("bash",
                {VC_MAKE_CLIP_SCRIPT, "--codec", codec, "--seconds", QString::number(ClipSeconds), path});
    if (!maker.waitForFinished(600000) || maker.exitCode() != 0)
        throw std::runtime_error("scripts/make-clip.sh failed");
    return path;
}

// The program: this process and its web engine's, not the X server.
std::vector<pid_t> ProgramProcesses()
{
    return ProcessTree(getpid(), static_cast<pid_t>(Server->ProcessId()));
}

QVariant Evaluate(TWebSlideView& view, const QString& script)
{
    QVariant result;
    bool done = false;
    view.Page().runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    ServeUntil([&] { return done; }, 5s);
    return result;
}

// ---- decoding and playing one clip ----

struct TDecodeRun
{
    int Frames = 0;
    double Seconds = 0;
};

// A bare decode by ffmpeg on this machine, as fast as it goes.
TDecodeRun FfmpegDecode(const QString& clip)
{
    QProcess ffmpeg;
    const auto started = TClock::now();
    ffmpeg.start("ffmpeg", {"-hide_banner", "-nostdin", "-i", clip, "-f", "null", "-"});
    ffmpeg.waitForFinished(600000);
    TDecodeRun run;
    run.Seconds = std::chrono::duration<double>(TClock::now() - started).count();
    const QString output = QString::fromUtf8(ffmpeg.readAllStandardError());
    QRegularExpressionMatchIterator frames = QRegularExpression("frame=\\s*(\\d+)").globalMatch(output);
    while (frames.hasNext())
        run.Frames = frames.next().captured(1).toInt();
    return run;
}

void BM_Decode(benchmark::State& state, const char* codec)
{
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (auto _ : state) {
        const QString clip = Clip(codec);
        const QString page = ClipFolder->filePath(QStringLiteral("play-%1.html").arg(codec));
        WriteFile(page,
                  QStringLiteral("<!DOCTYPE html><html><head><style>html, body { margin: 0; background: "
                                 "black; } video { width: 100vw; height: 100vh; display: block; }"
                                 "</style></head><body><video autoplay src='%1'></video></body></html>")
                      .arg(QFileInfo(clip).fileName())
                      .toUtf8());
        QWidget window;
        window.setWindowFlag(Qt::FramelessWindowHint);
        window.setGeometry(QRect(QPoint(0, 0), ScreenSize));
        window.show();
        std::unique_ptr<ISlideView> created = WebViews->CreateView(&window);
        auto* view = dynamic_cast<TWebSlideView*>(created.get());
        view->Widget().setGeometry(window.rect());
        view->Widget().show();
        bool ready = false;
        view->OnReady = [&] { ready = true; };
        view->Navigate(QUrl::fromLocalFile(page));
        if (!ServeUntil([&] { return ready; }, 60s)) {
            state.SkipWithError("the video slide never became ready");
            break;
        }
        const std::vector<pid_t> program = ProgramProcesses();
        const std::vector<pid_t> display{static_cast<pid_t>(Server->ProcessId())};
        const qint64 programBefore = CpuTicks(program);
        const qint64 displayBefore = CpuTicks(display);
        const auto started = TClock::now();
        view->Start();
        const auto ended = [&] { return Evaluate(*view, "document.querySelector('video').ended").toBool(); };
        ServeUntil(ended, std::chrono::seconds(ClipSeconds * 4));
        const double played = std::chrono::duration<double>(TClock::now() - started).count();
        const double programCpu = static_cast<double>(CpuTicks(program) - programBefore) / ticksPerSecond;
        const double displayCpu = static_cast<double>(CpuTicks(display) - displayBefore) / ticksPerSecond;
        const QJsonArray quality =
            QJsonDocument::fromJson(Evaluate(*view, "var q = document.querySelector('video')"
                                                    ".getVideoPlaybackQuality(); JSON.stringify("
                                                    "[q.totalVideoFrames, q.droppedVideoFrames])")
                                        .toString()
                                        .toUtf8())
                .array();
        created.reset();
        const TDecodeRun bare = FfmpegDecode(clip);

        const double total = quality.at(0).toDouble();
        const double dropped = quality.at(1).toDouble();
        const double shownPerSecond = (total - dropped) / played;
        const double ffmpegPerSecond = bare.Seconds > 0 ? bare.Frames / bare.Seconds : 0;
        // What ffmpeg decodes in the time the engine played, up to the clip's own frames.
        const double ffmpegInSameTime = std::min(ffmpegPerSecond * played, total);
        state.SetIterationTime(played);
        state.counters["played_s"] = played;
        state.counters["frames"] = total;
        state.counters["dropped"] = dropped;
        state.counters["engine_fps"] = shownPerSecond;
        state.counters["ffmpeg_fps"] = ffmpegPerSecond;
        state.counters["shown_vs_ffmpeg"] = ffmpegInSameTime > 0 ? (total - dropped) / ffmpegInSameTime : 0;
        state.counters["cpu_per_video_s"] = programCpu / ClipSeconds;
        state.counters["x_cpu_per_video_s"] = displayCpu / ClipSeconds;
        const std::string name = std::string(codec) + " 1080p30";
        AddSummary(name + ": dropped frames", dropped, 0, "frames", false);
        AddSummary(name + ": shown / ffmpeg frames",
                   ffmpegInSameTime > 0 ? (total - dropped) / ffmpegInSameTime : 0, 1, "");
        AddSummary(name + ": ffmpeg decode speed", ffmpegPerSecond, ClipRate, "fps");
        AddSummary(name + ": CPU per s of video", 100 * programCpu / ClipSeconds, 100, "% core");
        AddSummary(name + ": X server CPU per s", 100 * displayCpu / ClipSeconds, 100, "% core", false);
    }
}
BENCHMARK_CAPTURE(BM_Decode, H264, "h264")->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_Decode, VP9, "vp9")->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// ---- memory over many video slides ----

// One view loads video slides one after the other (each made ready, started and played a moment), as the
// back view of a long show does; the memory of every process of the program after 50 and after all of them.
void BM_VideoMemory(benchmark::State& state)
{
    bool ok = false;
    int slides = qEnvironmentVariableIntValue("VC_VIDEO_SLIDES", &ok);
    if (!ok || slides < 100)
        slides = 1000;
    for (auto _ : state) {
        const QString clip = Clip("h264");
        for (int i = 0; i < 2; ++i)
            WriteFile(ClipFolder->filePath(QStringLiteral("memory%1.html").arg(i)),
                      QStringLiteral("<!DOCTYPE html><html><head><style>html, body { margin: 0; } video { "
                                     "width: 100vw; height: 100vh; display: block; }</style></head><body>"
                                     "%1</body></html>")
                          .arg(qEnvironmentVariableIsSet("VC_VIDEO_MEMORY_STILL")
                                   ? QStringLiteral("<div style='background: teal; height: 100vh'></div>")
                                   : QStringLiteral("<video autoplay src='%1'></video>")
                                         .arg(QFileInfo(clip).fileName()))
                          .toUtf8());
        QWidget window;
        window.setWindowFlag(Qt::FramelessWindowHint);
        window.setGeometry(QRect(QPoint(0, 0), ScreenSize));
        window.show();
        std::unique_ptr<ISlideView> view = WebViews->CreateView(&window);
        view->Widget().setGeometry(window.rect());
        view->Widget().show();
        int ready = 0;
        view->OnReady = [&] { ++ready; };
        TProcessSample early;
        TProcessSample late;
        int failed = 0;
        const auto started = TClock::now();
        for (int slide = 0; slide < slides; ++slide) {
            const int before = ready;
            view->Navigate(
                QUrl::fromLocalFile(ClipFolder->filePath(QStringLiteral("memory%1.html").arg(slide % 2))));
            if (!ServeUntil([&] { return ready > before; }, 20s))
                ++failed;
            view->Start();
            ServeUntil([] { return false; }, 100ms);
            if (slide + 1 == 50)
                early = SampleProcesses(ProgramProcesses());
            if ((slide + 1) % 100 == 0) {
                // Each process apart, to tell the program from its renderer and the engine's other processes.
                QString each;
                for (const pid_t pid : ProgramProcesses())
                    each += QStringLiteral(" %1:%2").arg(
                        QString::number(pid), QString::number(SampleProcesses({pid}).PssMiB, 'f', 1));
                std::fprintf(stderr, "%d video slides: PSS %.1f MiB (pid:MiB%s)\n", slide + 1,
                             SampleProcesses(ProgramProcesses()).PssMiB, qPrintable(each));
            }
        }
        late = SampleProcesses(ProgramProcesses());
        state.SetIterationTime(std::chrono::duration<double>(TClock::now() - started).count());
        state.counters["slides"] = slides;
        state.counters["never_ready"] = failed;
        state.counters["pss_MiB_50"] = early.PssMiB;
        state.counters["pss_MiB_end"] = late.PssMiB;
        state.counters["rss_MiB_50"] = early.RssMiB;
        state.counters["rss_MiB_end"] = late.RssMiB;
        state.counters["processes"] = late.Processes;
        AddSummary("video slides never ready (of " + std::to_string(slides) + ")", failed, 0, "", false);
        AddSummary("PSS after " + std::to_string(slides) + " / after 50 video slides",
                   early.PssMiB > 0 ? late.PssMiB / early.PssMiB : 0, 1.05, "");
    }
}
BENCHMARK(BM_VideoMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// ---- the show of alternating video and still slides ----

int SwapCount()
{
    bool ok = false;
    const int count = qEnvironmentVariableIntValue("VC_VIDEO_SWAPS", &ok);
    return ok && count >= 4 ? count : 200;
}

// Still slides are even positions, each its own colour, none of them grey (the strip's cells are).
QRgb StillColour(int position)
{
    static const QList<QRgb> colours = [] {
        static constexpr int Levels[] = {40, 85, 130, 175, 220, 250};
        QList<QRgb> list;
        for (int r : Levels)
            for (int g : Levels)
                for (int b : Levels)
                    if (std::max({r, g, b}) - std::min({r, g, b}) >= 60)
                        list << qRgb(r, g, b);
        return list;
    }();
    return colours[position / 2 % colours.size()];
}

class TVideoShow
{
public:
    explicit TVideoShow(int slides)
    {
        const QString templates = Folder.filePath("Templates");
        const QString cache = Folder.filePath("Cache");
        QDir().mkpath(templates);
        QDir().mkpath(cache);
        QFile::copy(Clip("h264"), cache + "/clip.mp4");
        WriteFile(templates + "/Types.xml", "<DiapositiveTypes><DiapositiveType><Name>Solid</Name>"
                                            "</DiapositiveType><DiapositiveType><Name>Video</Name>"
                                            "</DiapositiveType></DiapositiveTypes>");
        QFile::copy(QStringLiteral(VC_SOLID_SLIDE_DIR "/Solid.xsl"), templates + "/Solid.xsl");
        WriteFile(
            templates + "/Video.xsl",
            QStringLiteral(
                "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                "<xsl:output method=\"html\" encoding=\"UTF-8\"/><xsl:template match=\"/\">"
                "<html><head><meta charset=\"utf-8\"/><style>html, body { margin: 0; background: black; }"
                " video { width: 100vw; height: 100vh; display: block; object-fit: fill; }</style>"
                "</head><body><video autoplay=\"autoplay\" src=\"%1/clip.mp4\"></video></body></html>"
                "</xsl:template></xsl:stylesheet>")
                .arg(cache)
                .toUtf8());
        WriteFile(cache + "/VitrelleList.xml",
                  "<Vitrelles><Vitrelle id=\"" + VitrelleId.toUtf8() + "\" name=\"Videos\"/></Vitrelles>");
        QByteArray vitrelle = "<Vitrelle name=\"Videos\">";
        for (int i = 0; i < slides; ++i)
            vitrelle += i % 2 == 0
                            ? QStringLiteral("<Diapositive id=\"p%1\" type=\"Solid\"><Colour>#%2</Colour>"
                                             "</Diapositive>")
                                  .arg(QString::number(i),
                                       QString::number(StillColour(i) & 0xffffff, 16).rightJustified(6, '0'))
                                  .toUtf8()
                            : QStringLiteral("<Diapositive id=\"p%1\" type=\"Video\"/>").arg(i).toUtf8();
        WriteFile(cache + "/" + VitrelleId + ".xml", vitrelle + "</Vitrelle>");

        Opened = std::make_unique<TBenchRepository>(Folder.path(), templates, cache);
        Repository = Opened->Repository.get();
    }

    QTemporaryDir Folder;
    std::unique_ptr<TBenchRepository> Opened;
    TVitrelleRepository* Repository = nullptr;
};

// The 16 cells of the clip's frame-number strip, then corners and centre.
QList<QPoint> SamplePoints()
{
    QList<QPoint> points;
    const int cellHeight = ScreenSize.height() / 16;
    for (int bit = 0; bit < 16; ++bit)
        points << QPoint((2 * bit + 1) * ScreenSize.width() / 32, cellHeight / 2);
    const int right = ScreenSize.width() - 5;
    const int bottom = ScreenSize.height() - 5;
    points << QPoint(4, bottom) << QPoint(right, bottom)
           << QPoint(ScreenSize.width() / 2, ScreenSize.height() / 2);
    return points;
}

struct TVerdict
{
    enum TKind
    {
        Blank,
        Mixed,
        Still,
        Video,
    } Kind = Blank;
    int Value = -1; // Still: its position in the show; Video: the clip's frame number
};

TVerdict Judge(const QList<QRgb>& colours, int slides)
{
    const auto grey = [](QRgb c) {
        return std::max({qRed(c), qGreen(c), qBlue(c)}) - std::min({qRed(c), qGreen(c), qBlue(c)}) < 40;
    };
    int frame = 0;
    bool code = true;
    bool black = true;
    for (int bit = 0; bit < 16; ++bit) {
        const QRgb c = colours[bit];
        const int level = qGray(c);
        black = black && level < 25;
        if (!grey(c) || level < 30)
            code = false;
        else if (level > 170)
            frame |= 1 << bit;
        else if (level > 120)
            code = false;
    }
    if (code)
        return {TVerdict::Video, frame};
    if (black)
        return {TVerdict::Blank, -1};
    for (int position = 0; position < slides; position += 2) {
        const QRgb expected = StillColour(position);
        const bool all = std::all_of(colours.begin(), colours.end(), [&](QRgb c) {
            return std::abs(qRed(c) - qRed(expected)) < 12 && std::abs(qGreen(c) - qGreen(expected)) < 12 &&
                   std::abs(qBlue(c) - qBlue(expected)) < 12;
        });
        if (all)
            return {TVerdict::Still, position};
    }
    return {TVerdict::Mixed, -1};
}

struct TSwap
{
    int Slide = -1;
    TClock::time_point Time;
};

class TShowPlayback
{
public:
    TShowPlayback(TVideoShow& show, qint32 slideSeconds)
    {
        TPlayerServices services;
        services.SlideViews = std::make_shared<TWatchedViewFactory>(WebViews);
        services.ScreenSaver = std::make_shared<TFakeScreenSaver>();
        services.Tick = 50ms;
        Player = std::make_unique<TVitrellePlayer>(nullptr, *show.Repository, services);
        Player->Form().SetMonitor(
            TDesktopMonitor{QStringLiteral("screen"), QRect(QPoint(0, 0), ScreenSize), {}, true});
        Player->Form().SetFullScreen(true);
        Player->Form().SetOnSlideShown([this] {
            const auto* front = dynamic_cast<const TWatchedView*>(Player->Form().SlideStack().Front());
            bool ok = false;
            const int position = front != nullptr ? front->SlideId().mid(1).toInt(&ok) : -1;
            Swaps.push_back({ok ? position : -1, TClock::now()});
        });
        Player->SetSlideDuration(slideSeconds);
    }
    ~TShowPlayback()
    {
        Player->StopPlaying(true);
        ServeUntil([this] { return Player->State() != psPlaying; }, 10s);
    }

    std::unique_ptr<TVitrellePlayer> Player;
    std::vector<TSwap> Swaps;
};

void BM_VideoSwapQuality(benchmark::State& state)
{
    const int slides = SwapCount();
    for (auto _ : state) {
        TVideoShow show(slides);
        std::vector<TScreenSampler::TFrame> frames;
        std::vector<TSwap> swaps;
        TProcessSample early;
        TProcessSample late;
        const auto started = TClock::now();
        {
            bool secondsGiven = false;
            const int seconds = qEnvironmentVariableIntValue("VC_VIDEO_SLIDE_SECONDS", &secondsGiven);
            TShowPlayback playback(show, secondsGiven && seconds > 0 ? seconds : 2);
            TScreenSampler sampler(Server->Name(), SamplePoints());
            sampler.Start(FramePeriod);
            if (!playback.Player->Play(VitrelleId))
                throw std::runtime_error("the video show does not play");
            const auto passed = [&] {
                const std::vector<TSwap>& s = playback.Swaps;
                return !s.empty() && (s.back().Slide == slides - 1 ||
                                      (s.size() > 1 && s.back().Slide < s[s.size() - 2].Slide));
            };
            ServeUntil([&] { return playback.Swaps.size() >= 20; }, std::chrono::seconds(slides * 10));
            early = SampleProcesses(ProgramProcesses());
            ServeUntil(passed, std::chrono::seconds(slides * 10));
            late = SampleProcesses(ProgramProcesses());
            ServeUntil([] { return false; }, 300ms);
            frames = sampler.Stop();
            swaps = playback.Swaps;
        }
        state.SetIterationTime(std::chrono::duration<double>(TClock::now() - started).count());
        if (swaps.size() > 1 && swaps.back().Slide < swaps[swaps.size() - 2].Slide) {
            const auto cut = swaps.back().Time;
            swaps.pop_back();
            std::erase_if(frames, [&](const TScreenSampler::TFrame& frame) { return frame.Time >= cut; });
        }

        // Each frame belongs to the last swap before it. Until the new slide shows, frames of the one before
        // are the swap's latency; once it has shown, they are stale.
        // A video slide that follows another (the still between was skipped) looks like it: its first frame
        // is not judged.
        int blank = 0, mixed = 0, stale = 0, videoSwaps = 0, firstFrameMissing = 0, neverSeen = 0;
        int videoAfterVideo = 0;
        int blankBeforeSeen = 0; // blank frames between a swap and the first frame of its slide
        std::vector<double> clipTimes;
        std::vector<double> latencies;
        size_t swap = 0;
        bool seen = false;
        for (const TScreenSampler::TFrame& frame : frames) {
            while (swap + 1 < swaps.size() && swaps[swap + 1].Time <= frame.Time) {
                neverSeen += seen ? 0 : 1;
                ++swap;
                seen = false;
            }
            if (swaps.empty() || frame.Time < swaps[0].Time)
                continue;
            const int position = swaps[swap].Slide;
            const TVerdict verdict = Judge(frame.Colours, slides);
            if (verdict.Kind == TVerdict::Blank) {
                ++blank;
                blankBeforeSeen += seen ? 0 : 1;
                continue;
            }
            if (verdict.Kind == TVerdict::Mixed) {
                ++mixed;
                continue;
            }
            const bool isVideo = verdict.Kind == TVerdict::Video;
            const bool current = isVideo ? position % 2 == 1 : verdict.Value == position;
            if (!current) {
                stale += seen ? 1 : 0;
                continue;
            }
            if (!seen) {
                seen = true;
                latencies.push_back(
                    std::chrono::duration<double, std::milli>(frame.Time - swaps[swap].Time).count());
                if (isVideo && swap > 0 && swaps[swap - 1].Slide % 2 == 1) {
                    ++videoAfterVideo;
                } else if (isVideo) {
                    ++videoSwaps;
                    clipTimes.push_back(verdict.Value * 1000.0 / ClipRate);
                    firstFrameMissing += verdict.Value > 0 ? 1 : 0;
                }
            }
        }
        neverSeen += seen ? 0 : 1;
        std::sort(clipTimes.begin(), clipTimes.end());
        std::sort(latencies.begin(), latencies.end());
        const auto median = [](const std::vector<double>& v) { return v.empty() ? 0.0 : v[v.size() / 2]; };
        const double worstClip = clipTimes.empty() ? 0 : clipTimes.back();
        const double frameMs = 1000.0 / ClipRate;
        state.counters["slides"] = slides;
        state.counters["swaps"] = static_cast<double>(swaps.size());
        state.counters["video_swaps_seen"] = videoSwaps;
        state.counters["video_after_video_not_judged"] = videoAfterVideo;
        state.counters["frames"] = static_cast<double>(frames.size());
        state.counters["blank"] = blank;
        state.counters["blank_before_slide_seen"] = blankBeforeSeen;
        state.counters["mixed"] = mixed;
        state.counters["stale"] = stale;
        state.counters["first_frame_missing"] = firstFrameMissing;
        state.counters["swaps_never_seen"] = neverSeen;
        state.counters["clip_ms_at_first_frame_median"] = median(clipTimes);
        state.counters["clip_ms_at_first_frame_max"] = worstClip;
        state.counters["swap_to_screen_ms_median"] = median(latencies);
        state.counters["rss_MiB_20"] = early.RssMiB;
        state.counters["rss_MiB_end"] = late.RssMiB;
        state.counters["pss_MiB_20"] = early.PssMiB;
        state.counters["pss_MiB_end"] = late.PssMiB;
        state.counters["processes"] = late.Processes;
        AddSummary("show: swaps shown (of " + std::to_string(slides) + ")", static_cast<double>(swaps.size()),
                   slides, "", false);
        AddSummary("show: blank frames", blank, 0, "frames", false);
        AddSummary("show: mixed frames", mixed, 0, "frames", false);
        AddSummary("show: stale frames", stale, 0, "frames", false);
        AddSummary("show: first frame missing (video swaps)", firstFrameMissing, 0, "swaps", false);
        AddSummary("show: clip time at first frame, median", median(clipTimes) / frameMs, 1, "frames");
        AddSummary("show: clip time at first frame, max", worstClip / frameMs, 1, "frames");
        AddSummary("show: swap to screen, median", median(latencies) / (1000.0 / 60), 2, "60 Hz frames");
        AddSummary("show: PSS at the end / after 20 swaps", early.PssMiB > 0 ? late.PssMiB / early.PssMiB : 0,
                   1.05, "");
    }
}
BENCHMARK(BM_VideoSwapQuality)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void PrintSummary()
{
    if (Summary.empty())
        return;
    std::printf("\n%-44s %16s %16s %8s\n", "figure", "measured", "goal", "ratio");
    for (const auto& [figure, measured, goal, ratio] : Summary)
        std::printf("%-44s %16s %16s %8s\n", figure.c_str(), measured.c_str(), goal.c_str(), ratio.c_str());
    // The engine decodes in software unless VA-API is switched on (README) and the machine has a GPU.
    std::printf("hardware decoding (VA-API): %s\n",
                QFileInfo::exists("/dev/dri/renderD128")
                    ? "a render node is present; run with the flags of the "
                      "README to compare"
                    : "not measurable here (no GPU render node)");
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const QStringList screen = qEnvironmentVariable("VC_VIDEO_SCREEN").split('x');
    if (screen.size() == 2 && screen[0].toInt() > 0 && screen[1].toInt() > 0)
        ScreenSize = QSize(screen[0].toInt(), screen[1].toInt());
    TXvfbServer server;
    if (!StartBenchDisplay(server, ScreenSize))
        return 1;
    Server = &server;
    QTemporaryDir clips;
    ClipFolder = &clips;
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
