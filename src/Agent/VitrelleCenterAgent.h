#pragma once

#include "Clock.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleRepository.h"
#include "VitrelleScheduler.h"

#include <QString>

#include <functional>
#include <memory>

// What the agent asks of the machine it runs on; tests put their own answers in place.
struct TAgentPlatform
{
    // True when the XML and XSLT libraries can create their objects.
    std::function<bool()> XmlLibraryAvailable;
    // True when the program runs over a remote connection.
    std::function<bool()> IsRemoteDesktop;
    // Shows a start-up error to the operator (a modal message box in the program).
    std::function<void(const QString&)> ShowError;
    // The local time the schedule runs by; null for the system clock.
    std::shared_ptr<const IClock> Clock;
    // Keeps the computer awake while the program runs; null holds nothing (tests). The real machine's is a
    // logind inhibitor.
    std::shared_ptr<ISleepInhibitor> SleepInhibitor;

    // The real machine: the libraries, the process environment, and the error written to standard error.
    static TAgentPlatform System();
};

// The spine of the system: owns the settings and everything started from them, performs the start-up in its
// fixed order and serves the pages of the main window.
class TVitrelleCenterAgent
{
public:
    TVitrelleCenterAgent(const QString& appFolder, TAgentPlatform platform);
    // Frees the scheduler first, so that no scheduled action runs while the rest is taken down.
    ~TVitrelleCenterAgent();

    TVitrelleCenterAgent(const TVitrelleCenterAgent&) = delete;
    TVitrelleCenterAgent& operator=(const TVitrelleCenterAgent&) = delete;

    // The start-up sequence; an error not handled inside a step is raised to the caller.
    void Initialize();

    TVitrelleCenterSettings& Settings() { return *FSettings; }
    const TVitrelleCenterSettings& Settings() const { return *FSettings; }
    TVitrelleRepository& Repository() { return *FRepository; }
    const TVitrelleRepository& Repository() const { return *FRepository; }
    TVitrelleScheduler& Scheduler() { return *FScheduler; }
    const TVitrelleScheduler& Scheduler() const { return *FScheduler; }

    // The effective device and template folders, absolute; created with their parents when missing.
    QString GetDeviceFolder() const;
    QString GetTemplateFolder() const;

    void CheckXmlLibrary() const;
    bool IsRemoteDesktop() const;

    const TAgentPlatform& Platform() const { return FPlatform; }

private:
    TAgentPlatform FPlatform;
    std::unique_ptr<TVitrelleCenterSettings> FSettings;
    std::unique_ptr<TVitrelleRepository> FRepository;
    std::unique_ptr<TVitrelleScheduler> FScheduler;
};

// Constructs and initialises the agent for the application folder. A failing start-up shows its error
// through the platform, frees the agent and gives null.
std::unique_ptr<TVitrelleCenterAgent> CreateAgent(const QString& appFolder, TAgentPlatform platform);
