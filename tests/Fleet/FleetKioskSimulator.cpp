// A kiosk with two displays on the fleet's broker, for the fleet page's test: the real node and link, a
// stand-in for the agent that prints every command it gets ("COMMAND <kind> <display>") and carries it out on
// its own state.
//   FleetKioskSimulator <port> <site> <kiosk> [off]     off: display 2 starts switched off
#include "FleetNode.h"
#include "MosquittoLink.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

class TSimulatedKiosk : public IFleetKiosk
{
public:
    explicit TSimulatedKiosk(bool secondOff)
    {
        for (int i = 1; i <= 2; ++i) {
            TFleetDisplayStatus display;
            display.Name = QStringLiteral("Display %1").arg(i);
            display.Output = QStringLiteral("HDMI-%1").arg(i);
            display.PowerOn = !(secondOff && i == 2);
            if (*display.PowerOn) {
                display.VitrelleId = QStringLiteral("welcome");
                display.PlayingSince = display.LastSwap = QDateTime::currentDateTime();
            }
            FDisplays.push_back(display);
        }
    }
    TFleetKioskStatus Status() const override
    {
        return {QStringLiteral("0.1.0"), FStarted, 0, static_cast<int>(FDisplays.size())};
    }
    std::vector<TFleetDisplayStatus> Displays() const override { return FDisplays; }
    void Execute(const TFleetCommand& command, TDone done) override
    {
        static const char* const kinds[] = {"play", "stop", "power", "update", "list"};
        std::printf("COMMAND %s %d\n", kinds[command.Kind], command.Display);
        std::fflush(stdout);
        TFleetDisplayStatus* display =
            command.Display > 0 ? &FDisplays[static_cast<size_t>(command.Display - 1)] : nullptr;
        if (command.Kind == TFleetCommand::Stop && display != nullptr)
            display->VitrelleId.clear();
        if (command.Kind == TFleetCommand::Play && display != nullptr)
            display->VitrelleId = command.VitrelleId;
        if (command.Kind == TFleetCommand::Power)
            for (TFleetDisplayStatus& d : FDisplays)
                if (display == nullptr || &d == display)
                    d.PowerOn = command.On;
        done(true, QStringLiteral("simulated %1").arg(QLatin1String(kinds[command.Kind])));
    }
    QString ScreenshotFile(int) const override { return {}; }

private:
    const QDateTime FStarted = QDateTime::currentDateTime();
    std::vector<TFleetDisplayStatus> FDisplays;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <port> <site> <kiosk> [off]\n", argv[0]);
        return 2;
    }
    TFleetSettings settings;
    settings.Host = QStringLiteral("127.0.0.1");
    settings.Port = QString::fromLocal8Bit(argv[1]).toInt();
    settings.Site = QString::fromLocal8Bit(argv[2]);
    settings.KioskId = QString::fromLocal8Bit(argv[3]);
    TSimulatedKiosk kiosk(argc > 4 && QByteArray(argv[4]) == "off");
    TFleetNodeOptions options;
    options.Site = settings.EffectiveSite();
    options.KioskId = settings.EffectiveKioskId();
    TFleetLinkOptions link = TFleetNode::LinkOptions(settings);
    link.MinBackoff = std::chrono::milliseconds(200);
    TFleetNode node(options, kiosk, CreateMosquittoLink(link));
    return QCoreApplication::exec();
}
