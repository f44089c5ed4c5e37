#pragma once

// Keeps the displays from blanking (the screen saver and display power saving) while a vitrelle plays.
// Holds nest: the displays may blank again once every Suspend has its Resume. Main thread only. A session
// without such a service makes both calls do nothing.
class IScreenSaver
{
public:
    virtual ~IScreenSaver() = default;
    // The first hold also wakes a display that has already blanked.
    virtual void Suspend() = 0;
    virtual void Resume() = 0;
};
