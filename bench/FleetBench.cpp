// N light simulated kiosks against one local Mosquitto: each publishes what a kiosk publishes (its status,
// retained, every 30 s; a play at QoS 1 every 10 s on each of its two displays), time compressed by a factor.
// Collectors subscribed to every kiosk (one, or several on a shared subscription) measure the time from
// publish to arrival. Reported: messages per second through the broker, the broker's CPU and resident memory
// (from /proc), p99 latency.
//   build/bin/FleetBench [--benchmark_filter=...]    VC_FLEET_SECONDS: the measured window (default 60)
#include "ProcessStats.h"

#include <benchmark/benchmark.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

qint64 NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(TClock::now().time_since_epoch()).count();
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool Listening(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Enough descriptors for every kiosk twice over (the broker inherits the limit).
void RaiseDescriptorLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

class TBroker
{
public:
    TBroker() : FPort(FreePort())
    {
        const std::string config = "/tmp/fleetbench-" + std::to_string(::getpid()) + ".conf";
        std::ofstream(config) << (::geteuid() == 0 ? "user root\n" : "")
                              << "persistence false\nlog_type none\n"
                              << "max_keepalive 300\nlistener " << FPort
                              << " 127.0.0.1\nallow_anonymous true\n"
                              << "max_connections -1\nmax_queued_messages 100000\n";
        const char* argv[] = {"/usr/sbin/mosquitto", "-c", config.c_str(), nullptr};
        posix_spawn(&FPid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ);
        for (int i = 0; i < 400 && !Listening(FPort); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~TBroker()
    {
        ::kill(FPid, SIGTERM);
        ::waitpid(FPid, nullptr, 0);
    }
    int Port() const { return FPort; }
    pid_t Pid() const { return FPid; }

private:
    int FPort;
    pid_t FPid = 0;
};

// The collector: every message's latency, from the send time at the head of its payload.
class TCollector
{
public:
    // shared: one of a group on a shared subscription, each message to one of them.
    TCollector(int port, int number, bool shared)
    {
        FMosq = mosquitto_new(("collector" + std::to_string(number)).c_str(), true, this);
        mosquitto_int_option(FMosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_message_callback_set(FMosq, [](mosquitto*, void* self, const mosquitto_message* message) {
            auto* collector = static_cast<TCollector*>(self);
            if (message->payloadlen < 20 || !collector->FMeasuring.load())
                return;
            const qint64 sent = std::strtoll(static_cast<const char*>(message->payload) + 7, nullptr, 10);
            std::lock_guard lock(collector->FMutex);
            collector->FLatenciesNs.push_back(NowNs() - sent);
        });
        mosquitto_connect(FMosq, "127.0.0.1", port, 60);
        mosquitto_subscribe(FMosq, nullptr, shared ? "$share/collectors/vitrelle/v1/#" : "vitrelle/v1/#", 0);
        mosquitto_loop_start(FMosq);
    }
    ~TCollector()
    {
        mosquitto_disconnect(FMosq);
        mosquitto_loop_stop(FMosq, true);
        mosquitto_destroy(FMosq);
    }
    void Measure(bool on) { FMeasuring.store(on); }
    std::vector<qint64> Latencies()
    {
        std::lock_guard lock(FMutex);
        return FLatenciesNs;
    }

private:
    mosquitto* FMosq = nullptr;
    std::atomic<bool> FMeasuring{false};
    std::mutex FMutex;
    std::vector<qint64> FLatenciesNs;
};

struct TKiosk
{
    mosquitto* Mosq = nullptr;
    std::string Base;
    TClock::time_point NextStatus;
    TClock::time_point NextPlay[2];
    long Plays = 0;
};

std::string Payload(const char* kind, const std::string& base, long n)
{
    // The send time first, at a fixed place, for the collector.
    char head[64];
    std::snprintf(head, sizeof head, "{\"t\":\"%019lld\",", static_cast<long long>(NowNs()));
    std::string payload = head;
    payload += "\"kind\":\"";
    payload += kind;
    payload += "\",\"topic\":\"" + base + "\",\"id\":" + std::to_string(n);
    // About the size of a real play or status.
    payload +=
        ",\"display\":\"Lobby\",\"output\":\"HDMI-1\",\"manufacturer\":\"SAM\",\"model\":\"LS32\","
        "\"vitrelle\":\"welcome\",\"vitrelle_name\":\"Welcome\",\"slide\":\"w1\",\"slide_type\":\"Photo\","
        "\"appeared\":\"2026-12-08T09:59:50.000+01:00\",\"duration_ms\":10000,\"ended\":\"next\"}";
    return payload;
}

// One thread's kiosks: poll their sockets, publish what is due, keep the connections alive.
void RunKiosks(std::vector<TKiosk>& kiosks, double compression, const std::atomic<bool>& stop,
               std::atomic<long>& published)
{
    const auto statusPeriod =
        std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(30.0 / compression));
    const auto playPeriod =
        std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(10.0 / compression));
    std::vector<pollfd> fds(kiosks.size());
    while (!stop.load()) {
        const auto now = TClock::now();
        for (TKiosk& k : kiosks) {
            if (now >= k.NextStatus) {
                const std::string payload = Payload("status", k.Base, 0);
                mosquitto_publish(k.Mosq, nullptr, (k.Base + "/status").c_str(),
                                  static_cast<int>(payload.size()), payload.data(), 1, true);
                k.NextStatus += statusPeriod;
                ++published;
            }
            for (int d = 0; d < 2; ++d)
                if (now >= k.NextPlay[d]) {
                    const std::string payload = Payload("play", k.Base, ++k.Plays);
                    mosquitto_publish(k.Mosq, nullptr, (k.Base + "/plays").c_str(),
                                      static_cast<int>(payload.size()), payload.data(), 1, false);
                    k.NextPlay[d] += playPeriod;
                    ++published;
                }
        }
        for (size_t i = 0; i < kiosks.size(); ++i) {
            fds[i].fd = mosquitto_socket(kiosks[i].Mosq);
            fds[i].events = POLLIN | (mosquitto_want_write(kiosks[i].Mosq) ? POLLOUT : 0);
            fds[i].revents = 0;
        }
        ::poll(fds.data(), fds.size(), 5);
        for (size_t i = 0; i < kiosks.size(); ++i) {
            mosquitto* m = kiosks[i].Mosq;
            if (fds[i].revents & POLLIN)
                mosquitto_loop_read(m, 1);
            if (fds[i].revents & POLLOUT)
                mosquitto_loop_write(m, 1);
            mosquitto_loop_misc(m);
        }
    }
}

void BM_Fleet(benchmark::State& state)
{
    const int kiosks = static_cast<int>(state.range(0));
    const double compression = static_cast<double>(state.range(1));
    const char* secondsText = std::getenv("VC_FLEET_SECONDS");
    const int seconds = secondsText != nullptr ? std::atoi(secondsText) : 60;
    RaiseDescriptorLimit();
    mosquitto_lib_init();
    for (auto _ : state) {
        TBroker broker;
        const int collectorCount = static_cast<int>(state.range(2));
        std::vector<std::unique_ptr<TCollector>> collectors;
        for (int c = 0; c < collectorCount; ++c)
            collectors.push_back(std::make_unique<TCollector>(broker.Port(), c, collectorCount > 1));
        constexpr int Threads = 4;
        std::vector<std::vector<TKiosk>> groups(Threads);
        std::mt19937 random(7);
        const auto start = TClock::now() + std::chrono::seconds(1);
        std::uniform_real_distribution<double> offset(0, 1);
        for (int i = 0; i < kiosks; ++i) {
            TKiosk k;
            const std::string id = "kiosk" + std::to_string(i);
            k.Base = "vitrelle/v1/site" + std::to_string(i % 50) + "/" + id;
            k.Mosq = mosquitto_new(id.c_str(), true, nullptr);
            mosquitto_int_option(k.Mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
            const std::string will = "{\"online\":false}";
            mosquitto_will_set(k.Mosq, (k.Base + "/status").c_str(), static_cast<int>(will.size()),
                               will.data(), 1, true);
            if (mosquitto_connect(k.Mosq, "127.0.0.1", broker.Port(), 60) != MOSQ_ERR_SUCCESS) {
                state.SkipWithError("a kiosk cannot connect");
                return;
            }
            // Spread over the periods, as real kiosks started at random moments.
            const auto spread = [&](double period) {
                return start + std::chrono::duration_cast<TClock::duration>(
                                   std::chrono::duration<double>(offset(random) * period / compression));
            };
            k.NextStatus = spread(30);
            k.NextPlay[0] = spread(10);
            k.NextPlay[1] = spread(10);
            groups[static_cast<size_t>(i % Threads)].push_back(std::move(k));
        }
        std::atomic<bool> stop{false};
        std::atomic<long> published{0};
        std::vector<std::thread> threads;
        for (auto& group : groups)
            threads.emplace_back(
                [&group, compression, &stop, &published] { RunKiosks(group, compression, stop, published); });
        // A warm-up period, then the window.
        std::this_thread::sleep_for(std::chrono::seconds(std::max(3, static_cast<int>(30 / compression))));
        const std::vector<pid_t> brokerPids{broker.Pid()};
        const qint64 ticks0 = CpuTicks(brokerPids);
        const long published0 = published.load();
        for (auto& collector : collectors)
            collector->Measure(true);
        const auto t0 = TClock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        for (auto& collector : collectors)
            collector->Measure(false);
        const double elapsed = std::chrono::duration<double>(TClock::now() - t0).count();
        const qint64 ticks1 = CpuTicks(brokerPids);
        const long published1 = published.load();
        const TProcessSample memory = SampleProcesses(brokerPids);
        stop.store(true);
        for (auto& thread : threads)
            thread.join();
        for (auto& group : groups)
            for (TKiosk& k : group) {
                mosquitto_disconnect(k.Mosq);
                mosquitto_destroy(k.Mosq);
            }
        std::vector<qint64> latencies;
        for (auto& collector : collectors) {
            const std::vector<qint64> own = collector->Latencies();
            latencies.insert(latencies.end(), own.begin(), own.end());
        }
        std::sort(latencies.begin(), latencies.end());
        const auto percentile = [&](double p) {
            return latencies.empty()
                       ? 0.0
                       : static_cast<double>(
                             latencies[static_cast<size_t>(p * static_cast<double>(latencies.size() - 1))]) /
                             1e6;
        };
        state.counters["published_per_s"] = static_cast<double>(published1 - published0) / elapsed;
        state.counters["received_per_s"] = static_cast<double>(latencies.size()) / elapsed;
        state.counters["broker_cpu_pct"] = 100.0 * static_cast<double>(ticks1 - ticks0) /
                                           static_cast<double>(::sysconf(_SC_CLK_TCK)) / elapsed;
        state.counters["broker_rss_MiB"] = memory.RssMiB;
        state.counters["p50_ms"] = percentile(0.50);
        state.counters["p99_ms"] = percentile(0.99);
        state.counters["max_ms"] = percentile(1.0);
    }
}

} // namespace

// Kiosks, time compression (10: ten times the real message rate), collectors (more than one: on a shared
// subscription).
BENCHMARK(BM_Fleet)
    ->Args({1000, 1, 1})
    ->Args({5000, 1, 1})
    ->Args({5000, 10, 1})
    ->Args({5000, 10, 4})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
