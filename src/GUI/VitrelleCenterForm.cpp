#include "VitrelleCenterForm.h"

#include "ActionList.h"
#include "FrameVitrelleDevice.h"
#include "FrameVitrellePlayer.h"
#include "FrameVitrelleScheduler.h"
#include "FrameVitrelleSettings.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QStackedLayout>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int ClientWidth = 482;
constexpr int ClientHeight = 615;
constexpr QSize ButtonSize{100, 70};
} // namespace

TfrmVitrelleCenter::TfrmVitrelleCenter(TVitrelleCenterAgent& agent, QWidget* parent)
    : QWidget(parent), FAgent(agent)
{
    setObjectName(QStringLiteral("frmVitrelleCenter"));
    BuildLayout();
    sbDevicesClick();
}

// The pages go with the window; the agent, and the notifier they listened to, stay with their maker.
TfrmVitrelleCenter::~TfrmVitrelleCenter()
{
    // No button works out its state from a page half taken down.
    for (TActionList* actions : MainPanel->findChildren<TActionList*>())
        actions->Stop();
}

void TfrmVitrelleCenter::BuildLayout()
{
    setWindowTitle(QStringLiteral("VitrelleCenter"));
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPixelSize(11);
    setFont(tahoma);
    resize(ClientWidth, ClientHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    TopPanel = new QFrame(this);
    TopPanel->setObjectName(QStringLiteral("TopPanel"));
    TopPanel->setFrameShape(QFrame::NoFrame);
    TopPanel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* buttons = new QHBoxLayout(TopPanel);
    buttons->setContentsMargins(1, 1, 1, 2);
    buttons->setSpacing(0);
    layout->addWidget(TopPanel);

    FPageButtons = new QButtonGroup(this);
    FPageButtons->setExclusive(true);
    sbDevices =
        AddPageButton(QStringLiteral("sbDevices"), QStringLiteral("Devices"), QStyle::SP_ComputerIcon);
    sbVitrelles =
        AddPageButton(QStringLiteral("sbVitrelles"), QStringLiteral("Vitrelles"), QStyle::SP_MediaPlay);
    sbSchedule = AddPageButton(QStringLiteral("sbSchedule"), QStringLiteral("Schedule"),
                               QStyle::SP_FileDialogDetailedView);
    sbSettings = AddPageButton(QStringLiteral("sbSettings"), QStringLiteral("Settings"),
                               QStyle::SP_FileDialogInfoView);
    buttons->addStretch(1);
    connect(sbDevices, &QToolButton::clicked, this, &TfrmVitrelleCenter::sbDevicesClick);
    connect(sbVitrelles, &QToolButton::clicked, this, &TfrmVitrelleCenter::sbVitrellesClick);
    connect(sbSchedule, &QToolButton::clicked, this, &TfrmVitrelleCenter::sbScheduleClick);
    connect(sbSettings, &QToolButton::clicked, this, &TfrmVitrelleCenter::sbSettingsClick);
    sbDevices->setChecked(true);

    MainPanel = new QFrame(this);
    MainPanel->setObjectName(QStringLiteral("MainPanel"));
    MainPanel->setFrameShape(QFrame::NoFrame);
    FPageStack = new QStackedLayout(MainPanel);
    FPageStack->setContentsMargins(0, 0, 0, 0);
    // Every page stays shown; the one in front covers the others.
    FPageStack->setStackingMode(QStackedLayout::StackAll);
    layout->addWidget(MainPanel, 1);
}

QToolButton* TfrmVitrelleCenter::AddPageButton(const QString& name, const QString& caption, int iconKind)
{
    auto* button = new QToolButton(TopPanel);
    button->setObjectName(name);
    button->setText(caption);
    button->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(iconKind)));
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setCheckable(true);
    button->setMinimumSize(ButtonSize);
    TopPanel->layout()->addWidget(button);
    FPageButtons->addButton(button);
    return button;
}

void TfrmVitrelleCenter::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        Q_EMIT Closed();
}

void TfrmVitrelleCenter::sbDevicesClick()
{
    ShowPage(TPage::Devices);
}

void TfrmVitrelleCenter::sbVitrellesClick()
{
    ShowPage(TPage::Vitrelles);
}

void TfrmVitrelleCenter::sbScheduleClick()
{
    ShowPage(TPage::Schedule);
}

void TfrmVitrelleCenter::sbSettingsClick()
{
    ShowPage(TPage::Settings);
}

QWidget*& TfrmVitrelleCenter::PageField(TPage page)
{
    switch (page) {
    case TPage::Devices:
        return FDevicesPage;
    case TPage::Vitrelles:
        return FVitrellesPage;
    case TPage::Schedule:
        return FSchedulePage;
    case TPage::Settings:
        break;
    }
    return FSettingsPage;
}

QWidget* TfrmVitrelleCenter::Page(TPage page) const
{
    return const_cast<TfrmVitrelleCenter*>(this)->PageField(page);
}

QWidget* TfrmVitrelleCenter::CreatePage(TPage page)
{
    QWidget* created = nullptr;
    switch (page) {
    case TPage::Devices:
        created = new TFrameVitrelleDevice(MainPanel, FAgent);
        break;
    case TPage::Vitrelles:
        created = new TFrameVitrellePlayer(MainPanel, FAgent);
        break;
    case TPage::Schedule:
        created = new TFrameVitrelleScheduler(MainPanel, FAgent);
        break;
    case TPage::Settings:
        created = new TFrameVitrelleSettings(MainPanel, FAgent);
        break;
    }
    created->setAutoFillBackground(true); // the page in front hides the others
    return created;
}

void TfrmVitrelleCenter::ShowPage(TPage page)
{
    QWidget*& field = PageField(page);
    if (field == nullptr) {
        field = CreatePage(page);
        FPageStack->addWidget(field);
    }
    field->setVisible(true);
    FPageStack->setCurrentWidget(field);
    field->raise();
}
