#pragma once

#include "SlideView.h"

#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <vector>

// A slide view that loads nothing: a plain black widget that records its navigations. The test makes it
// ready, presses keys in it and asks it for a context menu, as a user and a browser engine would.
class TFakeSlideView : public QWidget, public ISlideView
{
public:
    explicit TFakeSlideView(QWidget* parent);

    QWidget& Widget() override { return *this; }
    void Navigate(const QUrl& url) override;
    void SetAccess(const TSlideAccess& access) override { Access = access; }

    // The page of the last navigation has loaded and painted (nothing before the first navigation).
    void MakeReady();
    void PressKey(int key);
    void RequestContextMenu(const QPoint& globalPos = QPoint(10, 10));

    // Every page asked for, in order.
    QList<QUrl> Navigations;
    QUrl Page() const { return Navigations.isEmpty() ? QUrl() : Navigations.last(); }
    // What the last SetAccess gave.
    TSlideAccess Access;
    // Each navigation is ready at once, inside Navigate (a page that loads and paints instantly).
    bool ReadyAtOnce = false;
    // Navigate raises EVitrelleError.
    bool FailNavigate = false;
};

// Makes fake views and keeps track of them, in creation order (a view the frame has freed is null).
class TFakeSlideViewFactory : public ISlideViewFactory
{
public:
    std::unique_ptr<ISlideView> CreateView(QWidget* parent) const override;

    // The views made so far; the frame makes two at each play.
    const std::vector<QPointer<TFakeSlideView>>& Views() const { return FViews; }
    // Views made from now on are ready at once.
    bool ReadyAtOnce = false;

private:
    mutable std::vector<QPointer<TFakeSlideView>> FViews;
};
