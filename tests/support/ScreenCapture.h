#pragma once

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QSize>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

// Reads the colours of a few points of an X screen, again and again, on a thread and a connection of its
// own, as a camera in front of the wall would see them. Used by tests and benchmarks of what is on screen.
class TScreenSampler
{
public:
    using TClock = std::chrono::steady_clock;
    struct TFrame
    {
        TClock::time_point Time;
        QList<QRgb> Colours; // one per point, in the order given
    };

    // Raises std::runtime_error when the display cannot be opened.
    TScreenSampler(const QByteArray& displayName, QList<QPoint> points);
    ~TScreenSampler();
    TScreenSampler(const TScreenSampler&) = delete;
    TScreenSampler& operator=(const TScreenSampler&) = delete;

    // One reading now, on the calling thread.
    TFrame Sample();
    // Samples every period until Stop; the frames are kept.
    void Start(std::chrono::microseconds period);
    std::vector<TFrame> Stop();

private:
    struct TImpl;
    std::unique_ptr<TImpl> F;
};

// What a viewer saw in one frame of a show whose slides are solid colours, each slide its own colour.
struct TFrameVerdict
{
    enum TKind
    {
        fvSlide, // every point shows the colour of one slide
        fvBlank, // a colour that is no slide's (black, white)
        fvMixed, // the points disagree: part of one slide and part of another, or a half-painted page
    };
    TKind Kind = fvBlank;
    int Slide = -1; // for fvSlide: the slide's position in the palette
};

// The nearest slide colour within a small tolerance (colour depth, scaling); -1 when none is near.
int SlideOfColour(const QList<QRgb>& palette, QRgb colour);
TFrameVerdict JudgeFrame(const QList<QRgb>& palette, const TScreenSampler::TFrame& frame);

// The figures of a capture: frames that were blank, mixed, or showed a slide older than one already shown;
// and for each slide the first frame that showed it.
struct TSwapReport
{
    int Frames = 0;
    int Blank = 0;
    int Mixed = 0;
    int Stale = 0;
    int SlidesSeen = 0;
    std::vector<TScreenSampler::TClock::time_point> FirstSeen; // per palette entry; epoch when never seen
};

// Frames before the first slide appears are not counted as blank (the show has not started yet).
TSwapReport JudgeCapture(const QList<QRgb>& palette, const std::vector<TScreenSampler::TFrame>& frames);

// Asks the mapped top-level window of that title and size to close, as a window manager's close button does
// (the WM_DELETE_WINDOW message). False when the display cannot be opened or no such window is mapped.
bool CloseWindow(const QByteArray& displayName, const QByteArray& title, QSize size);
