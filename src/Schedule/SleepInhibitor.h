#pragma once

// Keeps the computer from going to sleep while the program runs (the display may still blank).
class ISleepInhibitor
{
public:
    virtual ~ISleepInhibitor() = default;
    // Called on the tick worker before every tick; an implementation takes its hold once and keeps it.
    virtual void KeepSystemAwake() = 0;
};

// For machines and tests where nothing needs to be held.
class TNoSleepInhibitor : public ISleepInhibitor
{
public:
    void KeepSystemAwake() override {}
};
