#pragma once

#include "DeviceControl.h"
#include "DisplayMode.h"
#include "EditedCopies.h"
#include "VitrelleDeviceSettings.h"

#include <QDateTime>
#include <QFrame>
#include <QHash>
#include <QSet>

#include <memory>
#include <vector>

class QAbstractButton;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class TActionList;
class TVitrelleCenterAgent;
class TVitrelleDevice;
class TVitrellePlayer;

// The Devices page of the main window: one tab per display with its name, identity, display mode,
// full-screen choice, power state and power button, the two serial dialogs and its settings file name, and
// what the display does now. The operator edits a copy of each display's settings; Apply hands it to the
// running display, Save writes it to the device folder. Serial exchanges (the power button, the state
// queries) run on the display's own worker: the tab shows the command in progress, with its button
// disabled, and then its outcome; the page never waits for a display.
class TFrameVitrelleDevice : public QFrame
{
    Q_OBJECT
public:
    static constexpr QLatin1StringView LogSource{"TFrameVitrelleDevice"};

    TFrameVitrelleDevice(QWidget* owner, TVitrelleCenterAgent& agent);
    ~TFrameVitrelleDevice() override;

    // Asks the display for its power state (a serial query when its status codes are set) and shows it on
    // its tab when it answers; an error is logged.
    void RefreshPowerStatus(TVitrelleDevice& device);

    // The handlers of the tab controls.
    void UpdateFromGUI();
    void btnPowerClick(QAbstractButton* button);
    void btnComSettingsClick();
    void btnCommandSettingsClick();

private:
    using TCopies = TEditedCopies<TVitrelleDeviceSettings>;

    // The controls of a display's tab (their object names carry the tab's index: edDeviceName0, ...).
    struct TDeviceTab
    {
        // The device it shows: only to tell which one a tab was once the device is gone.
        const TVitrelleDevice* Device = nullptr;
        // The modes its display-mode list offers, in list order.
        std::vector<TDisplayMode> Modes;
        QLineEdit* Name = nullptr;
        QLabel* Model = nullptr;
        QLabel* Manufacturer = nullptr;
        QLabel* Serial = nullptr;
        QComboBox* DisplayMode = nullptr;
        QCheckBox* FullScreen = nullptr;
        QLabel* PowerStatus = nullptr;
        QLabel* LastPower = nullptr;
        QPushButton* Power = nullptr;
        QPushButton* ComSettings = nullptr;
        QPushButton* CommandSettings = nullptr;
        QLineEdit* FileName = nullptr;
        QLabel* Playing = nullptr;
        QLabel* Picture = nullptr;
        QLabel* PictureTime = nullptr;
        QPushButton* TakePicture = nullptr;
    };

    // Tabs and copies for the agent's devices that have none yet (all of them at first, then displays that
    // appear while the program runs).
    void AddNewDevices();
    // The agent has let go of the device at this index: its tab and copies go, the later tabs move up.
    void RemoveDevice(int index);
    void BuildDeviceTab(TVitrelleDevice& device);
    void FillDeviceTab(int index, TVitrelleDevice& device);
    void ShowPowerStatus(TVitrelleDevice& device, TPowerStatus status);
    // The command the power button gives next for the state; the one not given last when it is not known.
    static bool OffersPowerOn(const TVitrelleDevice& device, TPowerStatus status);
    // Shows what each display plays and how its last power command ended; run when idle.
    void RefreshActivity();
    QString LastPowerText(const TVitrelleDevice& device) const;
    // Shows the newest picture of what the display shows, when it has changed since it was last shown.
    void ShowScreenPicture(int index, const TVitrelleDevice& device);
    // The player that plays on the display; null when it has none.
    TVitrellePlayer* PlayerOf(const TVitrelleDevice& device) const;

    int TabIndexOf(const TVitrelleDevice& device) const;
    // The active tab when it has its copies; -1 otherwise.
    int SelectedIndex() const;
    TVitrelleDevice* SelectedDevice() const;
    TCopies* SelectedCopies() const;
    TDeviceTab& Tab(int index);

    // Apply and Save: a new name or file name first goes through the agent, which renames the display and
    // its settings file at once; both copies then hold the new names, so that no change of them is pending.
    void ApplySelected();
    void SaveSelected();
    void RenameWhenEdited(int index, TCopies& copies);

    TVitrelleCenterAgent& FAgent;
    TActionList* ActionList = nullptr;
    QTabWidget* PageControl = nullptr;
    QFrame* pnlButton = nullptr;
    QPushButton* btnApplySettings = nullptr;
    QPushButton* btnSaveSettings = nullptr;
    QAction* actApplyDeviceSettings = nullptr;
    QAction* actSaveDeviceSettings = nullptr;

    // Per device, in device order: the saved and edited copies of its settings. Shorter than the tab list
    // while a tab is being filled, so that the change events of the filling change nothing.
    std::vector<std::unique_ptr<TCopies>> FCopies;
    // Per tab, in tab order.
    std::vector<TDeviceTab> FTabs;
    // The devices whose power button's click is being carried out (its state query, then its command); by
    // device, since the tabs move up when a display is let go.
    QSet<const TVitrelleDevice*> FPowerClicks;
    // Per display: when the picture of its screen that its tab shows was written (invalid: none shown).
    QHash<const TVitrelleDevice*, QDateTime> FPictureTimes;
    bool FFilling = false;
};
