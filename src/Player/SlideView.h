#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class QWidget;

// What the pages of a view may reach besides nothing: the slide they show, named in log lines ("Slide <id>
// of vitrelle <id>"), the local folders they may read (the cache and the templates: a page's own files), the
// network origins (scheme://host[:port]) they may load from (the content server's), and the speakers (off:
// the pages are muted).
struct TSlideAccess
{
    QString Name;
    QStringList Folders;
    QStringList Origins;
    bool Sound = false;
};

// One of the two stacked browsers of a slide window, configured for a kiosk: no scroll bars, no menu of its
// own, no dialogs, no navigation away from the slide, no new windows, downloads or permissions, no mouse
// cursor, black underneath. Main thread only.
class ISlideView
{
public:
    virtual ~ISlideView() = default;

    // The widget stacked in the slide window's frame. It stays shown for the view's whole life: a hidden web
    // view is not painted, and revealing it would show an old page for a few frames.
    virtual QWidget& Widget() = 0;

    // Stops a load that is still running, then loads the page. OnReady follows once this page has loaded and
    // painted one frame; an earlier navigation reports nothing any more.
    virtual void Navigate(const QUrl& url) = 0;
    // What the pages of the next Navigate may reach; until the first call, their own file alone.
    virtual void SetAccess(const TSlideAccess& access) { (void)access; }

    // The page of the last Navigate has started to show: its videos, held at their first frame since the
    // page was ready, play from there. Called at the swap that raises the view.
    virtual void Start() {}
    // Once ready: how long the page asks to stay on screen, in ms (its videos that play to their end); -1
    // when it does not ask.
    virtual qint64 UntilEndMs() const { return -1; }

    // The page of the last Navigate has loaded and is painted, with the first frame of each of its videos.
    std::function<void()> OnReady;
    // A key was pressed in the view; raised before the page handles the key, which still gets it.
    std::function<void(int key)> OnKeyDown;
    // The user asked for a context menu at this global position; the view never shows a menu of its own.
    std::function<void(const QPoint& globalPos)> OnContextMenu;
};

// Makes the slide views of the slide windows.
class ISlideViewFactory
{
public:
    virtual ~ISlideViewFactory() = default;
    virtual std::unique_ptr<ISlideView> CreateView(QWidget* parent) const = 0;
};
