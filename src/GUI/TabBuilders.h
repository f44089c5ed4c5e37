#pragma once

#include "ActionList.h"

#include <QString>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTimeEdit;
class QWidget;

// Builders of the controls that the pages put on their tabs, one tab per device or vitrelle, and of the grid
// that lays them out. The pages keep the controls they make in typed structs; a control made on a tab sheet
// is also named after its base name followed by the tab's index (edDeviceName on the first tab is
// edDeviceName0), which tests and tools find it by; on any other parent it keeps its base name.

// A new last tab of the page control, captioned; the controls of the tab are built on it.
QWidget* AddTabSheet(QTabWidget* pageControl, const QString& caption);
// Removes the tab and frees its sheet; the controls of the tabs after it, now one index lower, are renamed
// to carry their new index (edDeviceName2 becomes edDeviceName1).
void RemoveTabSheet(QTabWidget* pageControl, int index);
// A tab caption that shows the text as it is (a name from the content server): an "&" in it is shown, not
// taken for a keyboard shortcut.
QString LiteralTabCaption(const QString& text);
// The index of the tab sheet in its page control; -1 for a widget that is not a tab sheet.
int TabSheetIndex(const QWidget* sheet);
// The base name, followed by the index when the parent is a tab sheet.
QString TabControlName(const QWidget* parent, const QString& name);

// The controls, made without a position for a layout of the parent to place. A width given is the least the
// control takes (what the operator's texts need); it takes more when its font needs more. A label's text is
// plain text, whatever it holds (names and messages from the content server among them): markup is shown as
// it is, never rendered or followed.
QLabel* CreateTabLabel(QWidget* parent, const QString& name, const QString& caption, bool bold = false);
QLineEdit* CreateTabEdit(QWidget* parent, const QString& name, const QString& text, int width);
QCheckBox* CreateTabCheckBox(QWidget* parent, const QString& name, const QString& caption);
// No minimum and no maximum: the whole int range.
QSpinBox* CreateTabSpinEdit(QWidget* parent, const QString& name, int value, int width);
// A drop-down list: only its items can be chosen. A list of the program's own texts (wholeItems) is as wide
// as its longest item, whatever the width given; one of names from the content server may cut a long one.
QComboBox* CreateTabComboBox(QWidget* parent, const QString& name, int width, bool wholeItems = false);
// A time of day, "HH:mm", with up-down arrows.
QTimeEdit* CreateTabTimePicker(QWidget* parent, const QString& name);
// Linked to the action when one is given: it then takes the action's caption and enabled state.
QPushButton* CreateTabButton(QWidget* parent, const QString& name, const QString& caption, QAction* action,
                             int width);

// The grid the pages lay a sheet out on: bold headers at its left edge (column 0, spanning the row), the
// captions of the rows under them indented (column 1, at least captionWidth wide, so that the fields of the
// column after it line up), the fields from column 2 on. A row with a control in it is at least as high as
// an edit at the default font, rowSpacing pixels from the next. A null sheet gives a grid to nest in another
// layout.
QGridLayout* CreateTabGrid(QWidget* sheet, int captionWidth, int rowSpacing = 5);
// Once every control is in: the column and the row after the last ones used take what room is left, so
// that the controls keep to the top left as the sheet grows.
void FinishTabGrid(QGridLayout* grid);
// Adds the header in a row of its own, the next one; a little room above it unless it is the first row.
void AddTabHeader(QGridLayout* grid, QLabel* header);
// Puts the control in the cell at its own width, at the left of the cell (it takes its columns' whole
// width with stretch).
void PlaceInTabGrid(QGridLayout* grid, QWidget* control, int row, int column, int rowSpan = 1,
                    int columnSpan = 1, bool stretch = false);
// An action owned by the tab, with both handlers, kept in the page's action list.
QAction* CreateTabAction(QWidget* parent, const QString& name, const QString& caption, TActionList& list,
                         TActionList::TUpdateHandler update, std::function<void()> execute);
