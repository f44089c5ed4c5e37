#pragma once

#include "SlideView.h"

#include <QFileInfo>
#include <QUrl>

#include <memory>

// A slide view that remembers the page it was sent to, so that a swap can be told which slide it shows.
class TWatchedView : public ISlideView
{
public:
    explicit TWatchedView(std::unique_ptr<ISlideView> inner) : FInner(std::move(inner))
    {
        FInner->OnReady = [this] {
            if (OnReady)
                OnReady();
        };
        FInner->OnKeyDown = [this](int key) {
            if (OnKeyDown)
                OnKeyDown(key);
        };
        FInner->OnContextMenu = [this](const QPoint& globalPos) {
            if (OnContextMenu)
                OnContextMenu(globalPos);
        };
    }
    QWidget& Widget() override { return FInner->Widget(); }
    void SetAccess(const TSlideAccess& access) override { FInner->SetAccess(access); }
    void Start() override { FInner->Start(); }
    qint64 UntilEndMs() const override { return FInner->UntilEndMs(); }
    void Navigate(const QUrl& url) override
    {
        FUrl = url;
        FInner->Navigate(url);
    }
    // The page's file name without its extension: the slide's id.
    QString SlideId() const { return QFileInfo(FUrl.toLocalFile()).completeBaseName(); }

private:
    std::unique_ptr<ISlideView> FInner;
    QUrl FUrl;
};

// Makes watched views around the views of another factory.
class TWatchedViewFactory : public ISlideViewFactory
{
public:
    explicit TWatchedViewFactory(std::shared_ptr<const ISlideViewFactory> inner) : FInner(std::move(inner)) {}
    std::unique_ptr<ISlideView> CreateView(QWidget* parent) const override
    {
        return std::make_unique<TWatchedView>(FInner->CreateView(parent));
    }

private:
    std::shared_ptr<const ISlideViewFactory> FInner;
};
