#include "ControlLookup.h"

#include <QTabWidget>
#include <QWidget>

QWidget* FindControlByName(QWidget* container, const QString& name)
{
    if (container == nullptr || name.isEmpty())
        return nullptr;
    for (QObject* child : container->children()) {
        auto* control = qobject_cast<QWidget*>(child);
        if (control == nullptr)
            continue;
        if (control->objectName() == name)
            return control;
        if (QWidget* found = FindControlByName(control, name))
            return found;
    }
    return nullptr;
}

QWidget* FindControlOnPage(QTabWidget* pageControl, int pageIndex, const QString& prefix)
{
    if (pageControl == nullptr || prefix.isEmpty() || pageIndex < 0 || pageIndex >= pageControl->count())
        return nullptr;
    return FindControlByName(pageControl->widget(pageIndex), prefix + QString::number(pageIndex));
}
