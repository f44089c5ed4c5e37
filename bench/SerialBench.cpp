// How long one serial exchange blocks the main thread when the display stays silent, with the time-outs a
// settings file gets by default (250 ms + 20 ms per character received). The display is a pseudo-terminal
// whose far end never answers.
#include "DeviceControl.h"
#include "QtSerialLine.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

void SilentDisplayExchange(benchmark::State& state)
{
    int controller = -1;
    int terminal = -1;
    char name[256] = {};
    if (openpty(&controller, &terminal, name, nullptr, nullptr) != 0) {
        state.SkipWithError("openpty failed");
        return;
    }
    termios raw{};
    tcgetattr(terminal, &raw);
    cfmakeraw(&raw);
    tcsetattr(terminal, TCSANOW, &raw);
    fcntl(controller, F_SETFL, fcntl(controller, F_GETFL) | O_NONBLOCK);

    TDeviceControlSettings settings;
    settings.ComSettings.Port = QString::fromLocal8Bit(name);
    settings.ComSettings.TimeOutConstant = TComSettings::DefaultTimeOutConstant;
    settings.ComSettings.TimeOutPerChar = TComSettings::DefaultTimeOutPerChar;
    settings.PowerOn = QStringLiteral("ka 01 01#13");
    settings.PowerOnOK = QStringLiteral("a 01 OK01x");
    TDeviceControl control(&settings, std::make_shared<TQtSerialPortFactory>());

    char sink[256];
    for (auto _ : state) {
        benchmark::DoNotOptimize(control.PowerOn());
        state.PauseTiming();
        while (read(controller, sink, sizeof sink) > 0) {
        }
        state.ResumeTiming();
    }
    close(controller);
    close(terminal);
}
BENCHMARK(SilentDisplayExchange)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

} // namespace

// The exchange runs on the main thread of an application, as in the program.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
