#include "FleetService.h"

#include "Errors.h"
#include "FleetNode.h"
#include "Log.h"
#include "MosquittoLink.h"
#include "PlayRecording.h"
#include "ScreenPicture.h"
#include "VitrelleCenterAgent.h"
#include "VitrelleDownloader.h"
#include "WorkQueue.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QTimer>

#include <mutex>

#ifndef VC_VERSION
#define VC_VERSION ""
#endif

namespace {

constexpr QLatin1StringView LogSource{"TFleetService"};

// Hands every record on, and keeps the moment of each display's last swap (a slide that left for the next).
class TSwapTap : public IPlayRecorder
{
public:
    explicit TSwapTap(std::shared_ptr<IPlayRecorder> next) : FNext(std::move(next)) {}
    void Record(TJournalRecord record) override
    {
        if (const auto* play = std::get_if<TPlayRecord>(&record);
            play != nullptr && play->Ended == QLatin1String("next")) {
            std::lock_guard lock(FMutex);
            FLastSwap[play->Display.Name] = play->Appeared.addMSecs(play->DurationMs);
        }
        if (FNext)
            FNext->Record(std::move(record));
    }
    QDateTime LastSwap(const QString& display) const
    {
        std::lock_guard lock(FMutex);
        return FLastSwap.value(display);
    }

private:
    const std::shared_ptr<IPlayRecorder> FNext;
    mutable std::mutex FMutex;
    QHash<QString, QDateTime> FLastSwap;
};

// The kiosk as the fleet sees it, over the agent.
class TAgentKiosk : public IFleetKiosk
{
public:
    TAgentKiosk(TVitrelleCenterAgent& agent, const QString& applicationFolder, const QString& journalPath,
                std::shared_ptr<TSwapTap> tap)
        : FAgent(agent), FScreens(QDir(applicationFolder).filePath(QStringLiteral("Screens"))),
          FStarted(QDateTime::currentDateTime()), FRestarts(TPlayRecording::CrashRestarts(journalPath)),
          FTap(std::move(tap)), FWork(std::make_unique<TWorkQueue>(QStringLiteral("Fleet commands")))
    {
    }

    TFleetKioskStatus Status() const override
    {
        return {QStringLiteral(VC_VERSION), FStarted, FRestarts, FAgent.DeviceCount()};
    }

    std::vector<TFleetDisplayStatus> Displays() const override
    {
        std::vector<TFleetDisplayStatus> displays;
        for (int i = 0; i < FAgent.DeviceCount(); ++i) {
            TVitrelleDevice& device = FAgent.Devices(i);
            TFleetDisplayStatus d;
            d.Name = device.GetDisplayName();
            d.Output = device.Monitor ? device.Monitor->Name : QString();
            d.Manufacturer = device.Info().GetManufacturer();
            d.Model = device.Info().GetModel();
            d.Serial = device.Info().GetSerial();
            if (const auto last = device.LastPowerCommand()) {
                d.LastCommandOn = last->On;
                d.LastCommandTime = last->Time;
                d.LastCommandSucceeded = last->Succeeded;
                d.LastCommandError = last->Error;
                if (last->Succeeded)
                    d.PowerOn = last->On;
            }
            if (i < FAgent.PlayerCount()) {
                const TVitrellePlayer& player = FAgent.Players(i);
                if (player.State() == psPlaying && player.Vitrelle() != nullptr) {
                    d.VitrelleId = player.Vitrelle()->Id;
                    d.SlideId = player.SlideOnScreen();
                    auto& since = FPlayingSince[d.Name];
                    if (since.first != d.VitrelleId)
                        since = {d.VitrelleId, QDateTime::currentDateTime()};
                    d.PlayingSince = since.second;
                    if (TVitrelleDownloader* downloader = FAgent.Repository().GetDownloader(d.VitrelleId);
                        downloader != nullptr && downloader->LastUpdate().Succeeded)
                        d.LastUpdate = downloader->LastUpdate().Time;
                } else {
                    FPlayingSince.remove(d.Name);
                }
            }
            d.LastSwap = FTap->LastSwap(d.Name);
            d.LastScreenshot = QFileInfo(TScreenPicture::FileOf(FScreens, d.Name)).lastModified();
            displays.push_back(std::move(d));
        }
        return displays;
    }

    void Execute(const TFleetCommand& command, TDone done) override
    {
        const int index = command.Display - 1;
        if (command.Kind != TFleetCommand::Power && index >= FAgent.PlayerCount() && command.Display > 0) {
            done(false, QStringLiteral("Display %1 has no player").arg(command.Display));
            return;
        }
        switch (command.Kind) {
        case TFleetCommand::Play:
            // A playing display is stopped first; its clock ends on its worker, the play follows then.
            if (FAgent.Players(index).State() == psPlaying)
                FAgent.StopPlayer(index);
            PlayWhenStopped(command, std::move(done), PlayWaitTries);
            return;
        case TFleetCommand::Stop:
            FAgent.StopPlayer(index);
            done(true, QStringLiteral("Display %1 stopped").arg(command.Display));
            return;
        case TFleetCommand::Power:
            Power(command, std::move(done));
            return;
        case TFleetCommand::Update:
            Update(command.VitrelleId, std::move(done));
            return;
        case TFleetCommand::DownloadList:
            DownloadList(std::move(done));
            return;
        }
    }

    QString ScreenshotFile(int display) const override
    {
        if (display < 1 || display > FAgent.DeviceCount())
            return {};
        return TScreenPicture::FileOf(FScreens, FAgent.Devices(display - 1).GetDisplayName());
    }

private:
    // How long a play waits for the display's show to end: tries, one every PlayWaitStep.
    static constexpr int PlayWaitTries = 100;
    static constexpr std::chrono::milliseconds PlayWaitStep{100};

    void PlayWhenStopped(const TFleetCommand& command, TDone done, int triesLeft)
    {
        const int index = command.Display - 1;
        const QString number = QString::number(command.Display);
        if (index >= FAgent.PlayerCount()) {
            done(false, QStringLiteral("Display %1 has gone").arg(number));
            return;
        }
        if (FAgent.Players(index).State() == psPlaying) {
            if (triesLeft == 0) {
                done(false, QStringLiteral("Display %1 did not stop its show").arg(number));
                return;
            }
            QTimer::singleShot(PlayWaitStep, &FContext, [this, command, done, triesLeft] {
                PlayWhenStopped(command, done, triesLeft - 1);
            });
            return;
        }
        const qint32 seconds =
            command.SlideSeconds > 0 ? command.SlideSeconds : TVitrellePlayer::DefaultSlideSeconds;
        bool played = false;
        try {
            played = FAgent.PlayVitrelle(command.VitrelleId, index, seconds);
        } catch (const EVitrelleError& error) {
            done(false, error.Message());
            return;
        }
        done(played, played ? QStringLiteral("Display %1 plays %2").arg(number, command.VitrelleId)
                            : QStringLiteral("Display %1 cannot play %2").arg(number, command.VitrelleId));
    }

    void Power(const TFleetCommand& command, TDone done)
    {
        std::vector<TVitrelleDevice*> devices;
        for (int i = 0; i < FAgent.DeviceCount(); ++i)
            if (command.Display == 0 || i == command.Display - 1)
                devices.push_back(&FAgent.Devices(i));
        struct TTally
        {
            int Waiting = 0;
            QStringList Failed;
            TDone Done;
        };
        auto tally = std::make_shared<TTally>(TTally{static_cast<int>(devices.size()), {}, std::move(done)});
        const QString state = command.On ? QStringLiteral("on") : QStringLiteral("off");
        if (devices.empty()) {
            tally->Done(true, QStringLiteral("No display to switch"));
            return;
        }
        for (TVitrelleDevice* device : devices) {
            const QString name = device->GetDisplayName();
            device->PowerAsync(
                command.On,
                [tally, name, state](bool success, std::exception_ptr error) {
                    if (!success || error)
                        tally->Failed << name;
                    if (--tally->Waiting == 0)
                        tally->Done(tally->Failed.isEmpty(),
                                    tally->Failed.isEmpty()
                                        ? QStringLiteral("Switched %1").arg(state)
                                        : QStringLiteral("Not switched %1: %2")
                                              .arg(state, tally->Failed.join(QStringLiteral(", "))));
                },
                QStringLiteral("fleet"));
        }
    }

    void Update(const QString& id, TDone done)
    {
        TVitrelleDownloader* downloader = FAgent.Repository().GetDownloader(id);
        if (downloader == nullptr) {
            done(false, QStringLiteral("No vitrelle %1 in the list").arg(id));
            return;
        }
        auto updated = std::make_shared<bool>(false);
        FWork->Post([downloader, updated] { *updated = downloader->Update(); },
                    [done, updated, id](std::exception_ptr error) {
                        QString message = *updated ? QStringLiteral("Vitrelle %1 updated").arg(id)
                                                   : QStringLiteral("Vitrelle %1 was not updated").arg(id);
                        if (error) {
                            try {
                                std::rethrow_exception(error);
                            } catch (const EVitrelleError& e) {
                                message = e.Message();
                            } catch (const std::exception& e) {
                                message = QString::fromUtf8(e.what());
                            }
                        }
                        done(*updated && !error, message);
                    });
    }

    void DownloadList(TDone done)
    {
        TVitrelleRepository::TListFetch fetch = FAgent.Repository().PrepareListFetch();
        auto fetched = std::make_shared<bool>(false);
        FWork->Post(
            [fetch = std::move(fetch), fetched] { *fetched = TVitrelleRepository::FetchList(fetch); },
            [this, done, fetched](std::exception_ptr error) {
                if (error || !*fetched || FAgent.Repository().LoadList() == nullptr) {
                    done(false,
                         QStringLiteral("The content server gave no vitrelle list; the list is unchanged"));
                    return;
                }
                done(true, QStringLiteral("Vitrelle list downloaded"));
            });
    }

    TVitrelleCenterAgent& FAgent;
    const QString FScreens;
    const QDateTime FStarted;
    const qint64 FRestarts;
    std::shared_ptr<TSwapTap> FTap;
    mutable QHash<QString, std::pair<QString, QDateTime>> FPlayingSince;
    std::unique_ptr<TWorkQueue> FWork;
    QObject FContext; // the waits of plays end with the kiosk
};

class TRunningFleet : public TFleetService
{
public:
    TRunningFleet(TVitrelleCenterAgent& agent, const QString& applicationFolder,
                  std::shared_ptr<IPlayRecorder> recorder, const QString& journalPath)
        : FRecorder(recorder), FTap(std::make_shared<TSwapTap>(recorder)),
          FKiosk(agent, applicationFolder, journalPath, FTap)
    {
        const TFleetSettings& settings = agent.Settings().Fleet;
        SetPlayRecorder(FTap);
        TFleetNodeOptions options;
        options.Site = settings.EffectiveSite();
        options.KioskId = settings.EffectiveKioskId();
        options.JournalPath = journalPath;
        FNode = std::make_unique<TFleetNode>(options, FKiosk,
                                             CreateMosquittoLink(TFleetNode::LinkOptions(settings)));
        WriteLog(LogSource, 3,
                 QStringLiteral("Fleet link to %1:%2 as %3 (topics %4/...)")
                     .arg(settings.Host, QString::number(settings.EffectivePort()), options.KioskId,
                          FNode->TopicBase()));
    }
    ~TRunningFleet() override
    {
        FNode.reset();
        SetPlayRecorder(FRecorder);
    }

private:
    std::shared_ptr<IPlayRecorder> FRecorder;
    std::shared_ptr<TSwapTap> FTap;
    TAgentKiosk FKiosk;
    std::unique_ptr<TFleetNode> FNode;
};

} // namespace

std::unique_ptr<TFleetService> StartFleet(TVitrelleCenterAgent& agent, const QString& applicationFolder,
                                          std::shared_ptr<IPlayRecorder> recorder, const QString& journalPath)
{
    const TFleetSettings& settings = agent.Settings().Fleet;
    if (!settings.Enabled())
        return nullptr;
    if (const QString problem = settings.Problem(); !problem.isEmpty()) {
        WriteLog(LogSource, 1, QStringLiteral("No fleet link: %1").arg(problem));
        return nullptr;
    }
    return std::make_unique<TRunningFleet>(agent, applicationFolder, std::move(recorder), journalPath);
}
