#pragma once

#include "EditedCopies.h"
#include "VitrelleScheduler.h"

#include <QFrame>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTimeEdit;
class QVBoxLayout;
class TActionList;
class TVitrelleCenterAgent;
class TVitrelleCenterSettings;
class TVitrelleDownloader;
class TVitrelleRepository;

// The Schedule page: one row per scheduled action of the agent, of each display device and its player and
// of each vitrelle's downloader, edited in a copy of the running schedule. Apply hands the copy to the
// running scheduler, Save writes it to the schedule file.
//
// The vitrelle tabs follow the repository's list and the device tabs the agent's devices while the page
// lives: both copies take the actions of sources that appear and drop those of sources that are gone,
// keeping every other value the operator has edited.
class TFrameVitrelleScheduler : public QFrame
{
    Q_OBJECT
public:
    // The periodicity choices; the item index is the periodicity kind.
    static const QStringList DayChoices;
    static const QStringList UpdateChoices;

    TFrameVitrelleScheduler(QWidget* owner, TVitrelleCenterAgent& agent);
    ~TFrameVitrelleScheduler() override;

    // The edited copy and the copy that stands for the schedule file.
    const TVitrelleScheduler& WorkingSchedule() const { return FCopies->Edited(); }
    const TVitrelleScheduler& SavedSchedule() const { return FCopies->Saved(); }

    // Writes every row into the edited copy.
    void UpdateFromGUI();

private:
    // The four controls of one action; the Play row also greys the vitrelle and duration controls.
    struct TRow
    {
        QCheckBox* Check = nullptr;
        QComboBox* Periodicity = nullptr;
        QLabel* At = nullptr;
        QTimeEdit* Time = nullptr;
        std::function<QString()> SourceName; // asked at every use: a device may be renamed
        qint32 Code = 0;
        std::vector<QWidget*> Followers;
    };
    struct TDeviceTab
    {
        int Device = 0;         // index among the agent's devices and players
        std::vector<TRow> Rows; // PowerOn, PowerOff, Play, Stop
        QComboBox* Vitrelles = nullptr;
        QSpinBox* Duration = nullptr;
    };
    struct TVitrelleTab
    {
        QString Id;
        TRow Update;
        QLabel* Status = nullptr;
    };

    void BuildLayout();
    // The row's controls, on the parent, in that row of its grid.
    TRow BuildRow(QWidget* parent, QGridLayout* grid, int row, const QString& key, const QString& caption,
                  const QString& atCaption, const QStringList& choices, std::function<QString()> sourceName,
                  qint32 code);
    void AddDeviceTab(int device);
    void BuildVitrelleTabs();
    void OrderTabs();

    // Every row in writing order: agent, then per device PowerOn, PowerOff, Play, Stop, then per vitrelle.
    std::vector<TRow*> AllRows();
    // The live schedule gets each row's default action when it has none, as the copies then do.
    void AddMissingLiveActions();
    // Both copies follow the live schedule's sources; their values are kept.
    void FollowLiveSources();
    void ShowWorkingSchedule();
    void ShowRow(TRow& row, const TScheduleAction* action);
    void ShowPlay(TDeviceTab& tab, const TScheduleAction* action);
    void ApplyRowRule(const TRow& row);
    void OnCheckBoxClick(const QCheckBox* check);
    void RefreshUpdateStatus();
    TVitrelleDownloader* FindDownloader(const QString& id) const;

    void VitrelleListChanged();
    void DevicesAdded();
    // The device tabs are made again for the agent's devices (their rows name devices by index).
    void DeviceRemoved();
    void DeviceRenamed(int device, const QString& oldName);

    TVitrelleCenterAgent& FAgent; // its devices and players
    TVitrelleScheduler& FLive;
    TVitrelleRepository& FRepository;
    const TVitrelleCenterSettings& FSettings;
    std::unique_ptr<TEditedCopies<TVitrelleScheduler>> FCopies;
    bool FShowing = false; // controls are being set: their change events write nothing

    TActionList* ActionList = nullptr;
    QAction* actSaveDeviceSettings = nullptr;
    QAction* actApplyDeviceSettings = nullptr;
    QFrame* pnlButton = nullptr;
    QPushButton* btnApplySettings = nullptr;
    QPushButton* btnSaveSettings = nullptr;
    QFrame* pnlPageControl = nullptr;
    QFrame* pnlVitrelle = nullptr;
    QFrame* pnlVitrelleHeader = nullptr;
    QTabWidget* vitrellePageControl = nullptr;
    QFrame* pnlDevice = nullptr;
    QVBoxLayout* FDeviceLayout = nullptr; // pnlDevice's
    QFrame* pnlDeviceHeader = nullptr;
    QTabWidget* devicePageControl = nullptr;

    std::vector<TRow> FAgentRows;
    std::vector<TDeviceTab> FDeviceTabs;
    std::vector<TVitrelleTab> FVitrelleTabs;
};
