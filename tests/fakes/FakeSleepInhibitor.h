#pragma once

#include "SleepInhibitor.h"

#include <atomic>

// Counts the scheduler's requests to keep the machine awake.
class TFakeSleepInhibitor : public ISleepInhibitor
{
public:
    void KeepSystemAwake() override { ++Calls; }
    std::atomic<int> Calls{0};
};
