#include "TabBuilders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimeEdit>

#include <algorithm>
#include <limits>

QWidget* AddTabSheet(QTabWidget* pageControl, const QString& caption)
{
    auto* sheet = new QWidget;
    pageControl->addTab(sheet, caption);
    return sheet;
}

void RemoveTabSheet(QTabWidget* pageControl, int index)
{
    if (pageControl == nullptr || index < 0 || index >= pageControl->count())
        return;
    QWidget* sheet = pageControl->widget(index);
    pageControl->removeTab(index);
    delete sheet;
    for (int moved = index; moved < pageControl->count(); ++moved) {
        const QString oldSuffix = QString::number(moved + 1);
        const QString newSuffix = QString::number(moved);
        for (QObject* control : pageControl->widget(moved)->findChildren<QObject*>()) {
            const QString name = control->objectName();
            if (name.size() > oldSuffix.size() && name.endsWith(oldSuffix))
                control->setObjectName(name.chopped(oldSuffix.size()) + newSuffix);
        }
    }
}

QString LiteralTabCaption(const QString& text)
{
    QString caption = text;
    caption.replace(QLatin1Char('&'), QLatin1String("&&"));
    return caption;
}

int TabSheetIndex(const QWidget* sheet)
{
    if (sheet == nullptr)
        return -1;
    // A tab's page sits in the page control's stack.
    const auto* stack = qobject_cast<const QStackedWidget*>(sheet->parentWidget());
    const auto* pageControl =
        stack != nullptr ? qobject_cast<const QTabWidget*>(stack->parentWidget()) : nullptr;
    return pageControl != nullptr ? pageControl->indexOf(const_cast<QWidget*>(sheet)) : -1;
}

QString TabControlName(const QWidget* parent, const QString& name)
{
    const int index = TabSheetIndex(parent);
    return index < 0 ? name : name + QString::number(index);
}

namespace {

// At least the width given; the height the style gives the control in its font.
template <class TControl> TControl* AtLeast(TControl* control, int width)
{
    control->setMinimumWidth(width);
    return control;
}

// Rows of the tab grids: the captions stand this far right of the headers.
constexpr int CaptionIndent = 8;
constexpr int GridSpacing = 6;
// The least height of a row of controls: an edit's at the default font.
constexpr int RowHeight = 21;

} // namespace

QLabel* CreateTabLabel(QWidget* parent, const QString& name, const QString& caption, bool bold)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(caption);
    label->setObjectName(TabControlName(parent, name));
    if (bold) {
        QFont font; // only the weight: the rest follows the page's font
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

QLineEdit* CreateTabEdit(QWidget* parent, const QString& name, const QString& text, int width)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(TabControlName(parent, name));
    return AtLeast(edit, width);
}

QCheckBox* CreateTabCheckBox(QWidget* parent, const QString& name, const QString& caption)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(TabControlName(parent, name));
    return box;
}

QSpinBox* CreateTabSpinEdit(QWidget* parent, const QString& name, int value, int width)
{
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(TabControlName(parent, name));
    spin->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    spin->setValue(value);
    // The whole int range would make it as wide as its longest number.
    spin->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    spin->setMinimumWidth(width);
    spin->setMaximumWidth(
        std::max(width, spin->fontMetrics().horizontalAdvance(QStringLiteral("00000")) * 2));
    return spin;
}

QComboBox* CreateTabComboBox(QWidget* parent, const QString& name, int width, bool wholeItems)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(TabControlName(parent, name));
    combo->setEditable(false);
    if (!wholeItems)
        return AtLeast(combo, width);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    combo->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed); // its size hint is its least
    return combo;
}

QTimeEdit* CreateTabTimePicker(QWidget* parent, const QString& name)
{
    auto* picker = new QTimeEdit(parent);
    picker->setObjectName(TabControlName(parent, name));
    picker->setDisplayFormat(QStringLiteral("HH:mm"));
    picker->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    return AtLeast(picker, 60);
}

QPushButton* CreateTabButton(QWidget* parent, const QString& name, const QString& caption, QAction* action,
                             int width)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(TabControlName(parent, name));
    if (action != nullptr)
        LinkButton(button, action, true);
    return AtLeast(button, width);
}

QGridLayout* CreateTabGrid(QWidget* sheet, int captionWidth, int rowSpacing)
{
    auto* grid = new QGridLayout(sheet);
    grid->setContentsMargins(4, 8, 4, 4);
    grid->setHorizontalSpacing(GridSpacing);
    grid->setVerticalSpacing(rowSpacing);
    // Column 0 only indents the captions: with the spacing after it, they stand CaptionIndent right of
    // the headers.
    grid->setColumnMinimumWidth(0, CaptionIndent - GridSpacing);
    grid->setColumnMinimumWidth(1, captionWidth);
    return grid;
}

void AddTabHeader(QGridLayout* grid, QLabel* header)
{
    const int row = grid->rowCount() == 1 && grid->count() == 0 ? 0 : grid->rowCount();
    if (row > 0)
        grid->setRowMinimumHeight(row, header->sizeHint().height() + 8);
    grid->addWidget(header, row, 0, 1, -1, Qt::AlignLeft | Qt::AlignBottom);
}

void PlaceInTabGrid(QGridLayout* grid, QWidget* control, int row, int column, int rowSpan, int columnSpan,
                    bool stretch)
{
    grid->addWidget(control, row, column, rowSpan, columnSpan,
                    stretch ? Qt::Alignment() : Qt::AlignLeft | Qt::AlignVCenter);
    if (rowSpan == 1 && grid->rowMinimumHeight(row) < RowHeight)
        grid->setRowMinimumHeight(row, RowHeight);
}

void FinishTabGrid(QGridLayout* grid)
{
    grid->setColumnStretch(grid->columnCount(), 1);
    grid->setRowStretch(grid->rowCount(), 1);
}

QAction* CreateTabAction(QWidget* parent, const QString& name, const QString& caption, TActionList& list,
                         TActionList::TUpdateHandler update, std::function<void()> execute)
{
    return list.CreateAction(TabControlName(parent, name), caption, std::move(update), std::move(execute),
                             parent);
}
