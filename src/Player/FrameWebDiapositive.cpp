#include "FrameWebDiapositive.h"

#include "AtomicFile.h"
#include "Diapositive.h"
#include "DiapositiveType.h"
#include "Log.h"
#include "MainThread.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleRepository.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMenu>
#include <QRegularExpression>
#include <QResizeEvent>

#include <mutex>

namespace {
const QString FullScreenItem = QStringLiteral("mnFullScreen");

constexpr QLatin1StringView LogSource{"TFrameWebDiapositive"};

// The pages this program has written in this run, by path, with the hash of their content.
std::mutex RenderedMutex;
QHash<QString, QByteArray>& Rendered()
{
    static QHash<QString, QByteArray> pages;
    return pages;
}

QByteArray ContentHash(const QByteArray& content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256);
}

// The origin of a URL template of the content server ("%s" marks where an id goes); empty when it names none.
QString OriginOfTemplate(QString text)
{
    text.replace(QStringLiteral("%s"), QStringLiteral("x"));
    const QUrl url(text.trimmed());
    const QString scheme = url.scheme().toLower();
    if ((scheme != QStringLiteral("http") && scheme != QStringLiteral("https")) || url.host().isEmpty())
        return {};
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
        .toString(QUrl::FullyEncoded);
}

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
    // Its videos have waited at their first frame, which is on screen now.
    FFront->Start();
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

bool TFrameWebDiapositive::LoadPage(const QString& path, const TSlideAccess& access)
{
    VC_ASSERT_MAIN_THREAD();
    if (FBack == nullptr || path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    if (!TSlidePageFile::RenderedHere(path)) {
        WriteLog(
            LogSource, 1,
            QStringLiteral("The page %1 is not the one this program rendered; it is not shown").arg(path));
        return false;
    }
    FBack->SetAccess(access);
    FBack->Navigate(QUrl::fromLocalFile(path));
    return true;
}

TSlideAccess SlideAccessOf(const TDiapositive& slide, const QString& vitrelleName,
                           const TVitrelleRepository& repository)
{
    VC_ASSERT_MAIN_THREAD();
    const TVitrelleCenterSettings& settings = repository.Settings();
    TSlideAccess access;
    access.Name = QStringLiteral("Slide %1 of vitrelle %2").arg(slide.Id, vitrelleName);
    access.Folders << settings.GetRepositoryPath() << settings.GetTemplatePath();
    access.Sound = settings.SlideVideoSound;
    QStringList templates{settings.HttpSettings().MediaURL, settings.HttpSettings().VitrelleURL};
    for (const std::unique_ptr<TDiapositiveType>& type : TDiapositiveType::Types())
        templates << type->URL << type->MediaURL;
    templates << settings.SlideAllowedOrigins.split(QRegularExpression(QStringLiteral("\\s+")),
                                                    Qt::SkipEmptyParts);
    for (const QString& text : std::as_const(templates)) {
        const QString origin = OriginOfTemplate(text);
        if (!origin.isEmpty() && !access.Origins.contains(origin))
            access.Origins << origin;
    }
    return access;
}

// ---- TSlidePageFile ----

bool TSlidePageFile::RenderedHere(const QString& path)
{
    QByteArray expected;
    {
        const std::lock_guard lock(RenderedMutex);
        const auto found = Rendered().constFind(path);
        if (found == Rendered().constEnd())
            return false;
        expected = *found;
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && ContentHash(file.readAll()) == expected;
}

void TSlidePageFile::Forget(const QString& path)
{
    const std::lock_guard lock(RenderedMutex);
    Rendered().remove(path);
}

TSlidePageFile::TSlidePageFile(const TDiapositive* slide, const TVitrelleRepository* repository)
{
    VC_ASSERT_MAIN_THREAD();
    if (slide == nullptr || repository == nullptr)
        return;
    FPath = repository->DiapositiveFilePath(slide);
    // A page this run has rendered is shown as it is; the template is only compiled for a page to make.
    bool known = false;
    {
        const std::lock_guard lock(RenderedMutex);
        known = Rendered().contains(FPath);
    }
    if (!FPath.isEmpty() && !(known && QFileInfo::exists(FPath)))
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
    if (FRender != nullptr && !RenderedHere(FPath)) {
        QBuffer page;
        page.open(QIODevice::WriteOnly);
        if (FRender->Render(page, stop)) {
            TAtomicFileWriter::WriteFile(FPath, page.data());
            const std::lock_guard lock(RenderedMutex);
            Rendered().insert(FPath, ContentHash(page.data()));
            FWritten = true;
        }
    }
    FRender.reset();
    if (RenderedHere(FPath))
        return true;
    // Changed since it was written: made anew the next time round.
    Forget(FPath);
    return false;
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
