#include "TabBuilders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimeEdit>

#include <algorithm>
#include <limits>

namespace {

// Places the control; the height is the kind's, or what the style needs when that is more.
template <class TControl> TControl* Place(TControl* control, int left, int top, int width, int height)
{
    control->setGeometry(left, top, width, std::max(height, control->sizeHint().height()));
    return control;
}

} // namespace

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

QLabel* CreateTabLabel(QWidget* parent, const QString& name, const QString& caption, bool bold, int top,
                       int left)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(caption);
    label->setObjectName(TabControlName(parent, name));
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    label->setGeometry(left, top, 150, 13);
    label->adjustSize(); // sized to its text
    return label;
}

QLineEdit* CreateTabEdit(QWidget* parent, const QString& name, const QString& text, int width, int top,
                         int left)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(TabControlName(parent, name));
    return Place(edit, left, top, width, 21);
}

QCheckBox* CreateTabCheckBox(QWidget* parent, const QString& name, const QString& caption, int top, int left)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(TabControlName(parent, name));
    return Place(box, left, top, 150, 13);
}

QSpinBox* CreateTabSpinEdit(QWidget* parent, const QString& name, int left, int value, int width, int top)
{
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(TabControlName(parent, name));
    spin->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    spin->setValue(value);
    return Place(spin, left, top, width, 23);
}

QComboBox* CreateTabComboBox(QWidget* parent, const QString& name, int left, int width, int top)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(TabControlName(parent, name));
    combo->setEditable(false);
    return Place(combo, left, top, width, 21);
}

QTimeEdit* CreateTabTimePicker(QWidget* parent, const QString& name, int left, int top)
{
    auto* picker = new QTimeEdit(parent);
    picker->setObjectName(TabControlName(parent, name));
    picker->setDisplayFormat(QStringLiteral("HH:mm"));
    picker->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    return Place(picker, left, top, 60, 21);
}

QPushButton* CreateTabButton(QWidget* parent, const QString& name, const QString& caption, QAction* action,
                             int width, int top, int left)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(TabControlName(parent, name));
    if (action != nullptr)
        LinkButton(button, action, true);
    return Place(button, left, top, width, 25);
}

QAction* CreateTabAction(QWidget* parent, const QString& name, const QString& caption, TActionList& list,
                         TActionList::TUpdateHandler update, std::function<void()> execute)
{
    return list.CreateAction(TabControlName(parent, name), caption, std::move(update), std::move(execute),
                             parent);
}
