#pragma once

#include <QFrame>

class TPageEvents;
class TVitrelleCenterAgent;

// The Vitrelles page of the main window.
class TFrameVitrellePlayer : public QFrame
{
    Q_OBJECT
public:
    TFrameVitrellePlayer(QWidget* owner, TVitrelleCenterAgent& agent, TPageEvents& events);
    ~TFrameVitrellePlayer() override;

private:
    TVitrelleCenterAgent& FAgent;
};
