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
#include <QEvent>
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

QLabel* CreateHeader(QFrame* panel, const QString& name, const QString& caption)
{
    QLabel* label = CreateTabLabel(panel, name, caption, true, 5, 4);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    return label;
}

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
    CreateTabLabel(pnlDevice, QStringLiteral("lblPowerAllDevices"),
                   QStringLiteral("Power on/off all devices"), true, 24, 4);
    FAgentRows.push_back(BuildRow(
        pnlDevice, QStringLiteral("PowerOnAllDevices"), QStringLiteral("Power on:"), atCaption, DayChoices,
        54, [agentName] { return agentName; }, 0));
    FAgentRows.push_back(BuildRow(
        pnlDevice, QStringLiteral("PowerOffAllDevices"), QStringLiteral("Power off:"), atCaption, DayChoices,
        84, [agentName] { return agentName; }, 1));
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
    resize(463, 628);
    ActionList = new TActionList(this);
    ActionList->setObjectName(QStringLiteral("ActionList"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 8, 0, 0);
    layout->setSpacing(0);

    pnlPageControl = CreatePanel(this, QStringLiteral("pnlPageControl"));
    auto* pages = new QVBoxLayout(pnlPageControl);
    pages->setContentsMargins(0, 0, 0, 0);
    pages->setSpacing(0);
    layout->addWidget(pnlPageControl, 1);

    pnlDevice = CreatePanel(pnlPageControl, QStringLiteral("pnlDevice"));
    pnlDeviceHeader = CreatePanel(pnlDevice, QStringLiteral("pnlDeviceHeader"));
    CreateHeader(pnlDeviceHeader, QStringLiteral("lblDeviceHeader"), QStringLiteral("Devices"));
    devicePageControl = CreatePageControl(pnlDevice, QStringLiteral("devicePageControl"));
    pages->addWidget(pnlDevice, 1);

    pnlVitrelle = CreatePanel(pnlPageControl, QStringLiteral("pnlVitrelle"));
    pnlVitrelle->setFixedHeight(100); // room for the line of the last update under the row
    pnlVitrelleHeader = CreatePanel(pnlVitrelle, QStringLiteral("pnlVitrelleHeader"));
    CreateHeader(pnlVitrelleHeader, QStringLiteral("lblVitrelleHeader"), QStringLiteral("Vitrelles"));
    vitrellePageControl = CreatePageControl(pnlVitrelle, QStringLiteral("vitrellePageControl"));
    pages->addWidget(pnlVitrelle);
    // Headers and page controls keep to their panels' width (and the page controls to their height).
    pnlDevice->installEventFilter(this);
    pnlVitrelle->installEventFilter(this);

    const TApplySavePanel panel = CreateApplySavePanel(this, 39, 11);
    pnlButton = panel.Panel;
    btnApplySettings = panel.Apply;
    btnSaveSettings = panel.Save;
    layout->addWidget(pnlButton);
}

bool TFrameVitrelleScheduler::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize) {
        if (watched == pnlDevice) {
            pnlDeviceHeader->setGeometry(0, 0, pnlDevice->width(), 24);
            devicePageControl->setGeometry(0, 120, pnlDevice->width(),
                                           std::max(0, pnlDevice->height() - 120));
        } else if (watched == pnlVitrelle) {
            pnlVitrelleHeader->setGeometry(0, 0, pnlVitrelle->width(), 24);
            vitrellePageControl->setGeometry(0, 25, pnlVitrelle->width(),
                                             std::max(0, pnlVitrelle->height() - 25));
        }
    }
    return QFrame::eventFilter(watched, event);
}

TFrameVitrelleScheduler::TRow
TFrameVitrelleScheduler::BuildRow(QWidget* parent, const QString& key, const QString& caption,
                                  const QString& atCaption, const QStringList& choices, int y,
                                  std::function<QString()> sourceName, qint32 code)
{
    TRow row;
    row.Check = CreateTabCheckBox(parent, QStringLiteral("cbx") + key, caption, y, 12);
    row.Periodicity = CreateTabComboBox(parent, QStringLiteral("cmb") + key, 150, 160, y - 3);
    row.Periodicity->addItems(choices);
    row.At = CreateTabLabel(parent, QStringLiteral("lbl%1At").arg(key), atCaption, false, y, 320);
    row.Time = CreateTabTimePicker(parent, QStringLiteral("tp") + key, 350, y - 3);
    row.SourceName = std::move(sourceName);
    row.Code = code;
    QCheckBox* check = row.Check;
    connect(check, &QCheckBox::clicked, this, [this, check] { OnCheckBoxClick(check); });
    connect(row.Periodicity, &QComboBox::currentIndexChanged, this, [this] { UpdateFromGUI(); });
    connect(row.Time, &QTimeEdit::timeChanged, this, [this] { UpdateFromGUI(); });
    return row;
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
    TDeviceTab tab;
    tab.Device = device;
    CreateTabLabel(sheet, QStringLiteral("lblPowerOnOff"), QStringLiteral("Power on/off"), true, 8, 4);
    tab.Rows.push_back(BuildRow(sheet, QStringLiteral("PowerOn"), QStringLiteral("Power on:"), at, DayChoices,
                                38, deviceName, 0));
    tab.Rows.push_back(BuildRow(sheet, QStringLiteral("PowerOff"), QStringLiteral("Power off:"), at,
                                DayChoices, 68, deviceName, 1));
    CreateTabLabel(sheet, QStringLiteral("lblPlay"), QStringLiteral("Play vitrelle"), true, 104, 4);
    TRow play =
        BuildRow(sheet, QStringLiteral("Play"), QStringLiteral("Play:"), at, DayChoices, 134, playerName, 0);
    QLabel* vitrelleLabel =
        CreateTabLabel(sheet, QStringLiteral("lblVitrelle"), QStringLiteral("Vitrelle:"), false, 164, 12);
    tab.Vitrelles = CreateTabComboBox(sheet, QStringLiteral("cmbVitrelleList"), 150, 161, 161);
    QLabel* durationLabel = CreateTabLabel(sheet, QStringLiteral("lblPlayDuration"),
                                           QStringLiteral("Slide duration(s):"), false, 194, 12);
    tab.Duration = CreateTabSpinEdit(sheet, QStringLiteral("sePlayDuration"), 150, 5, 61, 191);
    play.Followers = {vitrelleLabel, tab.Vitrelles, durationLabel, tab.Duration};
    tab.Rows.push_back(std::move(play));
    tab.Rows.push_back(
        BuildRow(sheet, QStringLiteral("Stop"), QStringLiteral("Stop:"), at, DayChoices, 224, playerName, 1));
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
        TVitrelleTab tab;
        tab.Id = vitrelle.Id;
        tab.Update = BuildRow(
            sheet, QStringLiteral("Update"), QStringLiteral("Update:"), QStringLiteral("at:"), UpdateChoices,
            8,
            [this, id = vitrelle.Id] {
                const TVitrelleDownloader* downloader = FindDownloader(id);
                return downloader != nullptr ? downloader->GetSourceName() : QString();
            },
            TVitrelleDownloader::UpdateAction);
        tab.Status = CreateTabLabel(sheet, QStringLiteral("lblUpdateStatus"), QString(), false, 31, 12);
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
        if (tab.Status->text() != text) {
            tab.Status->setText(text);
            tab.Status->adjustSize();
        }
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
