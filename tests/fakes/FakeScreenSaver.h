#pragma once

#include "ScreenSaver.h"

#include "MainThread.h"

// Counts the holds on the screen saver, and the wake-ups the first hold would give.
class TFakeScreenSaver : public IScreenSaver
{
public:
    void Suspend() override
    {
        VC_ASSERT_MAIN_THREAD();
        if (Holds++ == 0)
            ++WakeUps;
    }
    void Resume() override
    {
        VC_ASSERT_MAIN_THREAD();
        Q_ASSERT(Holds > 0);
        --Holds;
    }
    int Holds = 0;
    int WakeUps = 0;
};
