#pragma once

#include "EditedCopies.h"

#include <QFrame>

#include <exception>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class TActionList;
class TFleetTab;
class TVitrelleCenterAgent;
class TVitrelleCenterSettings;
class TVitrelleRepository;
class TWorkQueue;

// The Settings page of the main window: the folders and files the program uses and how it reaches the
// content server. The operator edits a copy; Apply hands it to the running program, Save writes it to the
// settings file, each on its own. "Download vitrelle list" fetches the list from the server anew: the
// transfer runs on the page's worker while the page says so (the button disabled, a status text) and stays
// usable; the list is taken on the main thread once the file has arrived and parses, and a failure is shown
// as any other error of the page.
class TFrameVitrelleSettings : public QFrame
{
    Q_OBJECT
public:
    TFrameVitrelleSettings(QWidget* owner, TVitrelleCenterAgent& agent);
    ~TFrameVitrelleSettings() override;

    // Any edit changed: all ten edits go into the edited copy, as typed.
    void UpdateFromGUI();

    void actApplySettingsUpdate(QAction& action);
    void actApplySettingsExecute();
    void actSaveSettingsUpdate(QAction& action);
    void actSaveSettingsExecute();
    void actDownloadVitrelleListUpdate(QAction& action);
    void actDownloadVitrelleListExecute();
    // A list download is under way (from the click until its outcome has been shown).
    bool ListDownloadRunning() const { return FListDownloadRunning; }

    void btnOpenRepositoryPathClick();
    void btnOpenDevicePathClick();
    void btnOpenTemplatePathClick();
    void btnOpenVitrelleListFilePathClick();
    void btnOpenDiapositiveTypeFilePathClick();

protected:
    // The browse buttons follow a new font.
    void changeEvent(QEvent* event) override;

private:
    void BuildControls();
    QWidget* BuildPathsTab();
    QWidget* BuildDownloadTab();
    void FillFromSettings(const TVitrelleCenterSettings& settings);
    // Apply and Save refuse folders that overlap (TVitrelleCenterSettings::FolderConflict): EVitrelleError.
    void CheckFolders() const;
    void BrowseFolderInto(QLineEdit* edit);
    void BrowseFileInto(QLineEdit* edit, const QString& folder);
    void ListDownloadEnded(bool fetched, std::exception_ptr error);

    // The agent takes the downloaded list; narrow references into it: the live settings and the repository
    // whose list is downloaded.
    TVitrelleCenterAgent& FAgent;
    TVitrelleCenterSettings& FLive;
    TVitrelleRepository& FRepository;
    // Absent while the edits are first filled, so that their change events change nothing.
    std::unique_ptr<TEditedCopies<TVitrelleCenterSettings>> FCopies;
    TActionList* FActions = nullptr;
    QAction* FDownloadAction = nullptr;
    // Made at the first download; freed with the page, which gives a transfer under way up.
    std::unique_ptr<TWorkQueue> FListQueue;
    bool FListDownloadRunning = false;

    QTabWidget* PageControl = nullptr;
    QLineEdit* edRepositoryPath = nullptr;
    QLineEdit* edDevicePath = nullptr;
    QLineEdit* edTemplatePath = nullptr;
    QLineEdit* edVitrelleListFilePath = nullptr;
    QLineEdit* edDiapositiveTypeFilePath = nullptr;
    QLineEdit* edLoginURL = nullptr;
    QLineEdit* edLogin = nullptr;
    QLineEdit* edPassword = nullptr;
    QLineEdit* edVitrelleListUrl = nullptr;
    QLineEdit* edVitrelleURL = nullptr;
    QPushButton* btnApplySettings = nullptr;
    QPushButton* btnSaveSettings = nullptr;
    QPushButton* btnDownloadList = nullptr;
    QLabel* lblListDownload = nullptr;
    std::vector<QPushButton*> FBrowseButtons; // the "..." of the Paths tab
    TFleetTab* FleetTab = nullptr;
};
