// What a slide that floods the program costs it: one real web slide view on a private Xvfb plays slides whose
// script sets the document's title (or writes console messages) as fast as it can, for 60 s
// (VC_FLOOD_SECONDS); each time the view gives such a page up, the next flooding slide is loaded at once, as
// a show of nothing but such slides would. Reported: the resident memory of the program's own process before
// and after (and its peak), of all its processes at the end, the longest stall of the main thread (a 10 ms
// timer's worst lateness), and how many pages were given up; beside the goals (the program's own memory
// within 64 MiB of where it began, stalls under 100 ms).
#include "BenchDisplay.h"
#include "Log.h"
#include "ProcessStats.h"
#include "WebSlideView.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::shared_ptr<TWebSlideViewFactory> WebViews;

qint64 OwnResidentKiB()
{
    return static_cast<qint64>(SampleProcesses({::getpid()}).RssMiB * 1024);
}

int FloodSeconds()
{
    const int seconds = qEnvironmentVariableIntValue("VC_FLOOD_SECONDS");
    return seconds > 0 ? seconds : 60;
}

void Flood(benchmark::State& state, const char* name, const char* script)
{
    QTemporaryDir folder;
    const QString page = folder.filePath(QStringLiteral("flood.html"));
    QFile file(page);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(
            QStringLiteral("<!DOCTYPE html><html><head><title>start</title></head><body style='background:"
                           " red'><script>%1</script></body></html>")
                .arg(QString::fromUtf8(script))
                .toUtf8()) < 0) {
        state.SkipWithError("cannot write the slide");
        return;
    }
    file.close();

    QWidget window;
    window.setGeometry(0, 0, 640, 480);
    window.show();
    std::unique_ptr<ISlideView> view = WebViews->CreateView(&window);
    view->Widget().setGeometry(window.rect());
    view->Widget().show();
    view->SetAccess({QStringLiteral("Slide flood of vitrelle bench"), {}, {}});
    auto& web = dynamic_cast<TWebSlideView&>(*view);

    // A calm slide first, so that the engine's own start-up is not counted.
    view->Navigate(QUrl::fromLocalFile(folder.filePath(QStringLiteral("missing.html"))));
    ServeUntil([] { return false; }, 2000ms);

    for (auto _ : state) {
        const qint64 before = OwnResidentKiB();
        qint64 peak = before;
        qint64 longestStall = 0;
        int pagesGivenUp = 0;
        const TSlidePage* current = nullptr;
        QElapsedTimer sinceTick;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestStall = std::max(longestStall, sinceTick.restart() - 10);
            peak = std::max(peak, OwnResidentKiB());
            // The view has given the flooding page up: the next flooding slide comes.
            if (&web.Page() != current) {
                if (current != nullptr)
                    ++pagesGivenUp;
                view->Navigate(QUrl::fromLocalFile(page));
                current = &web.Page();
            }
        });
        sinceTick.start();
        ticker.start(10);
        ServeUntil([] { return false; }, std::chrono::seconds(FloodSeconds()));
        ticker.stop();
        // What is still queued is served before the last look.
        ServeUntil([] { return false; }, 1000ms);
        const qint64 after = OwnResidentKiB();
        const TProcessSample all = SampleProcesses(ProcessTree(::getpid()));
        state.counters["own_before_MiB"] = double(before) / 1024;
        state.counters["own_after_MiB"] = double(after) / 1024;
        state.counters["own_peak_MiB"] = double(peak) / 1024;
        state.counters["all_after_MiB"] = all.RssMiB;
        state.counters["longest_stall_ms"] = double(longestStall);
        state.counters["pages_given_up"] = pagesGivenUp;
        std::printf(
            "%s: own process %.0f MiB before, %.0f MiB after (peak %.0f; goal: within 64 MiB), all "
            "processes %.0f MiB; longest main-thread stall %lld ms (goal < 100 ms); %d pages given up "
            "in %d s\n",
            name, double(before) / 1024, double(after) / 1024, double(peak) / 1024, all.RssMiB,
            static_cast<long long>(longestStall), pagesGivenUp, FloodSeconds());
    }
    view.reset();
}

void BM_TitleFlood(benchmark::State& state)
{
    Flood(state, "title flood",
          "function f() { for (var i = 0; i < 1000; ++i) document.title = 't' + Math.random();"
          " setTimeout(f); } f();");
}
BENCHMARK(BM_TitleFlood)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_ConsoleFlood(benchmark::State& state)
{
    Flood(state, "console flood",
          "function f() { for (var i = 0; i < 1000; ++i) console.log('m' + Math.random());"
          " setTimeout(f); } f();");
}
BENCHMARK(BM_ConsoleFlood)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    TXvfbServer server;
    if (!StartBenchDisplay(server, QSize(640, 480)))
        return 1;
    {
        QApplication application(argc, argv);
        // Errors only: the level-2 line of each page given up would fill the output.
        InitializeLog(1);
        WebViews = std::make_shared<TWebSlideViewFactory>();
        benchmark::RunSpecifiedBenchmarks();
        WebViews.reset();
        FinalizeLog();
    }
    benchmark::Shutdown();
    return 0;
}
