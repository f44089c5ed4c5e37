// Fetching 200 media files of 100 KiB from the local test content server through a vitrelle downloader's
// media worker, against the same 200 files fetched by a bare libcurl loop on one reused handle (into plain
// files, and into files made durable the way the downloader makes them); and the peak memory while the worker
// fetches one 2 GiB file.
//
// --disk_load=busy keeps the disk busy meanwhile, as a "dd bs=1M conv=fdatasync" loop beside the program
// would: 1 MiB blocks written to a file in the temporary folder and flushed every 8 MiB. Compare the runs
// with
//   RepositoryBench --benchmark_filter=200x --benchmark_repetitions=9 --benchmark_enable_random_interleaving
//   --benchmark_report_aggregates_only [--disk_load=busy]
#include "DiapositiveType.h"
#include "Log.h"
#include "PeakMemory.h"
#include "TestContentServer.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleDownloader.h"
#include "VitrelleRepository.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

constexpr int MediaCount = 200;
constexpr qint64 MediaSize = 100 * 1024;
constexpr qint64 LargeSize = 2LL * 1024 * 1024 * 1024;

QString MediaName(int index)
{
    return QStringLiteral("m%1.bin").arg(index, 3, 10, QLatin1Char('0'));
}

void WriteFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

void WaitForMedia(const TVitrelleDownloader& downloader)
{
    while (downloader.Downloading()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(1);
    }
}

// The server with the 200 media files and a 2 GiB one, an application folder whose cache holds the list and
// two vitrelles (200 slides with one medium each; one slide with the large file), and the repository.
class TOnline : public INetworkStatus
{
public:
    bool IsConnectedToInternet() const override { return true; }
};

struct TFixture
{
    TFixture()
    {
        QByteArray body(MediaSize, '\0');
        for (qint64 i = 0; i < MediaSize; ++i)
            body[i] = TTestContentServer::GeneratedByte(i);
        QByteArray slides;
        for (int i = 0; i < MediaCount; ++i) {
            Server.SetFile("/media/" + MediaName(i), body);
            slides += "<Diapositive id=\"s" + QByteArray::number(i) + "\" type=\"Bench\"><image id=\"" +
                      MediaName(i).toUtf8() + "\"/></Diapositive>";
        }
        Server.SetGenerated("/media/large.bin", LargeSize);
        Settings = std::make_unique<TVitrelleCenterSettings>(App.path());
        Server.Configure(Settings->HttpSettings());
        WriteFile(App.filePath("Templates/Types.xml"),
                  "<DiapositiveTypes><DiapositiveType><Name>Bench</Name><MediaURL>" +
                      Server.BaseUrl().toUtf8() +
                      "/media/%s</MediaURL><MediaDir>img</MediaDir></DiapositiveType></DiapositiveTypes>");
        if (!TDiapositiveType::LoadTypes(App.filePath("Templates/Types.xml")))
            qFatal("cannot load the types");
        WriteFile(App.filePath("Cache/VitrelleList.xml"),
                  "<Vitrelles><Vitrelle id=\"many\"/><Vitrelle id=\"large\"/></Vitrelles>");
        WriteFile(App.filePath("Cache/many.xml"), "<Vitrelle name=\"Many\">" + slides + "</Vitrelle>");
        WriteFile(App.filePath("Cache/large.xml"),
                  "<Vitrelle name=\"Large\"><Diapositive id=\"l\" type=\"Bench\"><image id=\"large.bin\"/>"
                  "</Diapositive></Vitrelle>");
        // The program's own HTTP clients; the bench machine is taken to be online.
        Repository = std::make_unique<TVitrelleRepository>(
            *Settings, TRepositoryServices{nullptr, std::make_shared<TOnline>(),
                                           std::make_shared<THttpDownloaderFactory>(THttpOptions{
                                               THttpTimeouts{}, std::make_shared<TSystemClock>()}),
                                           std::make_shared<TSystemClock>()});
        if (Repository->LoadList() == nullptr)
            qFatal("cannot load the list");
    }
    ~TFixture()
    {
        Repository.reset();
        TDiapositiveType::FreeTypes();
    }

    void RemoveMedia() const { QDir(App.filePath("Cache/Bench/img")).removeRecursively(); }

    TTestContentServer Server;
    QTemporaryDir App;
    std::unique_ptr<TVitrelleCenterSettings> Settings;
    std::unique_ptr<TVitrelleRepository> Repository;
};

TFixture& Fixture()
{
    static TFixture fixture;
    return fixture;
}

void BM_MediaWorker200x100KiB(benchmark::State& state)
{
    TFixture& fixture = Fixture();
    TVitrelleDownloader* downloader = fixture.Repository->GetDownloader("many");
    for (auto _ : state) {
        state.PauseTiming();
        fixture.RemoveMedia();
        state.ResumeTiming();
        if (!downloader->Load())
            state.SkipWithError("the vitrelle does not load");
        WaitForMedia(*downloader);
    }
    state.SetBytesProcessed(state.iterations() * MediaCount * MediaSize);
}
BENCHMARK(BM_MediaWorker200x100KiB)->Unit(benchmark::kMillisecond)->UseRealTime();

size_t WriteToFile(char* data, size_t size, size_t count, void* file)
{
    return std::fwrite(data, size, count, static_cast<FILE*>(file));
}

// One handle, logged in once, fetching the 200 files in a loop. durable: each body goes to a temporary file
// that is flushed to disk and renamed, one file at a time.
void BareCurlLoop(benchmark::State& state, bool durable)
{
    TFixture& fixture = Fixture();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteToFile);
    FILE* sink = std::fopen("/dev/null", "wb");
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, sink);
    const std::string base = fixture.Server.BaseUrl().toStdString();
    curl_easy_setopt(curl, CURLOPT_URL, (base + "/login?user=operator&password=secret").c_str());
    curl_easy_perform(curl);
    std::fclose(sink);
    const QString folder = fixture.App.filePath("bare");
    QDir().mkpath(folder);
    for (auto _ : state) {
        for (int i = 0; i < MediaCount; ++i) {
            const std::string target = QString(folder + "/" + MediaName(i)).toStdString();
            const std::string written = durable ? target + ".tmp" : target;
            FILE* file = std::fopen(written.c_str(), "wb");
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
            curl_easy_setopt(curl, CURLOPT_URL, (base + "/media/" + MediaName(i).toStdString()).c_str());
            if (curl_easy_perform(curl) != CURLE_OK)
                state.SkipWithError("transfer failed");
            if (durable) {
                std::fflush(file);
                ::fsync(::fileno(file));
            }
            std::fclose(file);
            if (durable) {
                std::rename(written.c_str(), target.c_str());
                const int dir = ::open(folder.toUtf8().constData(), O_RDONLY | O_DIRECTORY);
                ::fsync(dir);
                ::close(dir);
            }
        }
    }
    curl_easy_cleanup(curl);
    state.SetBytesProcessed(state.iterations() * MediaCount * MediaSize);
}

void BM_BareCurl200x100KiB(benchmark::State& state)
{
    BareCurlLoop(state, false);
}
BENCHMARK(BM_BareCurl200x100KiB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BareCurlDurable200x100KiB(benchmark::State& state)
{
    BareCurlLoop(state, true);
}
BENCHMARK(BM_BareCurlDurable200x100KiB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MediaWorkerOne2GiBFile(benchmark::State& state)
{
    TFixture& fixture = Fixture();
    TVitrelleDownloader* downloader = fixture.Repository->GetDownloader("large");
    qint64 growth = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fixture.RemoveMedia();
        ResetPeakMemory();
        const qint64 before = PeakMemoryKiB();
        state.ResumeTiming();
        if (!downloader->Load())
            state.SkipWithError("the vitrelle does not load");
        WaitForMedia(*downloader);
        growth = std::max(growth, PeakMemoryKiB() - before);
        if (QFileInfo(fixture.App.filePath("Cache/Bench/img/large.bin")).size() != LargeSize)
            state.SkipWithError("the large file did not arrive whole");
    }
    state.counters["peak_growth_MiB"] = static_cast<double>(growth) / 1024.0;
    state.counters["peak_rss_MiB"] = static_cast<double>(PeakMemoryKiB()) / 1024.0;
    state.SetBytesProcessed(state.iterations() * LargeSize);
    fixture.RemoveMedia();
}
BENCHMARK(BM_MediaWorkerOne2GiBFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Writes and flushes beside the benchmark, on the same file system, until destroyed.
class TDiskLoad
{
public:
    TDiskLoad() : FThread([this] { Run(); }) {}
    ~TDiskLoad()
    {
        FStop = true;
        FThread.join();
    }

private:
    void Run()
    {
        const QByteArray path = QFile::encodeName(FFolder.filePath("load.bin"));
        const QByteArray block(1024 * 1024, 'x');
        while (!FStop) {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd < 0)
                qFatal("cannot write the load file");
            for (int i = 0; i < 256 && !FStop; ++i) {
                if (::write(fd, block.constData(), static_cast<size_t>(block.size())) != block.size())
                    qFatal("cannot write the load file");
                if (i % 8 == 7)
                    ::fdatasync(fd);
            }
            ::close(fd);
        }
    }

    QTemporaryDir FFolder;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    InitializeLog(1); // errors only: the information lines of every load would dominate the run
    bool busy = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--disk_load=busy") == 0)
            busy = true;
        else if (std::strcmp(argv[i], "--disk_load=quiet") != 0)
            argv[kept++] = argv[i];
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::AddCustomContext("disk_load", busy ? "busy" : "quiet");
    std::unique_ptr<TDiskLoad> load = busy ? std::make_unique<TDiskLoad>() : nullptr;
    benchmark::RunSpecifiedBenchmarks();
    load.reset();
    benchmark::Shutdown();
    FinalizeLog();
    return 0;
}
