#pragma once

#include <QFrame>

class TPageEvents;
class TVitrelleCenterAgent;

// The Devices page of the main window.
class TFrameVitrelleDevice : public QFrame
{
    Q_OBJECT
public:
    TFrameVitrelleDevice(QWidget* owner, TVitrelleCenterAgent& agent, TPageEvents& events);
    ~TFrameVitrelleDevice() override;

private:
    TVitrelleCenterAgent& FAgent;
};
