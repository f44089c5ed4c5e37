#include "FrameVitrelleSettings.h"

#include "ActionList.h"
#include "ApplySavePanel.h"
#include "Errors.h"
#include "FleetTab.h"
#include "ModalDialogs.h"
#include "VitrelleCenterAgent.h"
#include "VitrelleCenterApplication.h"
#include "VitrelleRepository.h"
#include "WorkQueue.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int ButtonPanelHeight = 35;
// A browse button is as narrow as its "..." allows (a push button's own size is a word's).
constexpr int BrowseButtonWidth = 25;

void FitBrowseButton(QPushButton* button)
{
    button->setFixedWidth(
        std::max(BrowseButtonWidth, button->fontMetrics().horizontalAdvance(button->text()) + 12));
}

QLabel* AddHeader(QGridLayout* grid, int row, const QString& caption)
{
    auto* label = new QLabel(caption);
    QFont bold; // only the weight: the rest follows the page's font
    bold.setBold(true);
    label->setFont(bold);
    grid->addWidget(label, row, 0, 1, 3);
    return label;
}

// A captioned edit in the row; it spans the browse button's column when it has none.
QLineEdit* AddEdit(QGridLayout* grid, int row, const QString& name, const QString& caption, bool browse)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    auto* label = new QLabel(caption);
    label->setBuddy(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1, 1, browse ? 1 : 2);
    return edit;
}

QPushButton* AddBrowseButton(QGridLayout* grid, int row, const QString& name)
{
    auto* button = new QPushButton(QStringLiteral("..."));
    button->setObjectName(name);
    FitBrowseButton(button);
    grid->addWidget(button, row, 2);
    return button;
}

QGridLayout* TabGrid(QWidget* tab)
{
    auto* grid = new QGridLayout(tab);
    grid->setColumnStretch(1, 1);
    return grid;
}

} // namespace

TFrameVitrelleSettings::TFrameVitrelleSettings(QWidget* owner, TVitrelleCenterAgent& agent)
    : QFrame(owner), FAgent(agent), FLive(agent.Settings()), FRepository(agent.Repository())
{
    setObjectName(QStringLiteral("TFrameVitrelleSettings"));
    BuildControls();
    FillFromSettings(FLive);
    // The edited copy holds the effective paths: on a first run with no configured folder, Apply and Save
    // are offered at once, so the operator can make the defaults explicit.
    FCopies = std::make_unique<TEditedCopies<TVitrelleCenterSettings>>(
        FLive, [](TVitrelleCenterSettings& edited) { edited.ExpandPaths(); });
}

TFrameVitrelleSettings::~TFrameVitrelleSettings()
{
    FListQueue.reset(); // first: a download's outcome must not reach a page half gone
}

void TFrameVitrelleSettings::changeEvent(QEvent* event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        for (QPushButton* button : FBrowseButtons)
            FitBrowseButton(button);
}

void TFrameVitrelleSettings::BuildControls()
{
    FActions = new TActionList(this);
    QAction* apply = FActions->CreateAction(
        QStringLiteral("actApplySettings"), QStringLiteral("Appliquer"),
        [this](QAction& action) { actApplySettingsUpdate(action); }, [this] { actApplySettingsExecute(); });
    QAction* save = FActions->CreateAction(
        QStringLiteral("actSaveSettings"), QStringLiteral("Sauvegarder"),
        [this](QAction& action) { actSaveSettingsUpdate(action); }, [this] { actSaveSettingsExecute(); });
    QAction* download = FActions->CreateAction(
        QStringLiteral("actDownloadVitrelleList"), QStringLiteral("Download vitrelle list"),
        [this](QAction& action) { actDownloadVitrelleListUpdate(action); },
        [this] { actDownloadVitrelleListExecute(); });
    FDownloadAction = download;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setDocumentMode(true); // flat tabs
    PageControl->addTab(BuildPathsTab(), QStringLiteral("Paths"));
    PageControl->addTab(BuildDownloadTab(), QStringLiteral("Download"));
    PageControl->addTab(FleetTab = new TFleetTab, QStringLiteral("Fleet"));
    PageControl->setCurrentIndex(1); // the Download tab is what the operator sees first
    // Placed as the other pages place theirs.
    auto* tabArea = new QVBoxLayout;
    tabArea->setContentsMargins(4, 8, 4, 0);
    tabArea->addWidget(PageControl);
    layout->addLayout(tabArea, 1);

    const TApplySavePanel panel = CreateApplySavePanel(this, ButtonPanelHeight, 5);
    btnApplySettings = panel.Apply;
    btnSaveSettings = panel.Save;
    layout->addWidget(panel.Panel);

    LinkButton(btnApplySettings, apply, false);
    LinkButton(btnSaveSettings, save, false);
    LinkButton(btnDownloadList, download, false);
    FActions->UpdateAll();

    for (QLineEdit* edit :
         {edRepositoryPath, edDevicePath, edTemplatePath, edVitrelleListFilePath, edDiapositiveTypeFilePath,
          edLoginURL, edLogin, edPassword, edVitrelleListUrl, edVitrelleURL})
        connect(edit, &QLineEdit::textChanged, this, &TFrameVitrelleSettings::UpdateFromGUI);
    connect(FleetTab, &TFleetTab::Changed, this, &TFrameVitrelleSettings::UpdateFromGUI);
}

QWidget* TFrameVitrelleSettings::BuildPathsTab()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("tsPaths"));
    QGridLayout* grid = TabGrid(tab);
    AddHeader(grid, 0, QStringLiteral("Folders"));
    edRepositoryPath = AddEdit(grid, 1, QStringLiteral("edRepositoryPath"), QStringLiteral("Cache:"), true);
    connect(FBrowseButtons.emplace_back(AddBrowseButton(grid, 1, QStringLiteral("btnOpenRepositoryPath"))),
            &QPushButton::clicked, this, &TFrameVitrelleSettings::btnOpenRepositoryPathClick);
    edDevicePath = AddEdit(grid, 2, QStringLiteral("edDevicePath"), QStringLiteral("Devices:"), true);
    connect(FBrowseButtons.emplace_back(AddBrowseButton(grid, 2, QStringLiteral("btnOpenDevicePath"))),
            &QPushButton::clicked, this, &TFrameVitrelleSettings::btnOpenDevicePathClick);
    edTemplatePath = AddEdit(grid, 3, QStringLiteral("edTemplatePath"), QStringLiteral("Templates:"), true);
    connect(FBrowseButtons.emplace_back(AddBrowseButton(grid, 3, QStringLiteral("btnOpenTemplatePath"))),
            &QPushButton::clicked, this, &TFrameVitrelleSettings::btnOpenTemplatePathClick);
    AddHeader(grid, 4, QStringLiteral("Files"));
    edVitrelleListFilePath =
        AddEdit(grid, 5, QStringLiteral("edVitrelleListFilePath"), QStringLiteral("Vitrelle list:"), true);
    connect(
        FBrowseButtons.emplace_back(AddBrowseButton(grid, 5, QStringLiteral("btnOpenVitrelleListFilePath"))),
        &QPushButton::clicked, this, &TFrameVitrelleSettings::btnOpenVitrelleListFilePathClick);
    edDiapositiveTypeFilePath =
        AddEdit(grid, 6, QStringLiteral("edDiapositiveTypeFilePath"), QStringLiteral("Slide types:"), true);
    connect(FBrowseButtons.emplace_back(
                AddBrowseButton(grid, 6, QStringLiteral("btnOpenDiapositiveTypeFilePath"))),
            &QPushButton::clicked, this, &TFrameVitrelleSettings::btnOpenDiapositiveTypeFilePathClick);
    grid->setRowStretch(7, 1);
    return tab;
}

QWidget* TFrameVitrelleSettings::BuildDownloadTab()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("tsDownload"));
    QGridLayout* grid = TabGrid(tab);
    AddHeader(grid, 0, QStringLiteral("Authentification"));
    edLoginURL = AddEdit(grid, 1, QStringLiteral("edLoginURL"), QStringLiteral("Login URL:"), false);
    edLogin = AddEdit(grid, 2, QStringLiteral("edLogin"), QStringLiteral("Login:"), false);
    edPassword = AddEdit(grid, 3, QStringLiteral("edPassword"), QStringLiteral("Password:"), false);
    edPassword->setEchoMode(QLineEdit::Password);
    AddHeader(grid, 4, QStringLiteral("Vitrelle"));
    edVitrelleListUrl =
        AddEdit(grid, 5, QStringLiteral("edVitrelleListUrl"), QStringLiteral("Vitrelle list URL:"), false);
    btnDownloadList = new QPushButton(QStringLiteral("Download vitrelle list"));
    btnDownloadList->setObjectName(QStringLiteral("btnDownloadList"));
    lblListDownload = new QLabel;
    lblListDownload->setObjectName(QStringLiteral("lblListDownload"));
    auto* downloadRow = new QHBoxLayout;
    downloadRow->addWidget(btnDownloadList);
    downloadRow->addWidget(lblListDownload, 1);
    grid->addLayout(downloadRow, 6, 1);
    edVitrelleURL = AddEdit(grid, 7, QStringLiteral("edVitrelleURL"), QStringLiteral("Vitrelle URL:"), false);
    grid->setRowStretch(8, 1);
    return tab;
}

void TFrameVitrelleSettings::FillFromSettings(const TVitrelleCenterSettings& settings)
{
    edRepositoryPath->setText(settings.GetRepositoryPath());
    edTemplatePath->setText(settings.GetTemplatePath());
    edDevicePath->setText(settings.GetDevicePath());
    edDiapositiveTypeFilePath->setText(settings.GetTypeFilePath());
    edVitrelleListFilePath->setText(settings.GetVitrelleListFilePath());
    const THttpSettings& http = settings.HttpSettings();
    edLoginURL->setText(http.AuthentificationURL);
    edLogin->setText(http.Login);
    edPassword->setText(http.Password);
    edVitrelleListUrl->setText(http.VitrelleListURL);
    edVitrelleURL->setText(http.VitrelleURL);
    FleetTab->Fill(settings.Fleet);
}

void TFrameVitrelleSettings::UpdateFromGUI()
{
    if (!FCopies)
        return;
    TVitrelleCenterSettings& edited = FCopies->Edited();
    edited.SetRepositoryPath(edRepositoryPath->text());
    edited.SetTemplatePath(edTemplatePath->text());
    edited.SetDevicePath(edDevicePath->text());
    edited.SetTypeFilePath(edDiapositiveTypeFilePath->text());
    edited.SetVitrelleListFilePath(edVitrelleListFilePath->text());
    THttpSettings& http = edited.HttpSettings();
    http.AuthentificationURL = edLoginURL->text();
    http.VitrelleURL = edVitrelleURL->text();
    http.VitrelleListURL = edVitrelleListUrl->text();
    http.Login = edLogin->text();
    http.Password = edPassword->text();
    edited.Fleet = FleetTab->Values();
}

void TFrameVitrelleSettings::actApplySettingsUpdate(QAction& action)
{
    action.setEnabled(FCopies && FCopies->CanApply(&FLive));
}

void TFrameVitrelleSettings::CheckFolders() const
{
    // The message reaches the error display; the edit stays for the operator to correct.
    if (const QString conflict = FCopies->Edited().FolderConflict(); !conflict.isEmpty())
        throw EVitrelleError(conflict);
    if (const QString problem = FCopies->Edited().Fleet.Problem(); !problem.isEmpty())
        throw EVitrelleError(problem);
}

void TFrameVitrelleSettings::actApplySettingsExecute()
{
    // Nothing is rebuilt: what reads the settings later reads the new values.
    if (!FCopies)
        return;
    CheckFolders();
    FCopies->Apply(FLive);
}

void TFrameVitrelleSettings::actSaveSettingsUpdate(QAction& action)
{
    action.setEnabled(FCopies && FCopies->CanSave());
}

void TFrameVitrelleSettings::actSaveSettingsExecute()
{
    if (!FCopies)
        return;
    CheckFolders();
    // A failing write reaches the error display; the edit and the Save button stay as they were.
    FCopies->Save([](const TVitrelleCenterSettings& copy) {
        if (!copy.Save())
            throw EFileError(
                QStringLiteral("Cannot save the settings to %1").arg(copy.GetSettingsFileName()));
    });
}

void TFrameVitrelleSettings::actDownloadVitrelleListUpdate(QAction& action)
{
    action.setEnabled(!FListDownloadRunning);
}

void TFrameVitrelleSettings::actDownloadVitrelleListExecute()
{
    if (FListDownloadRunning)
        return;
    // The settings as applied now; a change applied during the transfer is for the next download.
    TVitrelleRepository::TListFetch fetch = FRepository.PrepareListFetch();
    if (!FListQueue)
        FListQueue = std::make_unique<TWorkQueue>(QStringLiteral("Vitrelle list download"));
    FListDownloadRunning = true;
    FDownloadAction->setEnabled(false);
    lblListDownload->setText(QStringLiteral("Downloading the vitrelle list..."));
    auto fetched = std::make_shared<bool>(false);
    FListQueue->Post(
        // The cached list file is replaced only by a list that parses.
        [fetch = std::move(fetch), fetched] { *fetched = TVitrelleRepository::FetchList(fetch); },
        [this, fetched](std::exception_ptr error) { ListDownloadEnded(*fetched, error); });
}

void TFrameVitrelleSettings::ListDownloadEnded(bool fetched, std::exception_ptr error)
{
    FListDownloadRunning = false;
    FDownloadAction->setEnabled(true);
    lblListDownload->clear();
    try {
        if (error)
            std::rethrow_exception(error);
        // The repository prepares the downloaders; the agent tells the other pages of the new list.
        if (!fetched || FAgent.LoadVitrelleList() == nullptr)
            throw EVitrelleError(
                QStringLiteral("The content server gave no vitrelle list; the vitrelle list is unchanged."));
    } catch (const std::exception&) {
        // Shown as an error of the click would be.
        TVitrelleCenterApplication::ReportError(this, std::current_exception());
    }
}

void TFrameVitrelleSettings::BrowseFolderInto(QLineEdit* edit)
{
    const QString folder = TModal::ChooseFolder(this, QStringLiteral("Choose a folder"));
    if (!folder.isEmpty())
        edit->setText(folder);
}

void TFrameVitrelleSettings::BrowseFileInto(QLineEdit* edit, const QString& folder)
{
    const QString file = TModal::ChooseXmlFile(this, folder);
    if (!file.isEmpty())
        edit->setText(file);
}

void TFrameVitrelleSettings::btnOpenRepositoryPathClick()
{
    BrowseFolderInto(edRepositoryPath);
}

void TFrameVitrelleSettings::btnOpenDevicePathClick()
{
    BrowseFolderInto(edDevicePath);
}

void TFrameVitrelleSettings::btnOpenTemplatePathClick()
{
    BrowseFolderInto(edTemplatePath);
}

void TFrameVitrelleSettings::btnOpenVitrelleListFilePathClick()
{
    if (FCopies)
        BrowseFileInto(edVitrelleListFilePath, FCopies->Edited().GetRepositoryPath());
}

void TFrameVitrelleSettings::btnOpenDiapositiveTypeFilePathClick()
{
    if (FCopies)
        BrowseFileInto(edDiapositiveTypeFilePath, FCopies->Edited().GetTemplatePath());
}
