#pragma once

#include "SlideView.h"

#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <memory>
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
    void Start() override { ++Starts; }
    // What UntilEnd gives for the page of the last navigation (by its file's base name), -1 when not there.
    qint64 UntilEndMs() const override
    {
        return UntilEnd ? UntilEnd->value(QFileInfo(Page().toLocalFile()).completeBaseName(), -1) : -1;
    }

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
    // Times Start was called.
    int Starts = 0;
    std::shared_ptr<const QHash<QString, qint64>> UntilEnd;
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
    // How long the pages of views made from now on ask to stay, by slide id (a page's file base name).
    std::shared_ptr<QHash<QString, qint64>> UntilEnd = std::make_shared<QHash<QString, qint64>>();

private:
    mutable std::vector<QPointer<TFakeSlideView>> FViews;
};
