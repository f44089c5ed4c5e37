#pragma once

#include "SlideView.h"

#include <QWidget>

#include <functional>
#include <memory>

class QMenu;
class TDiapositive;
class TDiapositiveRender;
class TVitrelleRepository;

// What a slide's page may reach: its name for log lines ("Slide <id> of vitrelle <id>"), the cache and
// template folders, the origins of the content server's URLs (the settings' media and vitrelle URLs, the
// media and type URLs of every slide type) with those the settings add, and sound when the settings allow
// it. Main thread (the type registry).
TSlideAccess SlideAccessOf(const TDiapositive& slide, const QString& vitrelleName,
                           const TVitrelleRepository& repository);

// The cached page of one slide, made where it cannot hold the window: taken on the main thread (where the
// page goes, and a copy of what rendering needs), made on a worker (the transform and the atomic write with
// its flush), then loaded into the back view on the main thread (TFrameWebDiapositive::LoadPage).
//
// Only a page this program has rendered in this run is shown: each page written is noted with its content
// (RenderedHere), a page found in the cache that is not so noted (left by an earlier run, or put there by
// anything else, such as a download) is rendered anew, and one whose content has changed since it was
// written is not shown (level 1).
class TSlidePageFile
{
public:
    // Main thread. The slide and the repository are not used afterwards.
    TSlidePageFile(const TDiapositive* slide, const TVitrelleRepository* repository);
    ~TSlidePageFile();
    TSlidePageFile(TSlidePageFile&&) noexcept;
    TSlidePageFile& operator=(TSlidePageFile&&) noexcept;

    // Any thread, one at a time: renders the page into the cache when its file is missing. A page that
    // failed to render is not cached: an empty page kept in the cache would be shown in place of the slide
    // until the vitrelle is updated, even after the template has been fixed. True when the page file is
    // there. stop: see TDiapositiveRender::Render.
    bool Make(const std::function<bool()>& stop = {});

    // Empty when the slide has no page (no type, or an id that names no file).
    const QString& Path() const { return FPath; }
    // Make wrote the page (it was not in the cache).
    bool Written() const { return FWritten; }
    // The file holds what this program rendered into it in this run. Any thread.
    static bool RenderedHere(const QString& path);
    // Forgets the page at that path (it is being removed). Any thread.
    static void Forget(const QString& path);

private:
    QString FPath;
    std::unique_ptr<TDiapositiveRender> FRender; // null once the page is known to be there, or cannot be made
    bool FWritten = false;
};

// What the slide window is asked for from its slide stack (Escape, the context menu).
enum TFullScreenRequest : quint8
{
    frEnter = 0,
    frLeave = 1,
    frToggle = 2,
};

// The slide window's slide stack (the class keeps the name its log lines carry): two slide views stacked on
// top of each other, both shown and the same size. The front one shows the current slide; the back one loads
// the next. A swap only raises the back view over the front one: a hidden view would not be painted and would
// show an old page for a few frames when revealed. Main thread only.
class TFrameWebDiapositive : public QWidget
{
    Q_OBJECT
public:
    explicit TFrameWebDiapositive(std::shared_ptr<const ISlideViewFactory> views, QWidget* parent = nullptr);
    // The views go before the stack's other children.
    ~TFrameWebDiapositive() override;

    // Makes the two views and the context menu anew (those of an earlier play are freed): the first view is
    // the front, the second the back.
    void CreateBrowsers();
    // The back view reports its slide ready; the front one takes the keys and the context menu, and is
    // raised over the back one.
    void SetRoles(ISlideView* back, ISlideView* front);
    // The back view, which holds the prepared slide, becomes the front one and starts its videos;
    // OnSlideShown follows once it has been raised.
    void ShowPreparedSlide();
    // Starts loading the slide's page into the back view: the page is rendered into the cache first when its
    // file is missing. False when there is no page to load (nothing is cached when rendering fails). Renders
    // on the calling thread: the player makes the page on its worker (TSlidePageFile) and calls LoadPage.
    bool PrepareSlide(const TDiapositive* slide, const TVitrelleRepository* repository);
    // Starts loading the page file into the back view, which may reach what access gives. False when there
    // is no back view, no such file, or a file this program did not render in this run (logged, level 1).
    bool LoadPage(const QString& path, const TSlideAccess& access = {});

    ISlideView* Back() const { return FBack; }
    ISlideView* Front() const { return FFront; }
    // The front view's context menu; null before CreateBrowsers.
    QMenu* Menu() const { return FMenu.get(); }

    // The back view has loaded and painted the slide of the last PrepareSlide.
    std::function<void()> OnSlideReady;
    // The prepared slide's view has just been raised over the other one: the moment a viewer sees the swap.
    // For measurements; raised on every swap, so it must stay cheap.
    std::function<void()> OnSlideShown;
    std::function<void(TFullScreenRequest)> OnFullScreenRequest;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FreeBrowsers();
    void SlideReady(const ISlideView* sender);
    void KeyDown(int key);
    void MenuClick(const QAction* item);

    const std::shared_ptr<const ISlideViewFactory> FViews;
    std::unique_ptr<ISlideView> FBrowserA;
    std::unique_ptr<ISlideView> FBrowserB;
    ISlideView* FBack = nullptr;
    ISlideView* FFront = nullptr;
    std::unique_ptr<QMenu> FMenu;
};
