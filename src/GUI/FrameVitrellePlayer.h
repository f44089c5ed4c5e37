#pragma once

#include <QFrame>

class QAction;
class QComboBox;
class QTabWidget;
class TActionList;
class TPageEvents;
class TVitrelleCenterAgent;

// The Vitrelles page of the main window: one tab per display device, on which the operator picks a vitrelle
// of the list and a slide duration, and plays or stops it on that device by hand.
class TFrameVitrellePlayer : public QFrame
{
    Q_OBJECT
public:
    TFrameVitrellePlayer(QWidget* owner, TVitrelleCenterAgent& agent, TPageEvents& events);
    ~TFrameVitrellePlayer() override;

    // Refills every tab's vitrelle names from the repository's list, keeping each tab's choice while its
    // name is still listed.
    void FillVitrelles();
    // A tab for every device of the agent that has none yet.
    void AddDeviceTabs();

private:
    void AddDeviceTab(int index);
    void FillVitrelles(QComboBox* combo);
    void PlayUpdate(QAction& action, int index);
    void StopUpdate(QAction& action, int index);
    void PlayExecute();
    void StopExecute();

    TVitrelleCenterAgent& FAgent;
    QTabWidget* PageControl = nullptr;
    TActionList* ActionList = nullptr;
};
