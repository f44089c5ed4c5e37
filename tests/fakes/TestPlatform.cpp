#include "TestPlatform.h"

TAgentPlatform TTestPlatform::Agent() const
{
    TAgentPlatform platform;
    platform.Session = Session;
    platform.Errors = Errors;
    platform.Clock = Clock;
    platform.SleepInhibitor = SleepInhibitor;
    platform.Network = Network;
    return platform;
}

TTestPlatform TestPlatform()
{
    return TTestPlatform();
}
