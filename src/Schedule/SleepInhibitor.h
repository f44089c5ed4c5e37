#pragma once

// Keeps the computer from going to sleep while the program runs (the display may still blank).
class ISleepInhibitor
{
public:
    virtual ~ISleepInhibitor() = default;
    // Called on the tick worker before every tick. An implementation takes its hold once and keeps it; until
    // it has one, every call tries again.
    virtual void KeepSystemAwake() = 0;
};

// For machines and tests where nothing needs to be held.
class TNoSleepInhibitor : public ISleepInhibitor
{
public:
    void KeepSystemAwake() override {}
};
