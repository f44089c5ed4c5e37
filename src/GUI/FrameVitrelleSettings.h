#pragma once

#include <QFrame>

class TPageEvents;
class TVitrelleCenterAgent;

// The Settings page of the main window.
class TFrameVitrelleSettings : public QFrame
{
    Q_OBJECT
public:
    TFrameVitrelleSettings(QWidget* owner, TVitrelleCenterAgent& agent, TPageEvents& events);
    ~TFrameVitrelleSettings() override;

private:
    TVitrelleCenterAgent& FAgent;
};
