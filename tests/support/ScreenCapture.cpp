#include "ScreenCapture.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

struct TScreenSampler::TImpl
{
    ::Display* Connection = nullptr;
    QList<QPoint> Points;
    QRect Bounds;
    std::thread Worker;
    std::atomic<bool> Stopping{false};
    std::mutex Mutex; // guards Frames
    std::vector<TFrame> Frames;
};

TScreenSampler::TScreenSampler(const QByteArray& displayName, QList<QPoint> points)
    : F(std::make_unique<TImpl>())
{
    F->Connection = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (F->Connection == nullptr)
        throw std::runtime_error("cannot open the X display " + displayName.toStdString());
    F->Points = std::move(points);
    for (const QPoint& point : F->Points)
        F->Bounds |= QRect(point, QSize(1, 1));
}

TScreenSampler::~TScreenSampler()
{
    if (F->Worker.joinable())
        Stop();
    XCloseDisplay(F->Connection);
}

TScreenSampler::TFrame TScreenSampler::Sample()
{
    TFrame frame;
    // One image over the points' bounding box: the points are read at the same moment.
    XImage* image = XGetImage(F->Connection, DefaultRootWindow(F->Connection), F->Bounds.x(), F->Bounds.y(),
                              static_cast<unsigned>(F->Bounds.width()),
                              static_cast<unsigned>(F->Bounds.height()), AllPlanes, ZPixmap);
    frame.Time = TClock::now();
    for (const QPoint& point : F->Points) {
        if (image == nullptr) {
            frame.Colours << 0;
            continue;
        }
        const unsigned long pixel = XGetPixel(image, point.x() - F->Bounds.x(), point.y() - F->Bounds.y());
        frame.Colours << qRgb(static_cast<int>((pixel >> 16) & 0xff), static_cast<int>((pixel >> 8) & 0xff),
                              static_cast<int>(pixel & 0xff));
    }
    if (image != nullptr)
        XDestroyImage(image);
    return frame;
}

void TScreenSampler::Start(std::chrono::microseconds period)
{
    F->Stopping = false;
    F->Worker = std::thread([this, period] {
        auto next = TClock::now();
        while (!F->Stopping) {
            TFrame frame = Sample();
            {
                std::lock_guard lock(F->Mutex);
                F->Frames.push_back(std::move(frame));
            }
            next += period;
            std::this_thread::sleep_until(next);
        }
    });
}

std::vector<TScreenSampler::TFrame> TScreenSampler::Stop()
{
    F->Stopping = true;
    if (F->Worker.joinable())
        F->Worker.join();
    std::lock_guard lock(F->Mutex);
    return std::exchange(F->Frames, {});
}

int SlideOfColour(const QList<QRgb>& palette, QRgb colour)
{
    constexpr int Tolerance = 12;
    for (int i = 0; i < palette.size(); ++i) {
        const QRgb want = palette[i];
        if (std::abs(qRed(want) - qRed(colour)) <= Tolerance &&
            std::abs(qGreen(want) - qGreen(colour)) <= Tolerance &&
            std::abs(qBlue(want) - qBlue(colour)) <= Tolerance)
            return i;
    }
    return -1;
}

TFrameVerdict JudgeFrame(const QList<QRgb>& palette, const TScreenSampler::TFrame& frame)
{
    QList<int> slides;
    for (const QRgb colour : frame.Colours)
        slides << SlideOfColour(palette, colour);
    if (slides.isEmpty() || std::all_of(slides.begin(), slides.end(), [](int s) { return s < 0; }))
        return {TFrameVerdict::fvBlank, -1};
    if (std::all_of(slides.begin(), slides.end(), [&](int s) { return s == slides.first(); }))
        return {TFrameVerdict::fvSlide, slides.first()};
    return {TFrameVerdict::fvMixed, -1};
}

TSwapReport JudgeCapture(const QList<QRgb>& palette, const std::vector<TScreenSampler::TFrame>& frames)
{
    TSwapReport report;
    report.FirstSeen.assign(static_cast<size_t>(palette.size()), {});
    int newest = -1;
    for (const TScreenSampler::TFrame& frame : frames) {
        const TFrameVerdict verdict = JudgeFrame(palette, frame);
        if (newest < 0 && verdict.Kind != TFrameVerdict::fvSlide)
            continue; // the show has not started
        ++report.Frames;
        switch (verdict.Kind) {
        case TFrameVerdict::fvBlank:
            ++report.Blank;
            break;
        case TFrameVerdict::fvMixed:
            ++report.Mixed;
            break;
        case TFrameVerdict::fvSlide:
            if (verdict.Slide < newest) {
                ++report.Stale;
            } else if (verdict.Slide > newest) {
                newest = verdict.Slide;
                ++report.SlidesSeen;
                report.FirstSeen[static_cast<size_t>(verdict.Slide)] = frame.Time;
            }
            break;
        }
    }
    return report;
}

bool CloseWindow(const QByteArray& displayName, const QByteArray& title, QSize size)
{
    ::Display* connection = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (connection == nullptr)
        return false;
    const ::Window root = DefaultRootWindow(connection);
    ::Window rootReturn = 0;
    ::Window parent = 0;
    ::Window* children = nullptr;
    unsigned int count = 0;
    bool sent = false;
    if (XQueryTree(connection, root, &rootReturn, &parent, &children, &count) != 0) {
        const Atom protocols = XInternAtom(connection, "WM_PROTOCOLS", False);
        const Atom deleteWindow = XInternAtom(connection, "WM_DELETE_WINDOW", False);
        for (unsigned int i = 0; i < count && !sent; ++i) {
            char* name = nullptr;
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(connection, children[i], &attributes) == 0 ||
                attributes.map_state != IsViewable || attributes.width != size.width() ||
                attributes.height != size.height() || XFetchName(connection, children[i], &name) == 0)
                continue;
            const bool match = name != nullptr && title == name;
            XFree(name);
            if (!match)
                continue;
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = children[i];
            event.xclient.message_type = protocols;
            event.xclient.format = 32;
            event.xclient.data.l[0] = static_cast<long>(deleteWindow);
            event.xclient.data.l[1] = CurrentTime;
            sent = XSendEvent(connection, children[i], False, NoEventMask, &event) != 0;
        }
        XFree(children);
    }
    XSync(connection, False);
    XCloseDisplay(connection);
    return sent;
}
