#include "FakeSlideView.h"

#include "Errors.h"
#include "MainThread.h"

TFakeSlideView::TFakeSlideView(QWidget* parent) : QWidget(parent)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
}

void TFakeSlideView::Navigate(const QUrl& url)
{
    VC_ASSERT_MAIN_THREAD();
    if (FailNavigate)
        throw EVitrelleError(QStringLiteral("The view cannot load %1").arg(url.toString()));
    Navigations.append(url);
    if (ReadyAtOnce)
        MakeReady();
}

void TFakeSlideView::MakeReady()
{
    VC_ASSERT_MAIN_THREAD();
    if (!Navigations.isEmpty() && OnReady)
        OnReady();
}

void TFakeSlideView::PressKey(int key)
{
    if (OnKeyDown)
        OnKeyDown(key);
}

void TFakeSlideView::RequestContextMenu(const QPoint& globalPos)
{
    if (OnContextMenu)
        OnContextMenu(globalPos);
}

std::unique_ptr<ISlideView> TFakeSlideViewFactory::CreateView(QWidget* parent) const
{
    auto view = std::make_unique<TFakeSlideView>(parent);
    view->ReadyAtOnce = ReadyAtOnce;
    view->UntilEnd = UntilEnd;
    FViews.emplace_back(view.get());
    return view;
}
