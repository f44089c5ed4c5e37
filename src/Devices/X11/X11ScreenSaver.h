#pragma once

#include "ScreenSaver.h"

#include <QByteArray>
#include <QLatin1StringView>

#include <memory>

// Holds off the X server's screen saver and display power saving (MIT-SCREEN-SAVER 1.1 suspension) while
// a vitrelle plays. The suspension belongs to the client connection that asked for it, so the hold keeps a
// connection of its own for its whole life. A display that cannot be opened, offers no such extension or
// has been lost makes both calls do nothing; that is logged once, at level 3, on the first hold it affects.
class TX11ScreenSaver : public IScreenSaver
{
public:
    static constexpr QLatin1StringView LogSource{"TX11ScreenSaver"};

    // Connects to the named display (the session's DISPLAY when empty).
    explicit TX11ScreenSaver(const QByteArray& displayName = {});
    ~TX11ScreenSaver() override;
    TX11ScreenSaver(const TX11ScreenSaver&) = delete;
    TX11ScreenSaver& operator=(const TX11ScreenSaver&) = delete;

    void Suspend() override;
    void Resume() override;

private:
    struct TImpl;
    std::unique_ptr<TImpl> F;
};
