// A week of the system's life on two displays against a content server that fails 5 % of its requests, hangs
// on 1 % and publishes new content every day: the real agent, its scheduler, players and downloaders.
//   BM_SimulatedWeek  the week in simulated time with fake slide views (about 10,000 slide swaps).
//   BM_RealTimeWeek   the same week in real time with the real web views on a private Xvfb, the wall clock
//                     running fast enough for the week to pass in VC_SOAK_SECONDS (default 3600).
// Each reports the memory, open descriptors and threads of every process of the program at the start, at
// each day's end and at the end, beside the figure at the start as a ratio; and the scheduled actions run
// against those due, with every one lost, run twice or late. A summary table ends the run.
#include "BenchDisplay.h"
#include "ProcessStats.h"
#include "Soak.h"
#include "WebSlideView.h"
#include "XvfbServer.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <malloc.h>
#include <string>
#include <unistd.h>

namespace {

TXvfbServer* Server = nullptr;
std::vector<std::string> Summary;

TProcessSample Sample()
{
    return SampleProcesses(
        ProcessTree(getpid(), Server != nullptr ? static_cast<pid_t>(Server->ProcessId()) : 0));
}

// What this process's allocator holds for live objects: flat when nothing accumulates, whatever the
// allocator keeps of freed memory in the resident figure.
double HeapInUseMiB()
{
    return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

void PrintSample(const char* when, const TProcessSample& sample, qint64 cacheFiles)
{
    std::fprintf(
        stderr,
        "%-12s RSS %8.1f MiB  PSS %8.1f MiB  heap in use %6.1f MiB  %2d processes  %4d descriptors  %4d "
        "threads  %3lld cache files\n",
        when, sample.RssMiB, sample.PssMiB, HeapInUseMiB(), sample.Processes, sample.FileDescriptors,
        sample.Threads, static_cast<long long>(cacheFiles));
}

// Runs the soak, sampling the processes; the figures become the benchmark's counters and summary lines.
void RunSoak(benchmark::State& state, const char* name, TSoak& soak,
             const std::function<void(const std::function<void(int)>&)>& run)
{
    const auto started = std::chrono::steady_clock::now();
    soak.Start();
    const TProcessSample start = Sample();
    const double heapStart = HeapInUseMiB();
    double heapFirstDay = 0;
    PrintSample("start", start, soak.CacheFiles());
    TProcessSample firstDay;
    run([&](int day) {
        const TProcessSample sample = Sample();
        if (day == 0) {
            firstDay = sample;
            heapFirstDay = HeapInUseMiB();
        }
        PrintSample(("day " + std::to_string(day + 1)).c_str(), sample, soak.CacheFiles());
    });
    soak.Finish();
    const TProcessSample end = Sample();
    const double heapEnd = HeapInUseMiB();
    PrintSample("end", end, soak.CacheFiles());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    state.SetIterationTime(seconds);

    const TSoakReport report = soak.Report();
    for (const auto& [kind, tally] : report.ByKind)
        std::fprintf(stderr, "%-14s due %4d  run %4d  lost %d  twice %d  late %d  longest delay %lld s\n",
                     kind.toUtf8().constData(), tally.Due, tally.Run, tally.Lost, tally.Twice, tally.Late,
                     static_cast<long long>(tally.MaxDelaySeconds));
    for (const QString& fault : report.Faults.mid(0, 40))
        std::fprintf(stderr, "fault: %s\n", fault.toUtf8().constData());
    std::fprintf(
        stderr,
        "%lld swaps; updates %d succeeded, %d failed; %d requests, %d failed and %d hung by the server; "
        "%d error and %d warning lines\n",
        static_cast<long long>(report.Swaps), report.UpdatesSucceeded, report.UpdatesFailed, report.Requests,
        report.ServerFailures, report.ServerHangs, report.ErrorLines, report.WarningLines);
    for (const QString& line : report.FirstErrors.mid(0, 5))
        std::fprintf(stderr, "first error lines: %s\n", line.toUtf8().constData());
    std::fprintf(stderr,
                 "play journal: %lld plays (swaps %lld), %lld misses, %lld power commands, updates %lld "
                 "succeeded and %lld failed\n",
                 static_cast<long long>(report.JournalPlays), static_cast<long long>(report.Swaps),
                 static_cast<long long>(report.JournalMisses), static_cast<long long>(report.JournalPowers),
                 static_cast<long long>(report.JournalUpdatesSucceeded),
                 static_cast<long long>(report.JournalUpdatesFailed));

    state.counters["due"] = report.Total.Due;
    state.counters["run"] = report.Total.Run;
    state.counters["lost"] = report.Total.Lost;
    state.counters["twice"] = report.Total.Twice;
    state.counters["late"] = report.Total.Late;
    state.counters["swaps"] = static_cast<double>(report.Swaps);
    state.counters["rss_MiB_start"] = start.RssMiB;
    state.counters["rss_MiB_day1"] = firstDay.RssMiB;
    state.counters["rss_MiB_end"] = end.RssMiB;
    state.counters["rss_ratio"] = end.RssMiB / start.RssMiB;
    state.counters["heap_MiB_start"] = heapStart;
    state.counters["heap_MiB_day1"] = heapFirstDay;
    state.counters["heap_MiB_end"] = heapEnd;
    state.counters["fds_start"] = start.FileDescriptors;
    state.counters["fds_end"] = end.FileDescriptors;
    state.counters["threads_start"] = start.Threads;
    state.counters["threads_end"] = end.Threads;

    char line[512];
    std::snprintf(
        line, sizeof line,
        "%-10s %6.0f s  RSS %.1f -> %.1f MiB (day 1 %.1f; end/start %.2f, end/day 1 %.2f)  PSS %.1f -> "
        "%.1f MiB  heap in use %.1f -> %.1f MiB (day 1 %.1f)  fds %d -> %d  threads %d -> %d  processes "
        "%d -> %d  actions %d/%d due run, lost %d, twice %d, late %d  swaps %lld",
        name, seconds, start.RssMiB, end.RssMiB, firstDay.RssMiB, end.RssMiB / start.RssMiB,
        end.RssMiB / firstDay.RssMiB, start.PssMiB, end.PssMiB, heapStart, heapEnd, heapFirstDay,
        start.FileDescriptors, end.FileDescriptors, start.Threads, end.Threads, start.Processes,
        end.Processes, report.Total.Run, report.Total.Due, report.Total.Lost, report.Total.Twice,
        report.Total.Late, static_cast<long long>(report.Swaps));
    Summary.emplace_back(line);
    if (report.Total.Lost + report.Total.Twice > 0)
        state.SkipWithError("scheduled actions were lost or run twice");
}

void BM_SimulatedWeek(benchmark::State& state)
{
    for (auto _ : state) {
        TSoakOptions options;      // a week, 15-second passes, 5 % failures and 1 % hangs
        options.SlideSeconds = 45; // a whole number of passes
        options.Tolerance = options.Step;
        TSoak soak(options, {QRect(0, 0, 640, 480), QRect(640, 0, 640, 480)});
        RunSoak(state, "simulated", soak,
                [&](const std::function<void(int)>& dayEnded) { soak.RunSimulated(dayEnded); });
    }
}
BENCHMARK(BM_SimulatedWeek)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_RealTimeWeek(benchmark::State& state)
{
    const qint64 seconds =
        qEnvironmentVariableIsSet("VC_SOAK_SECONDS") ? qEnvironmentVariableIntValue("VC_SOAK_SECONDS") : 3600;
    for (auto _ : state) {
        TSoakOptions options;
        options.SlideSeconds = 3;
        // A pass of the schedule every tenth of a second is about 17 s of the week at an hour; an update
        // that waits for a hanging request holds the passes up for a second or two.
        options.Tolerance = std::chrono::minutes(10);
        TSoak soak(options, {QRect(0, 0, 640, 480), QRect(640, 0, 640, 480)},
                   std::make_shared<TWebSlideViewFactory>());
        RunSoak(state, "real time", soak, [&](const std::function<void(int)>& dayEnded) {
            soak.RunRealTime(std::chrono::seconds(seconds), dayEnded);
        });
    }
}
BENCHMARK(BM_RealTimeWeek)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    TXvfbServer server;
    if (!StartBenchDisplay(server, QSize(1280, 480)))
        return 1;
    Server = &server;
    {
        QApplication application(argc, argv);
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    std::printf("\n");
    for (const std::string& line : Summary)
        std::printf("%s\n", line.c_str());
    return 0;
}
