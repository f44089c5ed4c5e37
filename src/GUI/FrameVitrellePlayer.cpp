#include "FrameVitrellePlayer.h"

#include "ActionList.h"
#include "ModalDialogs.h"
#include "TabBuilders.h"
#include "VitrelleCenterAgent.h"
#include "VitrelleCenterApplication.h"
#include "WorkQueue.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <memory>

namespace {

constexpr int DefaultSeconds = 10;

} // namespace

TFrameVitrellePlayer::TFrameVitrellePlayer(QWidget* owner, TVitrelleCenterAgent& agent)
    : QFrame(owner), FAgent(agent), FFetches(std::make_unique<TWorkQueue>(QStringLiteral("Vitrelles page")))
{
    setObjectName(QStringLiteral("TFrameVitrellePlayer"));
    ActionList = new TActionList(this);
    ActionList->setObjectName(QStringLiteral("ActionList"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 8, 0, 0);
    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setDocumentMode(true); // flat tabs
    layout->addWidget(PageControl);

    AddDeviceTabs();
    // A list downloaded from the Settings page, and displays plugged in while the program runs, show here
    // without a restart.
    const TAgentNotifier& notifier = FAgent.Notifier();
    connect(&notifier, &TAgentNotifier::VitrelleListChanged, this,
            qOverload<>(&TFrameVitrellePlayer::FillVitrelles));
    connect(&notifier, &TAgentNotifier::DevicesAdded, this, &TFrameVitrellePlayer::AddDeviceTabs);
    connect(&notifier, &TAgentNotifier::DeviceRemoved, this, &TFrameVitrellePlayer::RemoveDeviceTab);
    connect(&notifier, &TAgentNotifier::DeviceRenamed, this, [this](int device) {
        if (device >= 0 && device < PageControl->count() && device < FAgent.DeviceCount())
            PageControl->setTabText(device, FAgent.Devices(device).GetCaption());
    });
}

// The worker goes first: a fetch it abandons reports nothing to a page that is being taken down.
TFrameVitrellePlayer::~TFrameVitrellePlayer()
{
    FFetches.reset();
}

void TFrameVitrellePlayer::AddDeviceTabs()
{
    for (int index = PageControl->count(); index < FAgent.DeviceCount(); ++index)
        AddDeviceTab(index);
}

void TFrameVitrellePlayer::RemoveDeviceTab(int index)
{
    if (index < 0 || index >= PageControl->count())
        return;
    FStarting.remove(PageControl->widget(index)); // its fetch finds no tab and plays nothing
    if (static_cast<size_t>(index) < FTabs.size())
        FTabs.erase(FTabs.begin() + static_cast<std::ptrdiff_t>(index));
    RemoveTabSheet(PageControl, index);
    ActionList->UpdateAll();
}

int TFrameVitrellePlayer::IndexOf(const QWidget* tab) const
{
    return tab != nullptr ? PageControl->indexOf(tab) : -1;
}

void TFrameVitrellePlayer::AddDeviceTab(int index)
{
    QWidget* sheet = AddTabSheet(PageControl, FAgent.Devices(index).GetCaption());
    // The sheet, not its index, since tabs move up when a display is let go.
    QAction* play = CreateTabAction(
        sheet, QStringLiteral("actPlayExecute"), QStringLiteral("Play"), *ActionList,
        [this, sheet](QAction& action) { PlayUpdate(action, sheet); }, [this] { PlayExecute(); });
    QAction* stop = CreateTabAction(
        sheet, QStringLiteral("actStopExecute"), QStringLiteral("Stop"), *ActionList,
        [this, sheet](QAction& action) { StopUpdate(action, sheet); }, [this] { StopExecute(); });

    // Captions from the left edge to the fields at 150 pixels (at the default font).
    QGridLayout* grid = CreateTabGrid(sheet, 132, 9);
    TPlayerTab tab;
    tab.Sheet = sheet;
    AddTabHeader(grid,
                 CreateTabLabel(sheet, QStringLiteral("lblPlay"), QStringLiteral("Current vitrelle"), true));
    // Made in the order of the keyboard's tab chain.
    tab.Vitrelles = CreateTabComboBox(sheet, QStringLiteral("cbVitrelle"), 161);
    PlaceInTabGrid(grid, CreateTabLabel(sheet, QStringLiteral("lblVitrelle"), QStringLiteral("Vitrelle:")), 1,
                   1);
    PlaceInTabGrid(grid, tab.Vitrelles, 1, 2);
    tab.Duration = CreateTabSpinEdit(sheet, QStringLiteral("seDuration"), DefaultSeconds, 61);
    PlaceInTabGrid(grid,
                   CreateTabLabel(sheet, QStringLiteral("lblDuration"), QStringLiteral("Slide duration(s):")),
                   2, 1);
    PlaceInTabGrid(grid, tab.Duration, 2, 2);
    tab.Play = CreateTabButton(sheet, QStringLiteral("btnPlay"), QString(), play, 88);
    tab.Stop = CreateTabButton(sheet, QStringLiteral("btnStop"), QString(), stop, 88);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(5);
    buttons->addWidget(tab.Play);
    buttons->addWidget(tab.Stop);
    buttons->addStretch(1);
    grid->addLayout(buttons, 3, 1, 1, 2);
    FinishTabGrid(grid);

    FillVitrelles(tab.Vitrelles);
    FTabs.push_back(tab);
    ActionList->UpdateAll();
}

const TFrameVitrellePlayer::TPlayerTab* TFrameVitrellePlayer::TabOf(const QWidget* sheet) const
{
    const int index = IndexOf(sheet);
    return index >= 0 && static_cast<size_t>(index) < FTabs.size() ? &FTabs[static_cast<size_t>(index)]
                                                                   : nullptr;
}

void TFrameVitrellePlayer::FillVitrelles()
{
    for (const TPlayerTab& tab : FTabs)
        FillVitrelles(tab.Vitrelles);
}

void TFrameVitrellePlayer::FillVitrelles(QComboBox* combo)
{
    const QString chosen = combo->currentText();
    combo->clear();
    const TVitrelleRepository& repository = FAgent.Repository();
    for (int i = 0; i < repository.Count(); ++i)
        combo->addItem(repository.At(i)->Name);
    if (combo->count() == 0)
        return;
    // Names compare without regard to letter case, as the list does.
    const int kept = chosen.isEmpty() ? -1 : combo->findText(chosen, Qt::MatchFixedString);
    combo->setCurrentIndex(kept >= 0 ? kept : 0);
}

void TFrameVitrellePlayer::PlayUpdate(QAction& action, const QWidget* tab)
{
    const int index = IndexOf(tab);
    if (index < 0 || index >= FAgent.PlayerCount()) {
        action.setEnabled(false);
        return;
    }
    const TPlayerTab* controls = TabOf(tab);
    action.setEnabled(FAgent.Players(index).State() != psPlaying && !FStarting.contains(tab) &&
                      controls != nullptr && controls->Vitrelles->currentIndex() >= 0);
}

void TFrameVitrellePlayer::StopUpdate(QAction& action, const QWidget* tab)
{
    const int index = IndexOf(tab);
    action.setEnabled(index >= 0 && index < FAgent.PlayerCount() &&
                      FAgent.Players(index).State() == psPlaying);
}

void TFrameVitrellePlayer::PlayExecute()
{
    const QPointer<QWidget> tab = PageControl->currentWidget();
    const TPlayerTab* controls = TabOf(tab);
    if (controls == nullptr)
        return;
    const TVitrelle* vitrelle = FAgent.Repository().FindByName(controls->Vitrelles->currentText());
    const QString id = vitrelle != nullptr ? vitrelle->Id : QString();
    const int seconds = controls->Duration->value();
    if (id.isEmpty() || tab == nullptr || FStarting.contains(tab))
        return;
    // The vitrelle may have to be fetched first: on the page's worker, so the window and every show go on
    // meanwhile; Play stays off on this tab until it is known. One that cannot be loaded simply does not
    // start (the log says why); a fetch that fails with an error reaches the error display.
    FStarting.insert(tab);
    TVitrelleRepository& repository = FAgent.Repository();
    auto loaded = std::make_shared<bool>(false);
    FFetches->Post([&repository, id, loaded] { *loaded = repository.GetVitrelle(id) != nullptr; },
                   [this, id, tab, seconds, loaded](std::exception_ptr error) {
                       FStarting.remove(tab);
                       // The display's index now; a display let go meanwhile plays nothing.
                       const int device = IndexOf(tab);
                       if (error)
                           TVitrelleCenterApplication::ReportError(this, error);
                       else if (*loaded && device >= 0 && device < FAgent.PlayerCount())
                           LogErrorsOf([&] { FAgent.PlayVitrelle(id, device, seconds); });
                   });
}

void TFrameVitrellePlayer::LogErrorsOf(const std::function<void()>& step)
{
    try {
        step();
    } catch (...) {
        TVitrelleCenterApplication::ReportError(this, std::current_exception());
    }
}

void TFrameVitrellePlayer::StopExecute()
{
    const int index = PageControl->currentIndex();
    if (index >= 0)
        FAgent.StopPlayer(index);
}
