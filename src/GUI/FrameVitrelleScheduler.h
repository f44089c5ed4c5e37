#pragma once

#include <QFrame>

class TPageEvents;
class TVitrelleCenterAgent;

// The Schedule page of the main window.
class TFrameVitrelleScheduler : public QFrame
{
    Q_OBJECT
public:
    TFrameVitrelleScheduler(QWidget* owner, TVitrelleCenterAgent& agent, TPageEvents& events);
    ~TFrameVitrelleScheduler() override;

private:
    TVitrelleCenterAgent& FAgent;
};
