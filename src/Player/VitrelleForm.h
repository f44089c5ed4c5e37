#pragma once

#include "DisplaySystem.h"
#include "FrameWebDiapositive.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

// The slide window of a player: a top-level window on its display's monitor that holds the slide stack, its
// two slide views. Full screen, it is frameless and stays on top of every other window (an EWMH window
// manager puts its panels behind it); otherwise it is a normal sizeable window, maximised. Black, with no
// mouse cursor over it. Closing it hides it; it lives as long as its player. Main thread only.
class TVitrelleForm : public QWidget
{
    Q_OBJECT
public:
    explicit TVitrelleForm(std::shared_ptr<const ISlideViewFactory> views);
    ~TVitrelleForm() override;

    // Places the window on the monitor; a shown window moves there at once (a display plugged in again).
    void SetMonitor(const TDesktopMonitor& monitor);
    const std::optional<TDesktopMonitor>& Monitor() const { return FMonitor; }

    // Shows the window on its monitor, full screen when FullScreen() is set, with new slide views.
    void ShowWindow();
    void EnterFullScreen();
    void LeaveFullScreen();
    bool FullScreen() const { return FFullScreen; }
    // The mode the window is shown in by the next ShowWindow.
    void SetFullScreen(bool fullScreen) { FFullScreen = fullScreen; }

    bool PrepareSlide(const TDiapositive* slide, const TVitrelleRepository* repository)
    {
        return FSlideStack->PrepareSlide(slide, repository);
    }
    bool LoadPage(const QString& path, const TSlideAccess& access = {})
    {
        return FSlideStack->LoadPage(path, access);
    }
    void ShowPreparedSlide() { FSlideStack->ShowPreparedSlide(); }
    void SetOnSlideReady(std::function<void()> handler) { FSlideStack->OnSlideReady = std::move(handler); }
    void SetOnSlideShown(std::function<void()> handler) { FSlideStack->OnSlideShown = std::move(handler); }
    TFrameWebDiapositive& SlideStack() const { return *FSlideStack; }

    // Raised after the window has been closed, by the user or by the program.
    std::function<void()> OnClosed;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FitToMonitor();
    void SetFlags(Qt::WindowFlags flags);
    void ApplyFullScreen(bool show);
    void FullScreenRequest(TFullScreenRequest request);

    std::optional<TDesktopMonitor> FMonitor;
    TFrameWebDiapositive* FSlideStack; // a child: freed with the window
    bool FFullScreen = false;
};
