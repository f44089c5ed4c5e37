#include "FrameVitrelleDevice.h"

#include "ActionList.h"
#include "ApplySavePanel.h"
#include "ComSettingForm.h"
#include "ControlCommandSettingForm.h"
#include "Errors.h"
#include "Log.h"
#include "LogErrors.h"
#include "ScreenPicture.h"
#include "TabBuilders.h"
#include "Vitrelle.h"
#include "VitrelleCenterAgent.h"
#include "VitrelleCenterApplication.h"
#include "VitrelleCenterSettings.h"
#include "VitrellePlayer.h"
#include "XmlHelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

// The thumbnail of a display's screen on its tab.
constexpr QSize ScreenPictureSize{160, 90};

const QString PowerOnCaption = QStringLiteral("Power on");
const QString PowerOffCaption = QStringLiteral("Power off");

void SetTextWhenChanged(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

} // namespace

TFrameVitrelleDevice::TFrameVitrelleDevice(QWidget* owner, TVitrelleCenterAgent& agent)
    : QFrame(owner), FAgent(agent)
{
    setObjectName(QStringLiteral("TFrameVitrelleDevice"));
    ActionList = new TActionList(this);
    ActionList->setObjectName(QStringLiteral("ActionList"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 8, 0, 0);
    layout->setSpacing(0);
    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setDocumentMode(true); // flat tabs
    layout->addWidget(PageControl, 1);

    const TApplySavePanel panel = CreateApplySavePanel(this, 35, 7);
    pnlButton = panel.Panel;
    btnApplySettings = panel.Apply;
    btnSaveSettings = panel.Save;
    layout->addWidget(pnlButton);

    actApplyDeviceSettings = ActionList->CreateAction(
        QStringLiteral("actApplyDeviceSettings"), QStringLiteral("Appliquer"),
        [this](QAction& action) {
            TVitrelleDevice* device = SelectedDevice();
            const TCopies* copies = SelectedCopies();
            // Compared from the live side: a file name typed without its extension ("Hall") becomes
            // "Hall.xml" in the display once applied, while the edited field keeps what was typed.
            action.setEnabled(device != nullptr && copies != nullptr &&
                              device->Settings() != copies->Edited());
        },
        [this] { ApplySelected(); });
    actSaveDeviceSettings = ActionList->CreateAction(
        QStringLiteral("actSaveDeviceSettings"), QStringLiteral("Sauvegarder"),
        [this](QAction& action) {
            const TCopies* copies = SelectedCopies();
            action.setEnabled(copies != nullptr && copies->CanSave());
        },
        [this] { SaveSelected(); });
    // No button: it keeps each tab's view of what its display does up to date.
    ActionList->CreateAction(QStringLiteral("actRefreshDeviceActivity"), QString(),
                             [this](QAction&) { RefreshActivity(); }, {});
    LinkButton(btnApplySettings, actApplyDeviceSettings, false);
    LinkButton(btnSaveSettings, actSaveDeviceSettings, false);

    AddNewDevices();
    const TAgentNotifier& notifier = FAgent.Notifier();
    connect(&notifier, &TAgentNotifier::DevicesAdded, this, &TFrameVitrelleDevice::AddNewDevices);
    connect(&notifier, &TAgentNotifier::DeviceRemoved, this, &TFrameVitrelleDevice::RemoveDevice);
    connect(&notifier, &TAgentNotifier::PowerStatusChanged, this, [this](int device) {
        // Also reached from scheduled power commands: a failing status query must not turn the command that
        // was carried out into an error.
        if (device >= 0 && device < FAgent.DeviceCount())
            LogErrors(LogSource, [&] { RefreshPowerStatus(FAgent.Devices(device)); });
    });
    ActionList->UpdateAll();
}

// What the displays still report after this goes finds no page: the status queries' outcomes check for it.
TFrameVitrelleDevice::~TFrameVitrelleDevice() = default;

void TFrameVitrelleDevice::AddNewDevices()
{
    for (int i = static_cast<int>(FCopies.size()); i < FAgent.DeviceCount(); ++i) {
        TVitrelleDevice& device = FAgent.Devices(i);
        BuildDeviceTab(device);
        FillDeviceTab(i, device);
        // The copies come last: until then the change events of the filling find no copy to change.
        FCopies.push_back(std::make_unique<TCopies>(device.Settings()));
    }
    RefreshActivity();
}

void TFrameVitrelleDevice::RemoveDevice(int index)
{
    if (index < 0 || index >= PageControl->count() || static_cast<size_t>(index) >= FTabs.size())
        return;
    const auto at = static_cast<std::ptrdiff_t>(index);
    FPowerClicks.remove(FTabs[static_cast<size_t>(index)].Device);
    FPictureTimes.remove(FTabs[static_cast<size_t>(index)].Device);
    FTabs.erase(FTabs.begin() + at);
    if (static_cast<size_t>(index) < FCopies.size())
        FCopies.erase(FCopies.begin() + at);
    // Another tab becomes the current one: its controls change nothing while the tab goes.
    FFilling = true;
    const auto removed = qScopeGuard([this] { FFilling = false; });
    RemoveTabSheet(PageControl, index);
    RefreshActivity();
    ActionList->UpdateAll();
}

void TFrameVitrelleDevice::BuildDeviceTab(TVitrelleDevice& device)
{
    QWidget* sheet = AddTabSheet(PageControl, device.GetCaption());
    // Captions from the left edge to the fields at 120 pixels, the fields up to the picture of the screen
    // at 300 (at the default font).
    QGridLayout* grid = CreateTabGrid(sheet, 102);
    grid->setColumnMinimumWidth(2, 174);
    TDeviceTab tab;
    tab.Device = &device;
    // Made in the order of the keyboard's tab chain.
    grid->addWidget(
        CreateTabLabel(sheet, QStringLiteral("lblProperties"), QStringLiteral("Properties"), true), 0, 0, 1,
        3);
    const auto field = [&](int row, const QString& captionName, const QString& caption, QWidget* control) {
        PlaceInTabGrid(grid, CreateTabLabel(sheet, captionName, caption), row, 1);
        PlaceInTabGrid(grid, control, row, 2);
    };
    tab.Name = CreateTabEdit(sheet, QStringLiteral("edDeviceName"), QStringLiteral("<Name>"), 170);
    field(1, QStringLiteral("lblDeviceNameHeader"), QStringLiteral("Name:"), tab.Name);
    tab.Model = CreateTabLabel(sheet, QStringLiteral("lblDeviceModel"), QStringLiteral("<ModelName>"));
    field(2, QStringLiteral("lblDeviceModelHeader"), QStringLiteral("Model name:"), tab.Model);
    tab.Manufacturer =
        CreateTabLabel(sheet, QStringLiteral("lblDeviceManufacturer"), QStringLiteral("<Manufacturer>"));
    field(3, QStringLiteral("lblDeviceManufacturerHeader"), QStringLiteral("Manufacturer:"),
          tab.Manufacturer);
    tab.Serial = CreateTabLabel(sheet, QStringLiteral("lblDeviceSerial"), QStringLiteral("<SerialNumber>"));
    field(4, QStringLiteral("lblDeviceSerialHeader"), QStringLiteral("Serial number:"), tab.Serial);
    tab.DisplayMode = CreateTabComboBox(sheet, QStringLiteral("cmbDeviceDisplayMode"), 170, true);
    field(5, QStringLiteral("lblDeviceDisplayMode"), QStringLiteral("Display mode:"), tab.DisplayMode);
    tab.FullScreen =
        CreateTabCheckBox(sheet, QStringLiteral("cbDeviceFullScreen"), QStringLiteral("Full screen:"));
    PlaceInTabGrid(grid, tab.FullScreen, 6, 1, 1, 2);

    AddTabHeader(grid,
                 CreateTabLabel(sheet, QStringLiteral("lblPower"), QStringLiteral("Power off/on"), true));
    const int power = grid->rowCount();
    tab.PowerStatus = CreateTabLabel(sheet, QStringLiteral("lblPowerStatus"), QStringLiteral("Status: ?"));
    PlaceInTabGrid(grid, tab.PowerStatus, power, 1);
    tab.Power =
        CreateTabButton(sheet, QStringLiteral("btnPower"), QStringLiteral("Power on/off"), nullptr, 88);
    PlaceInTabGrid(grid, tab.Power, power + 1, 1);

    AddTabHeader(grid, CreateTabLabel(sheet, QStringLiteral("lblDeviceControl"),
                                      QStringLiteral("Device control"), true));
    tab.ComSettings = CreateTabButton(sheet, QStringLiteral("btnComSettings"),
                                      QStringLiteral("RS232 port..."), nullptr, 100);
    tab.CommandSettings = CreateTabButton(sheet, QStringLiteral("btnCommandSettings"),
                                          QStringLiteral("Control commands..."), nullptr, 160);
    auto* control = new QHBoxLayout;
    control->setSpacing(20);
    control->addWidget(tab.ComSettings);
    control->addWidget(tab.CommandSettings);
    control->addStretch(1);
    grid->addLayout(control, grid->rowCount(), 1, 1, 3);

    AddTabHeader(grid, CreateTabLabel(sheet, QStringLiteral("lblSettingFile"),
                                      QStringLiteral("Configuration file"), true));
    tab.FileName =
        CreateTabEdit(sheet, QStringLiteral("edDeviceSettingFileName"), QStringLiteral("<Name>"), 180);
    const int file = grid->rowCount();
    PlaceInTabGrid(grid,
                   CreateTabLabel(sheet, QStringLiteral("lblSettingFileName"), QStringLiteral("File name:")),
                   file, 1);
    PlaceInTabGrid(grid, tab.FileName, file, 2, 1, 2);

    // What the display does now and how its last power command ended: the operator's first questions.
    tab.LastPower = CreateTabLabel(sheet, QStringLiteral("lblLastPower"), QString());
    tab.LastPower->setWordWrap(true);
    tab.LastPower->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    tab.LastPower->setMinimumWidth(340);
    PlaceInTabGrid(grid, tab.LastPower, power, 2, 2, 2, true);
    tab.Playing = CreateTabLabel(sheet, QStringLiteral("lblPlaying"), QString());
    PlaceInTabGrid(grid, tab.Playing, file + 1, 1, 1, 3);
    // What the display shows, for the operator who is not in front of it.
    PlaceInTabGrid(
        grid, CreateTabLabel(sheet, QStringLiteral("lblOnScreen"), QStringLiteral("On screen now"), true), 0,
        3);
    tab.Picture = CreateTabLabel(sheet, QStringLiteral("imgOnScreen"), QString());
    tab.Picture->setMinimumSize(ScreenPictureSize); // more when "No picture yet" needs it
    tab.Picture->setAlignment(Qt::AlignCenter);
    tab.Picture->setFrameShape(QFrame::StyledPanel);
    grid->addWidget(tab.Picture, 1, 3, 4, 1, Qt::AlignLeft | Qt::AlignTop);
    tab.PictureTime = CreateTabLabel(sheet, QStringLiteral("lblOnScreenTime"), QString());
    PlaceInTabGrid(grid, tab.PictureTime, 5, 3);
    tab.TakePicture =
        CreateTabButton(sheet, QStringLiteral("btnOnScreen"), QStringLiteral("Take one now"), nullptr, 120);
    PlaceInTabGrid(grid, tab.TakePicture, 6, 3);
    FinishTabGrid(grid);

    connect(tab.Name, &QLineEdit::textChanged, this, &TFrameVitrelleDevice::UpdateFromGUI);
    connect(tab.DisplayMode, &QComboBox::currentIndexChanged, this, &TFrameVitrelleDevice::UpdateFromGUI);
    connect(tab.FullScreen, &QCheckBox::toggled, this, &TFrameVitrelleDevice::UpdateFromGUI);
    connect(tab.FileName, &QLineEdit::textChanged, this, &TFrameVitrelleDevice::UpdateFromGUI);
    QPushButton* powerButton = tab.Power;
    connect(powerButton, &QPushButton::clicked, this, [this, powerButton] { btnPowerClick(powerButton); });
    connect(tab.ComSettings, &QPushButton::clicked, this, &TFrameVitrelleDevice::btnComSettingsClick);
    connect(tab.CommandSettings, &QPushButton::clicked, this, &TFrameVitrelleDevice::btnCommandSettingsClick);
    connect(tab.TakePicture, &QPushButton::clicked, this, [this, &device] {
        if (TVitrellePlayer* player = PlayerOf(device))
            player->CaptureScreen();
    });
    FTabs.push_back(std::move(tab));
}

void TFrameVitrelleDevice::FillDeviceTab(int index, TVitrelleDevice& device)
{
    FFilling = true;
    const auto filled = qScopeGuard([this] { FFilling = false; });
    TDeviceTab& tab = Tab(index);
    tab.Name->setText(device.GetDisplayName());
    tab.Model->setText(device.Info().GetModel());
    tab.Manufacturer->setText(device.Info().GetManufacturer());
    tab.Serial->setText(device.Info().GetSerial());

    std::vector<TDisplayMode>& modes = tab.Modes;
    modes.clear();
    if (const std::unique_ptr<std::vector<TDisplayMode>> listed = device.GetDisplayModes())
        modes = *listed;
    QComboBox* box = tab.DisplayMode;
    box->clear();
    for (size_t i = 0; i < modes.size(); ++i)
        box->addItem(modes[i].ToString(), static_cast<int>(i));
    std::unique_ptr<TDisplayMode> reference;
    if (device.SupportsDisplayMode(&device.Settings().DisplayMode()))
        reference = std::make_unique<TDisplayMode>(device.Settings().DisplayMode());
    else
        reference = device.GetCurrentDisplayMode();
    int selected = -1;
    for (size_t i = 0; reference && i < modes.size() && selected < 0; ++i)
        if (modes[i] == *reference)
            selected = static_cast<int>(i);
    box->setCurrentIndex(selected);

    tab.FullScreen->setChecked(device.Settings().FullScreen);
    tab.FileName->setText(device.GetConfigFileName());
    // What is known now, then what the display answers. A display whose port cannot be opened keeps this;
    // the error is logged.
    ShowPowerStatus(device, device.Control().State);
    RefreshPowerStatus(device);
}

TFrameVitrelleDevice::TDeviceTab& TFrameVitrelleDevice::Tab(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= FTabs.size())
        throw EVitrelleError(QStringLiteral("The Devices page has no tab %1").arg(index));
    return FTabs[static_cast<size_t>(index)];
}

void TFrameVitrelleDevice::UpdateFromGUI()
{
    TCopies* copies = SelectedCopies();
    if (FFilling || copies == nullptr)
        return;
    const TDeviceTab& tab = Tab(SelectedIndex());
    TVitrelleDeviceSettings& edited = copies->Edited();
    edited.Name = tab.Name->text();
    edited.FileName = tab.FileName->text();
    const int mode = tab.DisplayMode->currentIndex();
    if (mode >= 0 && static_cast<size_t>(mode) < tab.Modes.size())
        edited.DisplayMode() = tab.Modes[static_cast<size_t>(mode)];
    edited.FullScreen = tab.FullScreen->isChecked();
}

void TFrameVitrelleDevice::RefreshPowerStatus(TVitrelleDevice& device)
{
    device.QueryPowerStatusAsync([page = QPointer<TFrameVitrelleDevice>(this),
                                  device = &device](TPowerStatus status, std::exception_ptr error) {
        if (!page)
            return;
        if (error)
            LogErrors(LogSource, [&] { std::rethrow_exception(error); });
        else
            page->ShowPowerStatus(*device, status);
    });
}

bool TFrameVitrelleDevice::OffersPowerOn(const TVitrelleDevice& device, TPowerStatus status)
{
    switch (status) {
    case pwOn:
        return false;
    case pwOff:
        return true;
    case pwUnknown:
        break;
    }
    const std::optional<TPowerCommandRecord> last = device.LastPowerCommand();
    return !last || !last->On;
}

void TFrameVitrelleDevice::ShowPowerStatus(TVitrelleDevice& device, TPowerStatus status)
{
    const int index = TabIndexOf(device);
    if (index < 0)
        return;
    TDeviceTab& tab = Tab(index);
    QLabel* label = tab.PowerStatus;
    switch (status) {
    case pwOn:
        label->setText(QStringLiteral("Status: On"));
        break;
    case pwOff:
        label->setText(QStringLiteral("Status: Off"));
        break;
    case pwUnknown:
        label->setText(QStringLiteral("Status: ?"));
        break;
    }
    tab.Power->setText(OffersPowerOn(device, status) ? PowerOnCaption : PowerOffCaption);
}

void TFrameVitrelleDevice::btnPowerClick(QAbstractButton* button)
{
    TVitrelleDevice* device = SelectedDevice();
    if (device == nullptr || FPowerClicks.contains(device))
        return;
    // The display's state decides; when it is not known, the command the button offers.
    const bool offeredOn = button == nullptr || button->text() != PowerOffCaption;
    FPowerClicks.insert(device);
    RefreshActivity();
    const QPointer<TFrameVitrelleDevice> page(this);
    // Errors reach the operator as those of any handler of the page; the tab then shows what it showed
    // before. Not called once the device is gone.
    const auto ended = [page, device](std::exception_ptr error) {
        if (!page)
            return;
        page->FPowerClicks.remove(device);
        page->RefreshActivity();
        if (error)
            TVitrelleCenterApplication::ReportError(page, error);
    };
    device->QueryPowerStatusAsync(
        [page, device, offeredOn, ended](TPowerStatus status, std::exception_ptr error) {
            if (!page)
                return;
            if (error) {
                ended(error);
                return;
            }
            const bool on = status == pwUnknown ? offeredOn : status == pwOff;
            device->PowerAsync(on, [ended](bool, std::exception_ptr commandError) { ended(commandError); });
        });
}

void TFrameVitrelleDevice::btnComSettingsClick()
{
    if (TCopies* copies = SelectedCopies())
        TComSettingForm(this).EditComSettings(copies->Edited().ControlSettings().ComSettings);
}

void TFrameVitrelleDevice::btnCommandSettingsClick()
{
    if (TCopies* copies = SelectedCopies())
        TControlCommandSettingForm(this).EditControlCodes(copies->Edited().ControlSettings());
}

void TFrameVitrelleDevice::RenameWhenEdited(int index, TCopies& copies)
{
    const TVitrelleDevice& device = FAgent.Devices(index);
    const TVitrelleDeviceSettings& edited = copies.Edited();
    // As the display derives its own: an unnamed display shows "Device N" and its file is named after that.
    const QString editedName = device.DisplayNameOf(edited.Name);
    const QString editedFile =
        edited.GetFileName().isEmpty() ? ForceXmlExtension(editedName) : edited.GetFileName();
    if (editedName == device.GetDisplayName() &&
        editedFile.compare(device.GetConfigFileName(), Qt::CaseInsensitive) == 0)
        return;
    // The agent renames the display, its settings file and its actions at once, and tells the pages.
    FAgent.RenameDevice(index, edited.Name, editedFile);
    const QString name = device.Settings().Name;
    const QString file = device.Settings().GetFileName();
    copies.Adjust([&](TVitrelleDeviceSettings& settings) {
        settings.Name = name;
        settings.FileName = file;
    });
    PageControl->setTabText(index, device.GetCaption());
}

void TFrameVitrelleDevice::ApplySelected()
{
    TVitrelleDevice* device = SelectedDevice();
    TCopies* copies = SelectedCopies();
    if (device == nullptr || copies == nullptr)
        return;
    RenameWhenEdited(SelectedIndex(), *copies);
    // The display takes the values and hands the new port settings to its control.
    device->ApplySettings(&copies->Edited());
    PageControl->setTabText(SelectedIndex(), device->GetCaption());
}

void TFrameVitrelleDevice::SaveSelected()
{
    TVitrelleDevice* device = SelectedDevice();
    TCopies* copies = SelectedCopies();
    if (device == nullptr || copies == nullptr)
        return;
    RenameWhenEdited(SelectedIndex(), *copies);
    const QString path = FAgent.GetDeviceFolder() + device->GetConfigFileName();
    copies->Save([&](const TVitrelleDeviceSettings& settings) {
        if (!settings.SaveToFile(path))
            throw EVitrelleError(QStringLiteral("Cannot save the device settings to %1").arg(path));
    });
}

void TFrameVitrelleDevice::RefreshActivity()
{
    for (int i = 0; i < static_cast<int>(FCopies.size()) && i < FAgent.DeviceCount(); ++i) {
        QString playing = QStringLiteral("Idle");
        if (i < FAgent.PlayerCount()) {
            const TVitrellePlayer& player = FAgent.Players(i);
            if (player.State() == psPlaying && player.Vitrelle() != nullptr)
                playing = player.Vitrelle()->Name.isEmpty() ? player.Vitrelle()->Id : player.Vitrelle()->Name;
        }
        TDeviceTab& tab = Tab(i);
        SetTextWhenChanged(tab.Playing, QStringLiteral("Playing: ") + playing);
        const TVitrelleDevice& device = FAgent.Devices(i);
        SetTextWhenChanged(tab.LastPower, LastPowerText(device));
        tab.Power->setEnabled(!FPowerClicks.contains(&device) && !device.PowerCommandInProgress());
        const TVitrellePlayer* player = PlayerOf(device);
        tab.TakePicture->setEnabled(player != nullptr && player->State() == psPlaying);
        ShowScreenPicture(i, device);
    }
}

TVitrellePlayer* TFrameVitrelleDevice::PlayerOf(const TVitrelleDevice& device) const
{
    for (int i = 0; i < FAgent.PlayerCount(); ++i)
        if (FAgent.Players(i).Device() == &device)
            return &FAgent.Players(i);
    return nullptr;
}

void TFrameVitrelleDevice::ShowScreenPicture(int index, const TVitrelleDevice& device)
{
    const QString path = TScreenPicture::FileOf(
        QDir(FAgent.Settings().GetBasePath()).filePath(QStringLiteral("Screens")), device.GetDisplayName());
    const QFileInfo file(path);
    const QDateTime written = file.exists() ? file.lastModified() : QDateTime();
    auto shown = FPictureTimes.find(&device);
    if (shown != FPictureTimes.end() && shown.value() == written)
        return;
    FPictureTimes.insert(&device, written);
    QLabel* picture = Tab(index).Picture;
    QLabel* time = Tab(index).PictureTime;
    const QPixmap pixmap(written.isValid() ? path : QString());
    if (pixmap.isNull()) {
        picture->setPixmap(QPixmap());
        picture->setText(QStringLiteral("No picture yet"));
        time->setText(QString());
        return;
    }
    picture->setPixmap(pixmap.scaled(ScreenPictureSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    const QString format = written.date() == QDate::currentDate() ? QStringLiteral("HH:mm:ss")
                                                                  : QStringLiteral("yyyy-MM-dd HH:mm");
    time->setText(QStringLiteral("at ") + written.toString(format));
}

QString TFrameVitrelleDevice::LastPowerText(const TVitrelleDevice& device) const
{
    const std::optional<TPowerCommandRecord> running = device.PowerCommandInProgress();
    const std::optional<TPowerCommandRecord> last = running ? running : device.LastPowerCommand();
    if (!last)
        return QStringLiteral("Last command: none");
    // The day only when it was not today.
    const QString format = last->Time.date() == FAgent.Platform().Clock->Now().date()
                               ? QStringLiteral("HH:mm")
                               : QStringLiteral("yyyy-MM-dd HH:mm");
    QString outcome = last->Succeeded ? QStringLiteral("succeeded") : QStringLiteral("failed");
    if (running)
        outcome = QStringLiteral("in progress");
    else if (!last->Error.isEmpty())
        outcome += QStringLiteral(" (") + last->Error + QLatin1Char(')');
    return QStringLiteral("Last command: %1 at %2: %3")
        .arg(last->On ? PowerOnCaption : PowerOffCaption, last->Time.toString(format), outcome);
}

int TFrameVitrelleDevice::TabIndexOf(const TVitrelleDevice& device) const
{
    for (int i = 0; i < FAgent.DeviceCount() && i < PageControl->count(); ++i)
        if (&FAgent.Devices(i) == &device)
            return i;
    return -1;
}

int TFrameVitrelleDevice::SelectedIndex() const
{
    const int index = PageControl->currentIndex();
    return index >= 0 && index < static_cast<int>(FCopies.size()) && index < FAgent.DeviceCount() ? index
                                                                                                  : -1;
}

TVitrelleDevice* TFrameVitrelleDevice::SelectedDevice() const
{
    const int index = SelectedIndex();
    return index < 0 ? nullptr : &FAgent.Devices(index);
}

TFrameVitrelleDevice::TCopies* TFrameVitrelleDevice::SelectedCopies() const
{
    const int index = SelectedIndex();
    return index < 0 ? nullptr : FCopies[static_cast<size_t>(index)].get();
}
