#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWebEngineView>

class QKeyEvent;
class QWidget;

// The host of one web view: the object that shapes how the view looks and behaves inside the program's
// windows. This neutral host changes nothing, so the engine's defaults stay in force everywhere (its scroll
// bars, its own context menu, its handling of keys); derived hosts override the steps below.
//
// Keys reach a page through the view's render widget (its focus proxy), which the engine creates when the
// first page loads and replaces when a renderer is recreated or the view gets another page. The host follows
// every render widget the view takes on, so it sees each key the page sees. Destroying the host detaches it:
// the view never calls back into a freed host. Main thread only.
class TNulWBContainer : public QObject
{
    Q_OBJECT
public:
    // A null view is a programming error. The host does not own the view; either may be destroyed first.
    explicit TNulWBContainer(QWebEngineView* browser);
    ~TNulWBContainer() override;
    TNulWBContainer(const TNulWBContainer&) = delete;
    TNulWBContainer& operator=(const TNulWBContainer&) = delete;

    // Null once the view has been destroyed.
    QWebEngineView* HostedBrowser() const { return FHostedBrowser.data(); }

protected:
    // A key press on its way to the page. The page gets the key whatever the host does with it.
    virtual void TranslateAccelerator(const QKeyEvent& event);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Installs the host on the view and its render widgets (true), or takes it off again (false).
    void AttachSite(bool attach);
    void Follow(QObject* child);

    QPointer<QWebEngineView> FHostedBrowser;
    QList<QPointer<QWidget>> FRenderWidgets;
};
