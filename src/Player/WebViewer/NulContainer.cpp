#include "NulContainer.h"

#include "MainThread.h"

#include <QChildEvent>
#include <QKeyEvent>
#include <QWebEngineView>

TNulWBContainer::TNulWBContainer(QWebEngineView* browser) : FHostedBrowser(browser)
{
    Q_ASSERT_X(browser != nullptr, Q_FUNC_INFO, "a host needs a view");
    VC_ASSERT_MAIN_THREAD();
    AttachSite(true);
}

TNulWBContainer::~TNulWBContainer()
{
    AttachSite(false);
}

void TNulWBContainer::TranslateAccelerator(const QKeyEvent&) {}

void TNulWBContainer::AttachSite(bool attach)
{
    for (const QPointer<QWidget>& widget : std::as_const(FRenderWidgets))
        if (widget)
            widget->removeEventFilter(this);
    FRenderWidgets.clear();
    if (!FHostedBrowser)
        return;
    if (!attach) {
        FHostedBrowser->removeEventFilter(this);
        return;
    }
    // The view announces each new render widget as a child; the current one (if the view already has a page
    // on screen) is its focus proxy.
    FHostedBrowser->installEventFilter(this);
    for (QObject* child : FHostedBrowser->children())
        Follow(child);
}

void TNulWBContainer::Follow(QObject* child)
{
    if (child == nullptr || !child->isWidgetType())
        return;
    auto* widget = static_cast<QWidget*>(child);
    for (const QPointer<QWidget>& known : std::as_const(FRenderWidgets))
        if (known == widget)
            return;
    FRenderWidgets.removeAll(nullptr);
    FRenderWidgets.append(widget);
    widget->installEventFilter(this);
}

bool TNulWBContainer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FHostedBrowser.data()) {
        if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished)
            Follow(static_cast<QChildEvent*>(event)->child());
    } else if (event->type() == QEvent::KeyPress) {
        TranslateAccelerator(*static_cast<QKeyEvent*>(event));
    }
    return false;
}
