#include "TestPlatform.h"

TAgentPlatform TTestPlatform::Agent() const
{
    TAgentPlatform platform;
    platform.Session = Session;
    platform.Errors = Errors;
    platform.Clock = Clock;
    platform.SleepInhibitor = SleepInhibitor;
    platform.Network = Network;
    platform.Downloaders = Downloaders;
    platform.Display = Display;
    platform.SerialPorts = SerialPorts;
    platform.ScreenSaver = ScreenSaver;
    platform.SlideViews = SlideViews;
    platform.PowerAllPause = std::chrono::milliseconds(0);
    return platform;
}

THttpOptions ShortHttpOptions(std::shared_ptr<const IClock> clock)
{
    THttpOptions options;
    options.Timeouts.Connect = std::chrono::milliseconds(2000);
    options.Timeouts.LowSpeedTime = std::chrono::seconds(1);
    options.Clock = std::move(clock);
    return options;
}

TTestPlatform TestPlatform()
{
    return TTestPlatform();
}
