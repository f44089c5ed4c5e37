#pragma once

// Tests find the pages' controls by the object names the pages give them; the program itself keeps
// pointers to its controls and never looks them up.

#include <QString>

class QTabWidget;
class QWidget;

// The first control below container whose object name is exactly name: children in their order, each one
// checked, then searched depth first, before the next. Null for a null container, an empty name or no match.
QWidget* FindControlByName(QWidget* container, const QString& name);

// The control named prefix + index on the page of that index (edDeviceName on page 2 looks for
// edDeviceName2). Null for a null page control, an empty prefix or an index outside the pages.
QWidget* FindControlOnPage(QTabWidget* pageControl, int pageIndex, const QString& prefix);
