#pragma once

#include "NulContainer.h"

#include <QPointer>
#include <QString>

#include <functional>

class QMenu;
class QPoint;

// The host the slide windows give their web views: it can take the scroll bars away, replace the engine's
// context menu with the program's own, hand the page a style sheet of the host's, and reports key presses
// before the page handles them. The settings apply to the view's current page, and to the documents it loads
// from then on; after the view gets another page, UpdateHostInfo applies them to that one. Destroying the
// host gives the view its engine defaults back. Main thread only.
class TWBContainer : public TNulWBContainer
{
    Q_OBJECT
public:
    explicit TWBContainer(QWebEngineView* browser);
    ~TWBContainer() override;

    // Instead of the engine's context menu: OnContextMenu, and PopupMenu when there is one; nothing else,
    // ever. Off: the engine's own menu.
    bool GetUseCustomCtxMenu() const { return FUseCustomCtxMenu; }
    void SetUseCustomCtxMenu(bool value);
    // Off: documents show no scroll bars.
    bool GetShowScrollBars() const { return FShowScrollBars; }
    void SetShowScrollBars(bool value);
    // The engine draws no border around its documents, so there is nothing to take away; the setting is kept
    // for the callers that state it.
    bool GetShow3DBorder() const { return FShow3DBorder; }
    void SetShow3DBorder(bool value) { FShow3DBorder = value; }
    // Off: the text of documents cannot be selected, as in a dialog.
    bool GetAllowTextSelection() const { return FAllowTextSelection; }
    void SetAllowTextSelection(bool value);
    // A style sheet every document of the view gets, after its own (its frames included).
    QString GetHostCSS() const { return FHostCSS; }
    void SetHostCSS(const QString& value);

    // Applies the settings to the view's current page (a view that got a new page needs this once).
    void UpdateHostInfo();

    // Pops up where the user asked for a context menu, while UseCustomCtxMenu is on. Not owned.
    QPointer<QMenu> PopupMenu;
    // A key press (its Qt::Key code) before the page handles it; auto-repeats included, releases not.
    std::function<void(int key)> OnKeyDown;
    // The user asked for a context menu at this global position, while UseCustomCtxMenu is on; raised before
    // PopupMenu pops up.
    std::function<void(const QPoint& globalPos)> OnContextMenu;

protected:
    void TranslateAccelerator(const QKeyEvent& event) override;

private:
    void ShowContextMenu(const QPoint& position);
    // The style sheet the documents get from the host: HostCSS and the selection rule; empty: none.
    QString HostStyleSheet() const;

    bool FUseCustomCtxMenu = false;
    bool FShowScrollBars = true;
    bool FShow3DBorder = true;
    bool FAllowTextSelection = true;
    QString FHostCSS;
};
