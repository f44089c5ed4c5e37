#pragma once

#include "Clock.h"
#include "DisplaySystem.h"
#include "HttpDownloader.h"
#include "ScreenSaver.h"
#include "SerialLine.h"
#include "SleepInhibitor.h"
#include "SlideView.h"
#include "SteadyClock.h"

#include <QString>

#include <chrono>
#include <memory>

// What the start-up asks of the session it runs in.
class ISessionProbe
{
public:
    virtual ~ISessionProbe() = default;
    // True when the XML and XSLT libraries can create their objects.
    virtual bool XmlLibraryAvailable() const = 0;
    // True when the program runs over a remote connection.
    virtual bool IsRemoteDesktop() const = 0;
};

// Shows an error to the operator: a modal box with one OK button in the program.
class IErrorPresenter
{
public:
    virtual ~IErrorPresenter() = default;
    virtual void ShowError(const QString& message) = 0;
};

// Every service of the machine that the agent and the subsystems it owns use. The program assembles the real
// set in one place; tests assemble theirs from fakes. Every entry is required: the agent refuses to start
// with a missing one, so no subsystem ever falls back to the real machine behind a test's back.
struct TAgentPlatform
{
    std::shared_ptr<const ISessionProbe> Session;
    std::shared_ptr<IErrorPresenter> Errors;
    // The local time the schedule and the logins run by.
    std::shared_ptr<const IClock> Clock;
    // Keeps the computer awake while the program runs.
    std::shared_ptr<ISleepInhibitor> SleepInhibitor;
    // Whether a scheduled update is worth trying.
    std::shared_ptr<const INetworkStatus> Network;
    // Makes the clients of the content server.
    std::shared_ptr<const IDownloaderFactory> Downloaders;
    // The desktop's monitors, their identity, modes and power.
    std::shared_ptr<IDisplaySystem> Display;
    // Opens the displays' serial lines.
    std::shared_ptr<const ISerialPortFactory> SerialPorts;
    // Keeps the displays from blanking while a vitrelle plays.
    std::shared_ptr<IScreenSaver> ScreenSaver;
    // Makes the web views of the slide windows.
    std::shared_ptr<const ISlideViewFactory> SlideViews;
    // The monotonic time the players' slide clocks run by, and their period.
    std::shared_ptr<ISteadyClock> SlideClock = std::make_shared<TSystemSteadyClock>();
    std::chrono::milliseconds SlideTick{1000};
    // The pause before every display is switched on or off at once (see TVitrelleDevice::PowerAllPause).
    std::chrono::milliseconds PowerAllPause{500};

    // Raises EVitrelleError naming the first missing entry (a programming error of whoever assembled it).
    void CheckComplete() const;
};
