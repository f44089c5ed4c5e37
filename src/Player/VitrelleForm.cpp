#include "VitrelleForm.h"

#include "MainThread.h"

#include <QCloseEvent>
#include <QVBoxLayout>

namespace {
constexpr Qt::WindowFlags NormalFlags = Qt::Window;
constexpr Qt::WindowFlags FullScreenFlags = Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
} // namespace

TVitrelleForm::TVitrelleForm(std::shared_ptr<const ISlideViewFactory> views) : QWidget(nullptr, NormalFlags)
{
    setWindowTitle(QStringLiteral("VitrelleCenter"));
    // Black underneath, so that nothing flashes white before a page has painted.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    setCursor(Qt::BlankCursor);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    FSlideStack = new TFrameWebDiapositive(std::move(views), this);
    layout->addWidget(FSlideStack);
    FSlideStack->OnFullScreenRequest = [this](TFullScreenRequest request) { FullScreenRequest(request); };
}

TVitrelleForm::~TVitrelleForm()
{
    OnClosed = nullptr; // the owner is going too
}

void TVitrelleForm::SetMonitor(const TDesktopMonitor& monitor)
{
    VC_ASSERT_MAIN_THREAD();
    FMonitor = monitor;
    if (!isVisible()) {
        FitToMonitor();
        return;
    }
    // A shown window leaves its mode for the move, so that the window system takes it to the new monitor.
    if (FFullScreen) {
        showNormal();
        FitToMonitor();
        showFullScreen();
    } else if (isMaximized()) {
        showNormal();
        FitToMonitor();
        showMaximized();
    } else {
        FitToMonitor();
    }
}

void TVitrelleForm::FitToMonitor()
{
    if (FMonitor)
        setGeometry(FMonitor->Geometry);
}

void TVitrelleForm::SetFlags(Qt::WindowFlags flags)
{
    // Changing them hides a shown window; the callers show it again in its mode.
    if (windowFlags() != flags)
        setWindowFlags(flags);
}

void TVitrelleForm::ShowWindow()
{
    VC_ASSERT_MAIN_THREAD();
    if (FFullScreen) {
        ApplyFullScreen(true);
    } else {
        SetFlags(NormalFlags);
        FitToMonitor();
        showNormal();
    }
    raise();
    activateWindow();
    FSlideStack->CreateBrowsers();
}

void TVitrelleForm::EnterFullScreen()
{
    ApplyFullScreen(isVisible());
}

void TVitrelleForm::ApplyFullScreen(bool show)
{
    FFullScreen = true;
    SetFlags(FullScreenFlags);
    // The geometry comes before showFullScreen: the window system makes the window cover the monitor it is
    // on.
    FitToMonitor();
    if (show)
        showFullScreen();
}

void TVitrelleForm::LeaveFullScreen()
{
    const bool shown = isVisible();
    FFullScreen = false;
    SetFlags(NormalFlags);
    if (!shown) {
        setWindowState(windowState() & ~Qt::WindowFullScreen);
        return;
    }
    FitToMonitor(); // maximised on the monitor it covered
    showMaximized();
    activateWindow();
}

void TVitrelleForm::FullScreenRequest(TFullScreenRequest request)
{
    switch (request) {
    case frEnter:
        EnterFullScreen();
        break;
    case frLeave:
        LeaveFullScreen();
        break;
    case frToggle:
        if (FFullScreen)
            LeaveFullScreen();
        else
            EnterFullScreen();
        break;
    }
}

void TVitrelleForm::closeEvent(QCloseEvent* event)
{
    // Closing leaves full screen. The window's style is set again by the next ShowWindow rather than here,
    // so that the native window is not made anew while it closes.
    FFullScreen = false;
    event->accept();
    if (OnClosed)
        OnClosed();
}
