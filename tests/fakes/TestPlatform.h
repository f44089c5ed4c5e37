#pragma once

#include "AgentPlatform.h"
#include "FakeNetworkStatus.h"
#include "FakeScreenSaver.h"
#include "FakeSerialPorts.h"
#include "FakeSleepInhibitor.h"
#include "FakeSlideView.h"
#include "ManualClock.h"
#include "SimulatedDisplaySystem.h"

#include <QStringList>

#include <mutex>

// HTTP limits that a test can wait out: two seconds to connect, one second of silence.
THttpOptions ShortHttpOptions(std::shared_ptr<const IClock> clock);

// A session whose answers the test chooses.
class TFakeSessionProbe : public ISessionProbe
{
public:
    bool XmlLibraryAvailable() const override { return XmlAvailable; }
    bool IsRemoteDesktop() const override { return Remote; }
    bool XmlAvailable = true;
    bool Remote = false;
};

// Keeps the errors the program would have shown.
class TRecordingErrorPresenter : public IErrorPresenter
{
public:
    void ShowError(const QString& message) override
    {
        std::lock_guard lock(FMutex);
        FShown << message;
    }
    QStringList Shown() const
    {
        std::lock_guard lock(FMutex);
        return FShown;
    }

private:
    mutable std::mutex FMutex;
    QStringList FShown;
};

// The fakes of every platform service, each reachable by its own type, and the agent's view of them.
struct TTestPlatform
{
    std::shared_ptr<TFakeSessionProbe> Session = std::make_shared<TFakeSessionProbe>();
    std::shared_ptr<TRecordingErrorPresenter> Errors = std::make_shared<TRecordingErrorPresenter>();
    // Stands still, which also keeps the tick worker off the C library's time-zone state.
    std::shared_ptr<TManualClock> Clock = std::make_shared<TManualClock>();
    std::shared_ptr<TFakeSleepInhibitor> SleepInhibitor = std::make_shared<TFakeSleepInhibitor>();
    std::shared_ptr<TFakeNetworkStatus> Network = std::make_shared<TFakeNetworkStatus>();
    // Real HTTP (tests talk to a server on 127.0.0.1) with limits short enough for a test to wait for.
    std::shared_ptr<THttpDownloaderFactory> Downloaders =
        std::make_shared<THttpDownloaderFactory>(ShortHttpOptions(Clock));

    // No monitor until the test adds outputs.
    std::shared_ptr<TSimulatedDisplaySystem> Display = std::make_shared<TSimulatedDisplaySystem>();
    std::shared_ptr<TFakeSerialPorts> SerialPorts = std::make_shared<TFakeSerialPorts>();
    std::shared_ptr<TFakeScreenSaver> ScreenSaver = std::make_shared<TFakeScreenSaver>();
    std::shared_ptr<TFakeSlideViewFactory> SlideViews = std::make_shared<TFakeSlideViewFactory>();

    TAgentPlatform Agent() const;
};

TTestPlatform TestPlatform();
