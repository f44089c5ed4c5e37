#pragma once

#include "ActionList.h"

#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTimeEdit;
class QWidget;

// Builders of the controls that the pages put on their tabs, one tab per device or vitrelle. A control made
// on a tab sheet is named after its base name followed by the tab's index (edDeviceName on the first tab is
// edDeviceName0), so that FindControlOnPage finds it again; on any other parent it keeps its base name.
// Positions are in pixels from the parent's top left; heights are fixed per kind but never below what the
// style needs to draw the control whole.

// A new last tab of the page control, captioned; the controls of the tab are built on it.
QWidget* AddTabSheet(QTabWidget* pageControl, const QString& caption);
// Removes the tab and frees its sheet; the controls of the tabs after it, now one index lower, are renamed
// to carry their new index (edDeviceName2 becomes edDeviceName1), as lookups by index expect.
void RemoveTabSheet(QTabWidget* pageControl, int index);
// A tab caption that shows the text as it is (a name from the content server): an "&" in it is shown, not
// taken for a keyboard shortcut.
QString LiteralTabCaption(const QString& text);
// The index of the tab sheet in its page control; -1 for a widget that is not a tab sheet.
int TabSheetIndex(const QWidget* sheet);
// The base name, followed by the index when the parent is a tab sheet.
QString TabControlName(const QWidget* parent, const QString& name);

// Its text is plain text, whatever it holds (names and messages from the content server among them): markup
// is shown as it is, never rendered or followed.
QLabel* CreateTabLabel(QWidget* parent, const QString& name, const QString& caption, bool bold, int top,
                       int left);
QLineEdit* CreateTabEdit(QWidget* parent, const QString& name, const QString& text, int width, int top,
                         int left);
QCheckBox* CreateTabCheckBox(QWidget* parent, const QString& name, const QString& caption, int top, int left);
// No minimum and no maximum: the whole int range.
QSpinBox* CreateTabSpinEdit(QWidget* parent, const QString& name, int left, int value, int width, int top);
// A drop-down list: only its items can be chosen.
QComboBox* CreateTabComboBox(QWidget* parent, const QString& name, int left, int width, int top);
// A time of day, "HH:mm", with up-down arrows.
QTimeEdit* CreateTabTimePicker(QWidget* parent, const QString& name, int left, int top);
// Linked to the action when one is given: it then takes the action's caption and enabled state.
QPushButton* CreateTabButton(QWidget* parent, const QString& name, const QString& caption, QAction* action,
                             int width, int top, int left);
// An action owned by the tab, with both handlers, kept in the page's action list.
QAction* CreateTabAction(QWidget* parent, const QString& name, const QString& caption, TActionList& list,
                         TActionList::TUpdateHandler update, std::function<void()> execute);
