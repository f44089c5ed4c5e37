#pragma once

#include <QObject>

// News the pages pass on to each other: the Settings page has loaded a new vitrelle list, or displays have
// appeared while the program runs. The main window owns it and gives it to every page.
class TPageEvents : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void VitrelleListChanged();
    void DevicesAdded();
};
