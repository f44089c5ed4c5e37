#pragma once

#include "AgentPlatform.h"
#include "FakeNetworkStatus.h"
#include "FakeSleepInhibitor.h"
#include "ManualClock.h"

#include <QStringList>

#include <mutex>

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

    TAgentPlatform Agent() const;
};

TTestPlatform TestPlatform();
