#include "FrameVitrellePlayer.h"

#include "ActionList.h"
#include "ControlLookup.h"
#include "ModalDialogs.h"
#include "TabBuilders.h"
#include "VitrelleCenterAgent.h"
#include "VitrelleCenterApplication.h"
#include "WorkQueue.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <memory>

namespace {

constexpr int PageWidth = 450;
constexpr int PageHeight = 628;
constexpr int DefaultSeconds = 10;

} // namespace

TFrameVitrellePlayer::TFrameVitrellePlayer(QWidget* owner, TVitrelleCenterAgent& agent)
    : QFrame(owner), FAgent(agent), FFetches(std::make_unique<TWorkQueue>(QStringLiteral("Vitrelles page")))
{
    setObjectName(QStringLiteral("TFrameVitrellePlayer"));
    resize(PageWidth, PageHeight);
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
    RemoveTabSheet(PageControl, index);
    ActionList->UpdateAll();
}

int TFrameVitrellePlayer::IndexOf(const QWidget* tab) const
{
    return tab != nullptr ? PageControl->indexOf(tab) : -1;
}

void TFrameVitrellePlayer::AddDeviceTab(int index)
{
    QWidget* tab = AddTabSheet(PageControl, FAgent.Devices(index).GetCaption());
    // The tab, not its index, since tabs move up when a display is let go.
    QAction* play = CreateTabAction(
        tab, QStringLiteral("actPlayExecute"), QStringLiteral("Play"), *ActionList,
        [this, tab](QAction& action) { PlayUpdate(action, tab); }, [this] { PlayExecute(); });
    QAction* stop = CreateTabAction(
        tab, QStringLiteral("actStopExecute"), QStringLiteral("Stop"), *ActionList,
        [this, tab](QAction& action) { StopUpdate(action, tab); }, [this] { StopExecute(); });

    CreateTabLabel(tab, QStringLiteral("lblPlay"), QStringLiteral("Current vitrelle"), true, 8, 4);
    CreateTabLabel(tab, QStringLiteral("lblVitrelle"), QStringLiteral("Vitrelle:"), false, 38, 12);
    QComboBox* combo = CreateTabComboBox(tab, QStringLiteral("cbVitrelle"), 150, 161, 35);
    CreateTabLabel(tab, QStringLiteral("lblDuration"), QStringLiteral("Slide duration(s):"), false, 68, 12);
    QSpinBox* duration = CreateTabSpinEdit(tab, QStringLiteral("seDuration"), 150, DefaultSeconds, 61, 65);
    QPushButton* playButton = CreateTabButton(tab, QStringLiteral("btnPlay"), QString(), play, 88, 98, 12);
    QPushButton* stopButton = CreateTabButton(tab, QStringLiteral("btnStop"), QString(), stop, 88, 98, 105);
    QWidget::setTabOrder(combo, duration);
    QWidget::setTabOrder(duration, playButton);
    QWidget::setTabOrder(playButton, stopButton);

    FillVitrelles(combo);
    ActionList->UpdateAll();
}

void TFrameVitrellePlayer::FillVitrelles()
{
    for (int index = 0; index < PageControl->count(); ++index)
        if (auto* combo =
                qobject_cast<QComboBox*>(FindControlOnPage(PageControl, index, QStringLiteral("cbVitrelle"))))
            FillVitrelles(combo);
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
    const auto* combo =
        qobject_cast<QComboBox*>(FindControlOnPage(PageControl, index, QStringLiteral("cbVitrelle")));
    action.setEnabled(FAgent.Players(index).State() != psPlaying && !FStarting.contains(tab) &&
                      combo != nullptr && combo->currentIndex() >= 0);
}

void TFrameVitrellePlayer::StopUpdate(QAction& action, const QWidget* tab)
{
    const int index = IndexOf(tab);
    action.setEnabled(index >= 0 && index < FAgent.PlayerCount() &&
                      FAgent.Players(index).State() == psPlaying);
}

void TFrameVitrellePlayer::PlayExecute()
{
    const int index = PageControl->currentIndex();
    const auto* combo =
        qobject_cast<QComboBox*>(FindControlOnPage(PageControl, index, QStringLiteral("cbVitrelle")));
    const auto* duration =
        qobject_cast<QSpinBox*>(FindControlOnPage(PageControl, index, QStringLiteral("seDuration")));
    if (combo == nullptr)
        return;
    const TVitrelle* vitrelle = FAgent.Repository().FindByName(combo->currentText());
    const QString id = vitrelle != nullptr ? vitrelle->Id : QString();
    const int seconds = duration != nullptr ? duration->value() : DefaultSeconds;
    const QPointer<QWidget> tab = PageControl->widget(index);
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
