#include "FrameVitrelleScheduler.h"

#include "ActionList.h"
#include "ApplySavePanel.h"
#include "Errors.h"
#include "TabBuilders.h"
#include "VitrelleCenterAgent.h"
#include "VitrelleDevice.h"
#include "VitrelleDownloader.h"
#include "VitrellePlayer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

const QString VitrelleIdParam = QStringLiteral("vitrelleID");
const QString DurationParam = QStringLiteral("diapositiveDuration");
constexpr int DefaultDuration = 10;

QFrame* CreatePanel(QWidget* parent, const QString& name)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameShape(QFrame::NoFrame);
    return panel;
}

// The header bar of a panel, its caption in black.
QFrame* CreateHeader(QFrame* panel, const QString& barName, const QString& name, const QString& caption)
{
    QFrame* bar = CreatePanel(panel, barName);
    QLabel* label = CreateTabLabel(bar, name, caption, true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(4, 5, 4, 4);
    layout->addWidget(label);
    layout->addStretch(1);
    return bar;
}

// A panel stacking its children from the top, edge to edge.
QVBoxLayout* StackLayout(QWidget* panel)
{
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

// Captions from the left edge to the periodicity lists at 150 pixels (at the default font).
constexpr int CaptionWidth = 132;
constexpr int RowSpacing = 9;

QTabWidget* CreatePageControl(QWidget* parent, const QString& name)
{
    auto* pageControl = new QTabWidget(parent);
    pageControl->setObjectName(name);
    pageControl->setDocumentMode(true); // flat tabs
    return pageControl;
}

QString VitrelleCaption(const TVitrelle& vitrelle)
{
    return vitrelle.Name.isEmpty() ? QStringLiteral("ID = %1").arg(vitrelle.Id) : vitrelle.Name;
}

} // namespace

// Kinds 1 and 2 run Monday to Friday and Monday to Saturday (TActionPeriodicity); the labels say so.
const QStringList TFrameVitrelleScheduler::DayChoices{QStringLiteral("Every day"),
                                                      QStringLiteral("Every day except week end"),
                                                      QStringLiteral("Every day except sunday")};
const QStringList TFrameVitrelleScheduler::UpdateChoices =
    TFrameVitrelleScheduler::DayChoices + QStringList{QStringLiteral("Every hour")};

TFrameVitrelleScheduler::TFrameVitrelleScheduler(QWidget* owner, TVitrelleCenterAgent& agent)
    : QFrame(owner), FAgent(agent), FLive(agent.Scheduler()), FRepository(agent.Repository()),
      FSettings(agent.Settings())
{
    setObjectName(QStringLiteral("TFrameVitrelleScheduler"));
    BuildLayout();

    const QString atCaption = QStringLiteral("à :");
    const QString agentName = QStringLiteral("VitrelleCenterAgent");
    // Under the panel's header bar, above the displays' tabs.
    QGridLayout* agentGrid = CreateTabGrid(nullptr, CaptionWidth, RowSpacing);
    agentGrid->setContentsMargins(4, 0, 4, 4);
    AddTabHeader(agentGrid, CreateTabLabel(pnlDevice, QStringLiteral("lblPowerAllDevices"),
                                           QStringLiteral("Power on/off all devices"), true));
    FAgentRows.push_back(BuildRow(
        pnlDevice, agentGrid, 1, QStringLiteral("PowerOnAllDevices"), QStringLiteral("Power on:"), atCaption,
        DayChoices, [agentName] { return agentName; }, 0));
    FAgentRows.push_back(BuildRow(
        pnlDevice, agentGrid, 2, QStringLiteral("PowerOffAllDevices"), QStringLiteral("Power off:"),
        atCaption, DayChoices, [agentName] { return agentName; }, 1));
    FinishTabGrid(agentGrid);
    FDeviceLayout->insertLayout(1, agentGrid);
    for (int device = 0; device < FAgent.DeviceCount(); ++device)
        AddDeviceTab(device);
    BuildVitrelleTabs();

    // Opening the page gives the running schedule one action per row, so that a saved file holds them all.
    AddMissingLiveActions();
    FCopies = std::make_unique<TEditedCopies<TVitrelleScheduler>>(FLive);
    ShowWorkingSchedule();
    OrderTabs();

    actApplyDeviceSettings = ActionList->CreateAction(
        QStringLiteral("actApplyDeviceSettings"), QStringLiteral("Appliquer"),
        [this](QAction& action) { action.setEnabled(FCopies->CanApply(&FLive)); },
        [this] { FCopies->Apply(FLive); });
    actSaveDeviceSettings = ActionList->CreateAction(
        QStringLiteral("actSaveDeviceSettings"), QStringLiteral("Sauvegarder"),
        [this](QAction& action) { action.setEnabled(FCopies->CanSave()); },
        [this] {
            const QString path = FSettings.GetScheduleFileName();
            FCopies->Save([&](const TVitrelleScheduler& schedule) {
                if (!schedule.SaveToFile(path))
                    throw EFileError(QStringLiteral("The schedule could not be saved to %1").arg(path));
            });
        });
    // No button: its update keeps the vitrelle tabs' last-update lines current whenever the program is idle.
    ActionList->CreateAction(QStringLiteral("actShowUpdateStatus"), QString(),
                             [this](QAction&) { RefreshUpdateStatus(); }, {});
    LinkButton(btnApplySettings, actApplyDeviceSettings, false);
    LinkButton(btnSaveSettings, actSaveDeviceSettings, false);
    ActionList->UpdateAll();

    const TAgentNotifier& notifier = FAgent.Notifier();
    connect(&notifier, &TAgentNotifier::VitrelleListChanged, this,
            &TFrameVitrelleScheduler::VitrelleListChanged);
    connect(&notifier, &TAgentNotifier::DevicesAdded, this, &TFrameVitrelleScheduler::DevicesAdded);
    connect(&notifier, &TAgentNotifier::DeviceRemoved, this, &TFrameVitrelleScheduler::DeviceRemoved);
    connect(&notifier, &TAgentNotifier::DeviceRenamed, this, &TFrameVitrelleScheduler::DeviceRenamed);
}

TFrameVitrelleScheduler::~TFrameVitrelleScheduler() = default;

void TFrameVitrelleScheduler::BuildLayout()
{
    ActionList = new TActionList(this);
    ActionList->setObjectName(QStringLiteral("ActionList"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 8, 0, 0);
    layout->setSpacing(0);

    pnlPageControl = CreatePanel(this, QStringLiteral("pnlPageControl"));
    QVBoxLayout* pages = StackLayout(pnlPageControl);
    layout->addWidget(pnlPageControl, 1);

    // The agent's rows go between the header bar and the displays' tabs.
    pnlDevice = CreatePanel(pnlPageControl, QStringLiteral("pnlDevice"));
    FDeviceLayout = StackLayout(pnlDevice);
    pnlDeviceHeader = CreateHeader(pnlDevice, QStringLiteral("pnlDeviceHeader"),
                                   QStringLiteral("lblDeviceHeader"), QStringLiteral("Devices"));
    FDeviceLayout->addWidget(pnlDeviceHeader);
    devicePageControl = CreatePageControl(pnlDevice, QStringLiteral("devicePageControl"));
    FDeviceLayout->addWidget(devicePageControl, 1);
    pages->addWidget(pnlDevice, 1);

    // As high as its row and the line of the last update under it need.
    pnlVitrelle = CreatePanel(pnlPageControl, QStringLiteral("pnlVitrelle"));
    QVBoxLayout* vitrelle = StackLayout(pnlVitrelle);
    pnlVitrelleHeader = CreateHeader(pnlVitrelle, QStringLiteral("pnlVitrelleHeader"),
                                     QStringLiteral("lblVitrelleHeader"), QStringLiteral("Vitrelles"));
    vitrelle->addWidget(pnlVitrelleHeader);
    vitrellePageControl = CreatePageControl(pnlVitrelle, QStringLiteral("vitrellePageControl"));
    vitrelle->addWidget(vitrellePageControl);
    pages->addWidget(pnlVitrelle);

    const TApplySavePanel panel = CreateApplySavePanel(this, 39, 11);
    pnlButton = panel.Panel;
    btnApplySettings = panel.Apply;
    btnSaveSettings = panel.Save;
    layout->addWidget(pnlButton);
}

TFrameVitrelleScheduler::TRow TFrameVitrelleScheduler::BuildRow(
    QWidget* parent, QGridLayout* grid, int row, const QString& key, const QString& caption,
    const QString& atCaption, const QStringList& choices, std::function<QString()> sourceName, qint32 code)
{
    TRow built;
    built.Check = CreateTabCheckBox(parent, QStringLiteral("cbx") + key, caption);
    built.Periodicity = CreateTabComboBox(parent, QStringLiteral("cmb") + key, 160, true);
    built.Periodicity->addItems(choices);
    built.At = CreateTabLabel(parent, QStringLiteral("lbl%1At").arg(key), atCaption);
    built.Time = CreateTabTimePicker(parent, QStringLiteral("tp") + key);
    PlaceInTabGrid(grid, built.Check, row, 1);
    PlaceInTabGrid(grid, built.Periodicity, row, 2);
    PlaceInTabGrid(grid, built.At, row, 3);
    PlaceInTabGrid(grid, built.Time, row, 4);
    built.SourceName = std::move(sourceName);
    built.Code = code;
    QCheckBox* check = built.Check;
    connect(check, &QCheckBox::clicked, this, [this, check] { OnCheckBoxClick(check); });
    connect(built.Periodicity, &QComboBox::currentIndexChanged, this, [this] { UpdateFromGUI(); });
    connect(built.Time, &QTimeEdit::timeChanged, this, [this] { UpdateFromGUI(); });
    return built;
}

void TFrameVitrelleScheduler::AddDeviceTab(int device)
{
    QWidget* sheet = AddTabSheet(devicePageControl, FAgent.Devices(device).GetCaption());
    const QString at = QStringLiteral("à :");
    // Until the tabs are made again, a display let go leaves an index past the end behind: no source.
    const auto deviceName = [this, device] {
        return device < FAgent.DeviceCount() ? FAgent.Devices(device).GetDisplayName() : QString();
    };
    const auto playerName = [this, device] {
        return device < FAgent.PlayerCount() ? FAgent.Players(device).GetSourceName() : QString();
    };
    QGridLayout* grid = CreateTabGrid(sheet, CaptionWidth, RowSpacing);
    TDeviceTab tab;
    tab.Device = device;
    AddTabHeader(
        grid, CreateTabLabel(sheet, QStringLiteral("lblPowerOnOff"), QStringLiteral("Power on/off"), true));
    tab.Rows.push_back(BuildRow(sheet, grid, 1, QStringLiteral("PowerOn"), QStringLiteral("Power on:"), at,
                                DayChoices, deviceName, 0));
    tab.Rows.push_back(BuildRow(sheet, grid, 2, QStringLiteral("PowerOff"), QStringLiteral("Power off:"), at,
                                DayChoices, deviceName, 1));
    AddTabHeader(grid,
                 CreateTabLabel(sheet, QStringLiteral("lblPlay"), QStringLiteral("Play vitrelle"), true));
    TRow play = BuildRow(sheet, grid, 4, QStringLiteral("Play"), QStringLiteral("Play:"), at, DayChoices,
                         playerName, 0);
    QLabel* vitrelleLabel = CreateTabLabel(sheet, QStringLiteral("lblVitrelle"), QStringLiteral("Vitrelle:"));
    tab.Vitrelles = CreateTabComboBox(sheet, QStringLiteral("cmbVitrelleList"), 161);
    QLabel* durationLabel =
        CreateTabLabel(sheet, QStringLiteral("lblPlayDuration"), QStringLiteral("Slide duration(s):"));
    tab.Duration = CreateTabSpinEdit(sheet, QStringLiteral("sePlayDuration"), 5, 61);
    PlaceInTabGrid(grid, vitrelleLabel, 5, 1);
    PlaceInTabGrid(grid, tab.Vitrelles, 5, 2);
    PlaceInTabGrid(grid, durationLabel, 6, 1);
    PlaceInTabGrid(grid, tab.Duration, 6, 2);
    play.Followers = {vitrelleLabel, tab.Vitrelles, durationLabel, tab.Duration};
    tab.Rows.push_back(std::move(play));
    tab.Rows.push_back(BuildRow(sheet, grid, 7, QStringLiteral("Stop"), QStringLiteral("Stop:"), at,
                                DayChoices, playerName, 1));
    FinishTabGrid(grid);
    connect(tab.Vitrelles, &QComboBox::currentIndexChanged, this, [this] { UpdateFromGUI(); });
    connect(tab.Duration, &QSpinBox::valueChanged, this, [this] { UpdateFromGUI(); });
    FDeviceTabs.push_back(std::move(tab));
}

void TFrameVitrelleScheduler::BuildVitrelleTabs()
{
    FVitrelleTabs.clear();
    while (vitrellePageControl->count() > 0) {
        QWidget* sheet = vitrellePageControl->widget(0);
        vitrellePageControl->removeTab(0);
        delete sheet;
    }
    for (int i = 0; i < FRepository.Count(); ++i) {
        const TVitrelle& vitrelle = *FRepository.At(i);
        QWidget* sheet = AddTabSheet(vitrellePageControl, LiteralTabCaption(VitrelleCaption(vitrelle)));
        QGridLayout* grid = CreateTabGrid(sheet, CaptionWidth, RowSpacing);
        TVitrelleTab tab;
        tab.Id = vitrelle.Id;
        tab.Update = BuildRow(
            sheet, grid, 0, QStringLiteral("Update"), QStringLiteral("Update:"), QStringLiteral("at:"),
            UpdateChoices,
            [this, id = vitrelle.Id] {
                const TVitrelleDownloader* downloader = FindDownloader(id);
                return downloader != nullptr ? downloader->GetSourceName() : QString();
            },
            TVitrelleDownloader::UpdateAction);
        tab.Status = CreateTabLabel(sheet, QStringLiteral("lblUpdateStatus"), QString());
        PlaceInTabGrid(grid, tab.Status, 1, 1, 1, 4);
        FinishTabGrid(grid);
        FVitrelleTabs.push_back(std::move(tab));
    }
    RefreshUpdateStatus();
}

void TFrameVitrelleScheduler::OrderTabs()
{
    std::vector<QWidget*> chain;
    for (TRow* row : AllRows()) {
        chain.insert(chain.end(), {row->Check, row->Periodicity, row->Time});
        for (QWidget* follower : row->Followers)
            if (follower->focusPolicy() != Qt::NoFocus)
                chain.push_back(follower);
    }
    chain.insert(chain.end(), {btnApplySettings, btnSaveSettings});
    for (size_t i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
}

std::vector<TFrameVitrelleScheduler::TRow*> TFrameVitrelleScheduler::AllRows()
{
    std::vector<TRow*> rows;
    for (TRow& row : FAgentRows)
        rows.push_back(&row);
    for (TDeviceTab& tab : FDeviceTabs)
        for (TRow& row : tab.Rows)
            rows.push_back(&row);
    for (TVitrelleTab& tab : FVitrelleTabs)
        rows.push_back(&tab.Update);
    return rows;
}

void TFrameVitrelleScheduler::AddMissingLiveActions()
{
    for (TRow* row : AllRows())
        FLive.GetAction(row->SourceName(), row->Code);
}

void TFrameVitrelleScheduler::FollowLiveSources()
{
    FCopies->Adjust([this](TVitrelleScheduler& copy) {
        // The running schedule's actions in its order, each carrying the copy's values where the copy has
        // that action; what the copy holds for a source that is gone is dropped.
        const std::unique_ptr<TVitrelleScheduler> followed = FLive.Clone();
        for (const TScheduleAction* action : copy.Actions()) {
            TScheduleAction* target = followed->GetAction(action->Source->GetSourceName(), action->Action);
            if (target == nullptr)
                continue;
            target->Enabled = action->Enabled;
            target->Periodicity.Assign(&action->Periodicity);
            target->Params = action->Params;
        }
        copy.Assign(followed.get());
    });
}

void TFrameVitrelleScheduler::ShowWorkingSchedule()
{
    FShowing = true;
    const auto done = qScopeGuard([this] { FShowing = false; });
    TVitrelleScheduler& working = FCopies->Edited();
    for (TRow& row : FAgentRows)
        ShowRow(row, working.GetAction(row.SourceName(), row.Code));
    for (TDeviceTab& tab : FDeviceTabs) {
        for (TRow& row : tab.Rows)
            ShowRow(row, working.GetAction(row.SourceName(), row.Code));
        ShowPlay(tab, working.GetAction(tab.Rows[2].SourceName(), tab.Rows[2].Code));
    }
    for (TVitrelleTab& tab : FVitrelleTabs)
        ShowRow(tab.Update, working.GetAction(tab.Update.SourceName(), tab.Update.Code));
}

void TFrameVitrelleScheduler::ShowRow(TRow& row, const TScheduleAction* action)
{
    // A row without a source (a vitrelle whose id the repository refuses) can be neither shown nor edited.
    row.Check->setEnabled(action != nullptr);
    row.Check->setChecked(action != nullptr && action->Enabled);
    const int kind = action != nullptr ? action->Periodicity.Kind : TActionPeriodicity::Unset;
    row.Periodicity->setCurrentIndex(kind < row.Periodicity->count() ? kind : -1);
    row.Time->setTime(action != nullptr ? action->Periodicity.Time : QTime(0, 0));
    ApplyRowRule(row);
}

void TFrameVitrelleScheduler::ShowPlay(TDeviceTab& tab, const TScheduleAction* action)
{
    const QString id = action != nullptr ? action->ParamValue(VitrelleIdParam) : QString();
    tab.Vitrelles->clear();
    int selected = -1;
    for (int i = 0; i < FRepository.Count(); ++i) {
        const TVitrelle& vitrelle = *FRepository.At(i);
        tab.Vitrelles->addItem(VitrelleCaption(vitrelle), vitrelle.Id);
        if (selected < 0 && !id.isEmpty() && vitrelle.Id.compare(id, Qt::CaseInsensitive) == 0)
            selected = i;
    }
    // A vitrelle that is not listed is shown as no choice; its id stays in the action until another is
    // chosen.
    tab.Vitrelles->setCurrentIndex(selected);
    bool number = false;
    const int duration = action != nullptr ? action->ParamValue(DurationParam).toInt(&number) : 0;
    tab.Duration->setValue(number ? duration : DefaultDuration);
}

void TFrameVitrelleScheduler::UpdateFromGUI()
{
    if (FShowing || !FCopies)
        return;
    TVitrelleScheduler& working = FCopies->Edited();
    const auto write = [&working](const TRow& row) -> TScheduleAction* {
        TScheduleAction* action = working.GetAction(row.SourceName(), row.Code);
        if (action == nullptr)
            return nullptr;
        action->Enabled = row.Check->isChecked();
        // No choice shown means a kind this row does not offer (an hourly power action written by hand) or
        // none at all: it stays as the file has it, rather than becoming a one-time action.
        const int kind = row.Periodicity->currentIndex();
        if (kind >= 0)
            action->Periodicity.Kind = static_cast<quint8>(kind);
        action->Periodicity.Time = row.Time->time();
        return action;
    };
    for (const TRow& row : FAgentRows)
        write(row);
    for (const TDeviceTab& tab : FDeviceTabs)
        for (size_t i = 0; i < tab.Rows.size(); ++i) {
            TScheduleAction* action = write(tab.Rows[i]);
            if (i != 2 || action == nullptr)
                continue;
            // By position, not by name: two vitrelles may share a name.
            if (tab.Vitrelles->currentIndex() >= 0)
                action->SetParamValue(VitrelleIdParam, tab.Vitrelles->currentData().toString());
            action->SetParamValue(DurationParam, QString::number(tab.Duration->value()));
        }
    for (const TVitrelleTab& tab : FVitrelleTabs)
        write(tab.Update);
}

void TFrameVitrelleScheduler::ApplyRowRule(const TRow& row)
{
    const bool enabled = row.Check->isEnabled() && row.Check->isChecked();
    for (QWidget* control : {static_cast<QWidget*>(row.Periodicity), static_cast<QWidget*>(row.At),
                             static_cast<QWidget*>(row.Time)})
        control->setEnabled(enabled);
    for (QWidget* follower : row.Followers)
        follower->setEnabled(enabled);
}

void TFrameVitrelleScheduler::OnCheckBoxClick(const QCheckBox* check)
{
    for (const TRow* row : AllRows())
        if (row->Check == check)
            ApplyRowRule(*row);
    UpdateFromGUI();
}

TVitrelleDownloader* TFrameVitrelleScheduler::FindDownloader(const QString& id) const
{
    for (int i = 0; i < FRepository.DownloaderCount(); ++i) {
        TVitrelleDownloader* downloader = FRepository.DownloaderAt(i);
        if (downloader->Vitrelle() != nullptr &&
            downloader->Vitrelle()->Id.compare(id, Qt::CaseInsensitive) == 0)
            return downloader;
    }
    return nullptr;
}

void TFrameVitrelleScheduler::RefreshUpdateStatus()
{
    for (const TVitrelleTab& tab : FVitrelleTabs) {
        const TVitrelleDownloader* downloader = FindDownloader(tab.Id);
        QString text;
        if (downloader == nullptr)
            text = QString();
        else if (downloader->UpdatePending())
            text = QStringLiteral("Update waiting for the media download to end");
        else if (const TVitrelleUpdateRecord& last = downloader->LastUpdate(); !last.Time.isValid())
            text = QStringLiteral("Never updated");
        else
            text = QStringLiteral("Last update: %1, %2")
                       .arg(last.Time.toString(QStringLiteral("dd/MM HH:mm")),
                            last.Succeeded ? QStringLiteral("succeeded") : QStringLiteral("failed"));
        if (tab.Status->text() != text)
            tab.Status->setText(text);
    }
}

void TFrameVitrelleScheduler::VitrelleListChanged()
{
    const int current = vitrellePageControl->currentIndex();
    const QString currentId = current >= 0 ? FVitrelleTabs[static_cast<size_t>(current)].Id : QString();
    BuildVitrelleTabs();
    AddMissingLiveActions();
    FollowLiveSources();
    ShowWorkingSchedule();
    OrderTabs();
    for (size_t i = 0; i < FVitrelleTabs.size(); ++i)
        if (FVitrelleTabs[i].Id.compare(currentId, Qt::CaseInsensitive) == 0)
            vitrellePageControl->setCurrentIndex(static_cast<int>(i));
}

// The copies name their actions' sources: without this, the renamed display's rows would show (and Apply
// would hand over) fresh defaults, and its configured actions would be dropped as those of a source gone.
void TFrameVitrelleScheduler::DeviceRenamed(int device, const QString& oldName)
{
    if (device < 0 || device >= FAgent.DeviceCount())
        return;
    const TVitrelleDevice& renamed = FAgent.Devices(device);
    FCopies->Adjust([&](TVitrelleScheduler& copy) {
        copy.RenameSource(oldName, renamed.GetSourceName());
        if (device < FAgent.PlayerCount())
            copy.RenameSource(TVitrellePlayer::SourceNameOf(oldName), FAgent.Players(device).GetSourceName());
    });
    if (device < devicePageControl->count())
        devicePageControl->setTabText(device, renamed.GetCaption());
    ShowWorkingSchedule();
    ActionList->UpdateAll();
}

void TFrameVitrelleScheduler::DevicesAdded()
{
    for (int device = static_cast<int>(FDeviceTabs.size()); device < FAgent.DeviceCount(); ++device)
        AddDeviceTab(device);
    AddMissingLiveActions();
    FollowLiveSources();
    ShowWorkingSchedule();
    OrderTabs();
}

void TFrameVitrelleScheduler::DeviceRemoved()
{
    const int current = devicePageControl->currentIndex();
    FDeviceTabs.clear();
    while (devicePageControl->count() > 0) {
        QWidget* sheet = devicePageControl->widget(0);
        devicePageControl->removeTab(0);
        delete sheet;
    }
    for (int device = 0; device < FAgent.DeviceCount(); ++device)
        AddDeviceTab(device);
    // The copies drop the actions of the sources that left the running schedule with the display.
    FollowLiveSources();
    ShowWorkingSchedule();
    OrderTabs();
    if (devicePageControl->count() > 0)
        devicePageControl->setCurrentIndex(std::clamp(current, 0, devicePageControl->count() - 1));
    ActionList->UpdateAll();
}
