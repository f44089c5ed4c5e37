#pragma once

#include <QFrame>
#include <QSet>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QComboBox;
class QPushButton;
class QSpinBox;
class QTabWidget;
class TActionList;
class TVitrelleCenterAgent;
class TWorkQueue;

// The Vitrelles page of the main window: one tab per display device, on which the operator picks a vitrelle
// of the list and a slide duration, and plays or stops it on that device by hand. Main thread; the vitrelle's
// file is fetched on a worker of the page's own before it plays.
class TFrameVitrellePlayer : public QFrame
{
    Q_OBJECT
public:
    TFrameVitrellePlayer(QWidget* owner, TVitrelleCenterAgent& agent);
    ~TFrameVitrellePlayer() override;

    // Refills every tab's vitrelle names from the repository's list, keeping each tab's choice while its
    // name is still listed.
    void FillVitrelles();
    // A tab for every device of the agent that has none yet.
    void AddDeviceTabs();
    // The agent has let go of the device at this index: its tab goes, the later ones move up.
    void RemoveDeviceTab(int index);

private:
    // The controls of a display's tab (their object names carry the tab's index: cbVitrelle0, ...).
    struct TPlayerTab
    {
        QWidget* Sheet = nullptr;
        QComboBox* Vitrelles = nullptr;
        QSpinBox* Duration = nullptr;
        QPushButton* Play = nullptr;
        QPushButton* Stop = nullptr;
    };

    void AddDeviceTab(int index);
    // The tab's controls; null for a tab that is gone.
    const TPlayerTab* TabOf(const QWidget* sheet) const;
    void FillVitrelles(QComboBox* combo);
    // The tab's device index now (tabs move up when a display is let go); -1 for a tab that is gone.
    int IndexOf(const QWidget* tab) const;
    void PlayUpdate(QAction& action, const QWidget* tab);
    void StopUpdate(QAction& action, const QWidget* tab);
    void PlayExecute();
    void StopExecute();
    // Runs a step of a fetch's outcome, showing its error as the event loop's boundary would.
    void LogErrorsOf(const std::function<void()>& step);

    TVitrelleCenterAgent& FAgent;
    QTabWidget* PageControl = nullptr;
    TActionList* ActionList = nullptr;
    // Fetches a vitrelle file the operator asked to play before it plays (a slow server holds nothing else).
    std::unique_ptr<TWorkQueue> FFetches;
    QSet<const QWidget*> FStarting; // tabs whose vitrelle is being fetched
    std::vector<TPlayerTab> FTabs;  // in tab order
};
