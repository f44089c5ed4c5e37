#include "FrameWebDiapositive.h"

#include "AtomicFile.h"
#include "Diapositive.h"
#include "MainThread.h"
#include "VitrelleRepository.h"

#include <QBuffer>
#include <QFileInfo>
#include <QMenu>
#include <QResizeEvent>

namespace {
const QString FullScreenItem = QStringLiteral("mnFullScreen");

void MakeBlack(QWidget& widget)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, Qt::black);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
    widget.setCursor(Qt::BlankCursor);
}
} // namespace

TFrameWebDiapositive::TFrameWebDiapositive(std::shared_ptr<const ISlideViewFactory> views, QWidget* parent)
    : QWidget(parent), FViews(std::move(views))
{
    Q_ASSERT(FViews != nullptr);
    MakeBlack(*this);
}

TFrameWebDiapositive::~TFrameWebDiapositive()
{
    FreeBrowsers();
}

void TFrameWebDiapositive::FreeBrowsers()
{
    FBack = nullptr;
    FFront = nullptr;
    FBrowserA.reset();
    FBrowserB.reset();
    FMenu.reset();
}

void TFrameWebDiapositive::CreateBrowsers()
{
    VC_ASSERT_MAIN_THREAD();
    FreeBrowsers();
    for (std::unique_ptr<ISlideView>* browser : {&FBrowserA, &FBrowserB}) {
        *browser = FViews->CreateView(this);
        QWidget& widget = (*browser)->Widget();
        widget.setCursor(Qt::BlankCursor);
        widget.setGeometry(rect());
        widget.show(); // never hidden: see the class comment
    }
    SetRoles(FBrowserB.get(), FBrowserA.get());

    FMenu = std::make_unique<QMenu>();
    QAction* item = FMenu->addAction(QStringLiteral("Plein écran"));
    item->setObjectName(FullScreenItem);
    item->setCheckable(true);
    item->setChecked(true);
    connect(item, &QAction::triggered, this, [this, item] { MenuClick(item); });
}

void TFrameWebDiapositive::SetRoles(ISlideView* back, ISlideView* front)
{
    FBack = back;
    FFront = front;
    back->OnReady = [this, back] { SlideReady(back); };
    back->OnKeyDown = nullptr;
    back->OnContextMenu = nullptr; // the back view has no menu
    front->OnReady = nullptr;
    front->OnKeyDown = [this](int key) { KeyDown(key); };
    front->OnContextMenu = [this](const QPoint& globalPos) {
        if (FMenu)
            FMenu->popup(globalPos); // does not wait for the choice: the show goes on meanwhile
    };
    front->Widget().raise();
}

void TFrameWebDiapositive::ShowPreparedSlide()
{
    VC_ASSERT_MAIN_THREAD();
    if (!FBrowserA || !FBrowserB)
        return;
    if (FFront == FBrowserA.get())
        SetRoles(FBrowserA.get(), FBrowserB.get());
    else
        SetRoles(FBrowserB.get(), FBrowserA.get());
    if (OnSlideShown)
        OnSlideShown();
}

bool TFrameWebDiapositive::PrepareSlide(const TDiapositive* slide, const TVitrelleRepository* repository)
{
    VC_ASSERT_MAIN_THREAD();
    if (slide == nullptr || repository == nullptr || FBack == nullptr)
        return false;
    const QString path = repository->DiapositiveFilePath(slide);
    if (path.isEmpty())
        return false;
    if (!QFileInfo::exists(path)) {
        // A page that failed to render is not cached: an empty page kept in the cache would be shown in
        // place of the slide until the vitrelle is updated, even after the template has been fixed.
        QBuffer page;
        page.open(QIODevice::WriteOnly);
        if (slide->Render(page))
            TAtomicFileWriter::WriteFile(path, page.data());
    }
    if (!QFileInfo(path).isFile())
        return false;
    FBack->Navigate(QUrl::fromLocalFile(path));
    return true;
}

void TFrameWebDiapositive::SlideReady(const ISlideView* sender)
{
    // A view that is no longer the back one shows its page already.
    if (sender == FBack && OnSlideReady)
        OnSlideReady();
}

void TFrameWebDiapositive::KeyDown(int key)
{
    if (key == Qt::Key_Escape && OnFullScreenRequest)
        OnFullScreenRequest(frToggle);
}

void TFrameWebDiapositive::MenuClick(const QAction* item)
{
    if (OnFullScreenRequest && item->objectName() == FullScreenItem)
        OnFullScreenRequest(item->isChecked() ? frEnter : frLeave);
}

void TFrameWebDiapositive::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    for (const std::unique_ptr<ISlideView>* browser : {&FBrowserA, &FBrowserB})
        if (*browser)
            (*browser)->Widget().setGeometry(rect());
}
