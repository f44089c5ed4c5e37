#include "FakeSlideView.h"
#include "VitrelleForm.h"

#include <QGuiApplication>
#include <QMenu>
#include <QScreen>

#include <gtest/gtest.h>

namespace {

class SlideWindow : public ::testing::Test
{
protected:
    TFakeSlideView& View(size_t index) const { return *Views->Views().at(index); }
    TFakeSlideView& Front() const { return dynamic_cast<TFakeSlideView&>(*Form.SlideStack().Front()); }
    TFakeSlideView& Back() const { return dynamic_cast<TFakeSlideView&>(*Form.SlideStack().Back()); }
    static bool Frameless(const QWidget& window)
    {
        return window.windowFlags().testFlag(Qt::FramelessWindowHint) &&
               window.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    }

    std::shared_ptr<TFakeSlideViewFactory> Views = std::make_shared<TFakeSlideViewFactory>();
    TVitrelleForm Form{Views};
    int Closed = 0;
};

TDesktopMonitor Monitor(const QRect& geometry)
{
    return TDesktopMonitor{"HDMI-1", geometry, {"HDMI-1"}, true};
}

} // namespace

TEST_F(SlideWindow, CoversItsMonitorAndEscapeTogglesFullScreen)
{
    Form.OnClosed = [this] { ++Closed; };
    Form.SetMonitor(Monitor(QRect(100, 50, 640, 360)));
    Form.ShowWindow();
    EXPECT_TRUE(Form.isVisible());
    EXPECT_EQ(Form.geometry(), QRect(100, 50, 640, 360));
    EXPECT_FALSE(Form.isFullScreen());
    EXPECT_EQ(Form.cursor().shape(), Qt::BlankCursor);
    EXPECT_EQ(Form.palette().color(QPalette::Window), QColor(Qt::black));
    // Two views, both shown, stacked over the whole window, the front one on top.
    ASSERT_EQ(Views->Views().size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(View(i).isVisible());
        EXPECT_EQ(View(i).geometry(), QRect(QPoint(0, 0), Form.size()));
    }
    EXPECT_EQ(&Front(), &View(0));
    EXPECT_EQ(Form.SlideStack().childAt(Form.rect().center()), &View(0));

    // A display plugged in elsewhere: the shown window follows it.
    Form.SetMonitor(Monitor(QRect(200, 100, 320, 240)));
    EXPECT_EQ(Form.geometry(), QRect(200, 100, 320, 240));

    Form.close();
    EXPECT_FALSE(Form.isVisible());
    EXPECT_EQ(Closed, 1);

    // Full screen on the screen's monitor: frameless and on top of every other window.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    Form.SetMonitor(Monitor(screen));
    Form.SetFullScreen(true);
    Form.ShowWindow();
    EXPECT_TRUE(Form.isFullScreen());
    EXPECT_TRUE(Frameless(Form));
    EXPECT_EQ(Form.geometry(), screen);
    EXPECT_EQ(Views->Views().size(), 4u) << "new views at each show";

    Back().PressKey(Qt::Key_Escape);
    EXPECT_TRUE(Form.FullScreen()) << "the back view takes no keys";
    Front().PressKey(Qt::Key_A);
    EXPECT_TRUE(Form.FullScreen());
    Front().PressKey(Qt::Key_Escape);
    EXPECT_FALSE(Form.FullScreen());
    EXPECT_FALSE(Form.isFullScreen());
    EXPECT_TRUE(Form.isMaximized());
    EXPECT_FALSE(Frameless(Form));
    EXPECT_TRUE(Form.isVisible());
    Front().PressKey(Qt::Key_Escape);
    EXPECT_TRUE(Form.isFullScreen());
    EXPECT_TRUE(Frameless(Form));

    Form.close();
    EXPECT_FALSE(Form.FullScreen()) << "closing leaves full screen";
    EXPECT_FALSE(Form.isVisible());
    EXPECT_EQ(Closed, 2);
}

TEST_F(SlideWindow, OnlyTheFrontViewHasTheMenuAndOnlyTheBackOneReportsReady)
{
    int ready = 0;
    Form.SetOnSlideReady([&] { ++ready; });
    int shown = 0;
    QWidget* raised = nullptr;
    Form.SetOnSlideShown([&] {
        ++shown;
        raised = Form.SlideStack().childAt(Form.rect().center());
    });
    Form.SetMonitor(Monitor(QGuiApplication::primaryScreen()->geometry()));
    Form.SetFullScreen(true);
    Form.ShowWindow();
    QMenu* menu = Form.SlideStack().Menu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    QAction* item = menu->actions().first();
    EXPECT_EQ(item->objectName(), "mnFullScreen");
    EXPECT_EQ(item->text(), QString::fromUtf8("Plein \u00e9cran"));
    EXPECT_TRUE(item->isCheckable());
    EXPECT_TRUE(item->isChecked());

    Back().RequestContextMenu();
    EXPECT_FALSE(menu->isVisible());
    Front().RequestContextMenu();
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
    item->trigger(); // unchecks the item: leave full screen
    EXPECT_FALSE(Form.FullScreen());
    item->trigger();
    EXPECT_TRUE(Form.FullScreen());

    TFakeSlideView& first = Front();
    TFakeSlideView& second = Back();
    second.Navigate(QUrl("file:///next.html"));
    first.Navigate(QUrl("file:///current.html"));
    first.MakeReady();
    EXPECT_EQ(ready, 0) << "the front view's page is on screen already";
    second.MakeReady();
    EXPECT_EQ(ready, 1);

    EXPECT_EQ(shown, 0);
    Form.ShowPreparedSlide();
    EXPECT_EQ(&Front(), &second);
    EXPECT_EQ(Form.SlideStack().childAt(Form.rect().center()), &second);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(raised, &second) << "raised once the new slide is on top";
    second.MakeReady();
    EXPECT_EQ(ready, 1) << "no longer the back view";
    first.MakeReady();
    EXPECT_EQ(ready, 2);
    first.RequestContextMenu();
    EXPECT_FALSE(menu->isVisible());
    second.RequestContextMenu();
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
}
