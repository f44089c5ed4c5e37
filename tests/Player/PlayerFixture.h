#pragma once

#include "FakeScreenSaver.h"
#include "FakeSlideView.h"
#include "FrameWebDiapositive.h"
#include "ManualSteadyClock.h"
#include "RepositoryFixture.h"
#include "SimulatedDisplaySystem.h"
#include "TestPlatform.h"
#include "VitrelleDevice.h"
#include "VitrelleForm.h"
#include "VitrellePlayer.h"

#include <QFileInfo>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// A player on a display device of a simulated display system, with the test content server's vitrelles
// (17 "Lobby": s1, s2 Photo and s3 Text; "mixed": slides without a type or that the template refuses;
// "empty": no slide), the real templates in the application's Templates folder, fake slide views and a
// monotonic clock that moves only when the test moves it.
class PlayerTest : public RepositoryTest
{
protected:
    void SetUp() override
    {
        RepositoryTest::SetUp();
        TDiapositiveType::SetTemplateFolder(App.File("Templates"));
        for (const char* name : {"Photo.xsl", "Text.xsl"})
            App.Write(QStringLiteral("Templates/") + name, PlayerData(name));
        for (const char* id : {"mixed", "empty"})
            Server.SetFile(QStringLiteral("/vitrelles/%1.xml").arg(id),
                           PlayerData(id + QStringLiteral(".xml")));
        App.Write("Cache/VitrelleList.xml", PlayerData("VitrelleList.xml"));
        ASSERT_NE(Repository->LoadList(), nullptr);

        Display->AddOutput("HDMI-1").Geometry = QRect(0, 0, 800, 600);
        Device = std::make_unique<TVitrelleDevice>(TDeviceServices{
            Display, std::make_shared<TFakeSerialPorts>(), [this] { return Scheduler.get(); }});
        Device->Monitor = Display->Monitors().at(0);
        Device->Index = 1;
        MakePlayer();
    }
    void TearDown() override
    {
        Player.reset();
        Device.reset();
        RepositoryTest::TearDown();
        TDiapositiveType::SetTemplateFolder(QString());
    }

    static QByteArray PlayerData(const QString& name)
    {
        return ReadFileBytes(TestDataPath("player/" + name));
    }

    void MakePlayer(milliseconds tick = 1000ms)
    {
        TPlayerServices services;
        services.SlideViews = Views;
        services.ScreenSaver = ScreenSaver;
        services.Scheduler = [this] { return Scheduler.get(); };
        services.Tick = tick;
        services.Clock = Clock;
        services.ScreensFolder = ScreensFolder;
        Player = std::make_unique<TVitrellePlayer>(Device.get(), *Repository, services);
    }

    // Plays the vitrelle and lets the clock prepare its first slide.
    void Play(const QString& id, qint32 seconds = 10)
    {
        Player->SetSlideDuration(seconds);
        ASSERT_TRUE(Player->Play(id)) << LogText(Log);
        ASSERT_TRUE(Settle());
    }
    // Serves the clock's hand-overs until it waits for its next tick (or has ended).
    bool Settle()
    {
        return ServeEventsUntil([this] { return Clock->NextDeadline() || Player->State() != psPlaying; });
    }
    // Moves time to the clock's next tick and serves that tick to its end. Returns the tick's moment.
    milliseconds Tick()
    {
        EXPECT_TRUE(Settle());
        const std::optional<milliseconds> deadline = Clock->NextDeadline();
        if (!deadline) {
            ADD_FAILURE() << "the clock does not tick";
            return Clock->Now();
        }
        const int waits = Clock->Waits();
        Clock->Set(*deadline);
        EXPECT_TRUE(ServeEventsUntil([&] { return Clock->Waits() > waits || Player->State() != psPlaying; }));
        return *deadline;
    }
    // Ticks until the moment (ticks due later are left).
    void RunUntil(milliseconds moment)
    {
        while (Settle() && Clock->NextDeadline() && *Clock->NextDeadline() <= moment)
            Tick();
    }
    // Lets the worker wake for its next tick without serving the main thread: the tick's first hand-over is
    // then on its way, or waiting to be served.
    void WakeWithoutServing()
    {
        ASSERT_TRUE(Settle());
        const int reads = Clock->Reads();
        Clock->Set(*Clock->NextDeadline());
        const QDeadlineTimer limit(10000);
        while (Clock->Reads() == reads && !limit.hasExpired())
            QThread::msleep(1);
        ASSERT_GT(Clock->Reads(), reads);
    }

    TFrameWebDiapositive& SlideStack() const { return Player->Form().SlideStack(); }
    TFakeSlideView& Front() const { return dynamic_cast<TFakeSlideView&>(*SlideStack().Front()); }
    TFakeSlideView& Back() const { return dynamic_cast<TFakeSlideView&>(*SlideStack().Back()); }
    // The slide id of the page a view shows ("" for none).
    static QString SlideOf(const TFakeSlideView& view)
    {
        return QFileInfo(view.Page().toLocalFile()).completeBaseName();
    }
    // The player's own log lines.
    QStringList PlayerLines() const { return Log.Lines().filter("TVitrellePlayer: "); }

    std::shared_ptr<TSimulatedDisplaySystem> Display = std::make_shared<TSimulatedDisplaySystem>();
    std::shared_ptr<TFakeSlideViewFactory> Views = std::make_shared<TFakeSlideViewFactory>();
    std::shared_ptr<TFakeScreenSaver> ScreenSaver = std::make_shared<TFakeScreenSaver>();
    std::shared_ptr<TManualSteadyClock> Clock = std::make_shared<TManualSteadyClock>();
    std::unique_ptr<TVitrelleDevice> Device;
    std::unique_ptr<TVitrellePlayer> Player;
    // Where the player keeps its pictures of the screen; empty: none.
    QString ScreensFolder;
};
