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
    if (FBack == nullptr)
        return false;
    TSlidePageFile page(slide, repository);
    page.Make();
    return LoadPage(page.Path());
}

bool TFrameWebDiapositive::LoadPage(const QString& path)
{
    VC_ASSERT_MAIN_THREAD();
    if (FBack == nullptr || path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    FBack->Navigate(QUrl::fromLocalFile(path));
    return true;
}

// ---- TSlidePageFile ----

TSlidePageFile::TSlidePageFile(const TDiapositive* slide, const TVitrelleRepository* repository)
{
    VC_ASSERT_MAIN_THREAD();
    if (slide == nullptr || repository == nullptr)
        return;
    FPath = repository->DiapositiveFilePath(slide);
    // A page in the cache is shown as it is; the template is only compiled for a page to make.
    if (!FPath.isEmpty() && !QFileInfo::exists(FPath))
        FRender = TDiapositiveRender::Take(*slide);
}

TSlidePageFile::~TSlidePageFile() = default;
TSlidePageFile::TSlidePageFile(TSlidePageFile&&) noexcept = default;
TSlidePageFile& TSlidePageFile::operator=(TSlidePageFile&&) noexcept = default;

bool TSlidePageFile::Make(const std::function<bool()>& stop)
{
    if (FPath.isEmpty())
        return false;
    // Asked again here: another display may have made the page meanwhile.
    if (FRender != nullptr && !QFileInfo::exists(FPath)) {
        QBuffer page;
        page.open(QIODevice::WriteOnly);
        if (FRender->Render(page, stop)) {
            TAtomicFileWriter::WriteFile(FPath, page.data());
            FWritten = true;
        }
    }
    FRender.reset();
    return QFileInfo(FPath).isFile();
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
