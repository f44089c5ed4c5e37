#include "FrameVitrelleDevice.h"

#include "ActionList.h"
#include "ApplySavePanel.h"
#include "ComSettingForm.h"
#include "ControlCommandSettingForm.h"
#include "ControlLookup.h"
#include "Errors.h"
#include "Log.h"
#include "LogErrors.h"
#include "PageEvents.h"
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
    if (label == nullptr || label->text() == text)
        return;
    label->setText(text);
    if (!label->wordWrap())
        label->adjustSize();
}

} // namespace

TFrameVitrelleDevice::TFrameVitrelleDevice(QWidget* owner, TVitrelleCenterAgent& agent, TPageEvents& events)
    : QFrame(owner), FAgent(agent), FEvents(events)
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
    connect(&events, &TPageEvents::DevicesAdded, this, &TFrameVitrelleDevice::AddNewDevices);
    connect(&events, &TPageEvents::DeviceRemoved, this, &TFrameVitrelleDevice::RemoveDevice);
    ActionList->UpdateAll();
}

// The devices are gone by now; their hooks into this page went with them.
TFrameVitrelleDevice::~TFrameVitrelleDevice() = default;

void TFrameVitrelleDevice::AddNewDevices()
{
    for (int i = static_cast<int>(FCopies.size()); i < FAgent.DeviceCount(); ++i) {
        TVitrelleDevice& device = FAgent.Devices(i);
        BuildDeviceTab(device);
        FillDeviceTab(i, device);
        device.OnPowerStatusChange = [page = QPointer<TFrameVitrelleDevice>(this)](TVitrelleDevice& changed) {
            // Also reached from scheduled power commands: a failing status query must not turn the command
            // that was carried out into an error.
            if (page)
                LogErrors(LogSource, [&] { page->RefreshPowerStatus(changed); });
        };
        // The copies come last: until then the change events of the filling find no copy to change.
        FCopies.push_back(std::make_unique<TCopies>(device.Settings()));
    }
    RefreshActivity();
}

void TFrameVitrelleDevice::RemoveDevice(int index)
{
    if (index < 0 || index >= PageControl->count() || static_cast<size_t>(index) >= FTabDevices.size())
        return;
    const auto at = static_cast<std::ptrdiff_t>(index);
    FPowerClicks.remove(FTabDevices[static_cast<size_t>(index)]);
    FPictureTimes.remove(FTabDevices[static_cast<size_t>(index)]);
    FTabDevices.erase(FTabDevices.begin() + at);
    FModes.erase(FModes.begin() + at);
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
    QWidget* tab = AddTabSheet(PageControl, device.GetCaption());
    CreateTabLabel(tab, QStringLiteral("lblProperties"), QStringLiteral("Properties"), true, 8, 4);
    CreateTabLabel(tab, QStringLiteral("lblDeviceNameHeader"), QStringLiteral("Name:"), false, 34, 12);
    QLineEdit* name =
        CreateTabEdit(tab, QStringLiteral("edDeviceName"), QStringLiteral("<Name>"), 170, 31, 120);
    CreateTabLabel(tab, QStringLiteral("lblDeviceModelHeader"), QStringLiteral("Model name:"), false, 60, 12);
    CreateTabLabel(tab, QStringLiteral("lblDeviceModel"), QStringLiteral("<ModelName>"), false, 60, 120);
    CreateTabLabel(tab, QStringLiteral("lblDeviceManufacturerHeader"), QStringLiteral("Manufacturer:"), false,
                   86, 12);
    CreateTabLabel(tab, QStringLiteral("lblDeviceManufacturer"), QStringLiteral("<Manufacturer>"), false, 86,
                   120);
    CreateTabLabel(tab, QStringLiteral("lblDeviceSerialHeader"), QStringLiteral("Serial number:"), false, 112,
                   12);
    CreateTabLabel(tab, QStringLiteral("lblDeviceSerial"), QStringLiteral("<SerialNumber>"), false, 112, 120);
    CreateTabLabel(tab, QStringLiteral("lblDeviceDisplayMode"), QStringLiteral("Display mode:"), false, 138,
                   12);
    QComboBox* mode = CreateTabComboBox(tab, QStringLiteral("cmbDeviceDisplayMode"), 120, 170, 135);
    QCheckBox* fullScreen =
        CreateTabCheckBox(tab, QStringLiteral("cbDeviceFullScreen"), QStringLiteral("Full screen:"), 164, 12);
    CreateTabLabel(tab, QStringLiteral("lblPower"), QStringLiteral("Power off/on"), true, 194, 4);
    CreateTabLabel(tab, QStringLiteral("lblPowerStatus"), QStringLiteral("Status: ?"), false, 220, 12);
    QPushButton* power = CreateTabButton(tab, QStringLiteral("btnPower"), QStringLiteral("Power on/off"),
                                         nullptr, 88, 245, 12);
    CreateTabLabel(tab, QStringLiteral("lblDeviceControl"), QStringLiteral("Device control"), true, 280, 4);
    QPushButton* com = CreateTabButton(tab, QStringLiteral("btnComSettings"), QStringLiteral("RS232 port..."),
                                       nullptr, 100, 310, 12);
    QPushButton* commands = CreateTabButton(tab, QStringLiteral("btnCommandSettings"),
                                            QStringLiteral("Control commands..."), nullptr, 160, 310, 132);
    CreateTabLabel(tab, QStringLiteral("lblSettingFile"), QStringLiteral("Configuration file"), true, 348, 4);
    CreateTabLabel(tab, QStringLiteral("lblSettingFileName"), QStringLiteral("File name:"), false, 378, 12);
    QLineEdit* file = CreateTabEdit(tab, QStringLiteral("edDeviceSettingFileName"), QStringLiteral("<Name>"),
                                    180, 375, 120);

    // What the display does now and how its last power command ended: the operator's first questions.
    QLabel* lastPower = CreateTabLabel(tab, QStringLiteral("lblLastPower"), QString(), false, 220, 120);
    lastPower->setWordWrap(true);
    lastPower->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lastPower->setGeometry(120, 220, 340, 52);
    CreateTabLabel(tab, QStringLiteral("lblPlaying"), QString(), false, 408, 12);
    // What the display shows, for the operator who is not in front of it.
    CreateTabLabel(tab, QStringLiteral("lblOnScreen"), QStringLiteral("On screen now"), true, 8, 300);
    QLabel* picture = CreateTabLabel(tab, QStringLiteral("imgOnScreen"), QString(), false, 34, 300);
    picture->setGeometry(300, 34, ScreenPictureSize.width(), ScreenPictureSize.height());
    picture->setAlignment(Qt::AlignCenter);
    picture->setFrameShape(QFrame::StyledPanel);
    CreateTabLabel(tab, QStringLiteral("lblOnScreenTime"), QString(), false,
                   34 + ScreenPictureSize.height() + 4, 300);
    QPushButton* takePicture =
        CreateTabButton(tab, QStringLiteral("btnOnScreen"), QStringLiteral("Take one now"), nullptr, 120,
                        34 + ScreenPictureSize.height() + 24, 300);

    connect(name, &QLineEdit::textChanged, this, &TFrameVitrelleDevice::UpdateFromGUI);
    connect(mode, &QComboBox::currentIndexChanged, this, &TFrameVitrelleDevice::UpdateFromGUI);
    connect(fullScreen, &QCheckBox::toggled, this, &TFrameVitrelleDevice::UpdateFromGUI);
    connect(file, &QLineEdit::textChanged, this, &TFrameVitrelleDevice::UpdateFromGUI);
    connect(power, &QPushButton::clicked, this, [this, power] { btnPowerClick(power); });
    connect(com, &QPushButton::clicked, this, &TFrameVitrelleDevice::btnComSettingsClick);
    connect(commands, &QPushButton::clicked, this, &TFrameVitrelleDevice::btnCommandSettingsClick);
    connect(takePicture, &QPushButton::clicked, this, [this, &device] {
        if (TVitrellePlayer* player = PlayerOf(device))
            player->CaptureScreen();
    });
    FModes.emplace_back();
    FTabDevices.push_back(&device);
}

void TFrameVitrelleDevice::FillDeviceTab(int index, TVitrelleDevice& device)
{
    FFilling = true;
    const auto filled = qScopeGuard([this] { FFilling = false; });
    TabControl<QLineEdit>(index, "edDeviceName")->setText(device.GetDisplayName());
    TabControl<QLabel>(index, "lblDeviceModel")->setText(device.Info().GetModel());
    TabControl<QLabel>(index, "lblDeviceManufacturer")->setText(device.Info().GetManufacturer());
    TabControl<QLabel>(index, "lblDeviceSerial")->setText(device.Info().GetSerial());
    for (const char* name : {"lblDeviceModel", "lblDeviceManufacturer", "lblDeviceSerial"})
        TabControl<QLabel>(index, name)->adjustSize();

    std::vector<TDisplayMode>& modes = FModes.at(static_cast<size_t>(index));
    modes.clear();
    if (const std::unique_ptr<std::vector<TDisplayMode>> listed = device.GetDisplayModes())
        modes = *listed;
    auto* box = TabControl<QComboBox>(index, "cmbDeviceDisplayMode");
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

    TabControl<QCheckBox>(index, "cbDeviceFullScreen")->setChecked(device.Settings().FullScreen);
    TabControl<QLineEdit>(index, "edDeviceSettingFileName")->setText(device.GetConfigFileName());
    // What is known now, then what the display answers. A display whose port cannot be opened keeps this;
    // the error is logged.
    ShowPowerStatus(device, device.Control().State);
    RefreshPowerStatus(device);
}

template <class TControl> TControl* TFrameVitrelleDevice::TabControl(int index, const char* prefix) const
{
    auto* control = qobject_cast<TControl*>(FindControlOnPage(PageControl, index, QLatin1String(prefix)));
    if (control == nullptr)
        throw EVitrelleError(QStringLiteral("The Devices page has no control %1 on tab %2")
                                 .arg(QLatin1String(prefix), QString::number(index)));
    return control;
}

void TFrameVitrelleDevice::UpdateFromGUI()
{
    TCopies* copies = SelectedCopies();
    if (FFilling || copies == nullptr)
        return;
    const int index = SelectedIndex();
    TVitrelleDeviceSettings& edited = copies->Edited();
    edited.Name = TabControl<QLineEdit>(index, "edDeviceName")->text();
    edited.FileName = TabControl<QLineEdit>(index, "edDeviceSettingFileName")->text();
    const int mode = TabControl<QComboBox>(index, "cmbDeviceDisplayMode")->currentIndex();
    const std::vector<TDisplayMode>& modes = FModes.at(static_cast<size_t>(index));
    if (mode >= 0 && static_cast<size_t>(mode) < modes.size())
        edited.DisplayMode() = modes[static_cast<size_t>(mode)];
    edited.FullScreen = TabControl<QCheckBox>(index, "cbDeviceFullScreen")->isChecked();
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
    auto* label = TabControl<QLabel>(index, "lblPowerStatus");
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
    TabControl<QPushButton>(index, "btnPower")
        ->setText(OffersPowerOn(device, status) ? PowerOnCaption : PowerOffCaption);
    label->adjustSize();
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
        TComSettingForm::Instance().EditComSettings(copies->Edited().ControlSettings().ComSettings);
}

void TFrameVitrelleDevice::btnCommandSettingsClick()
{
    if (TCopies* copies = SelectedCopies())
        TControlCommandSettingForm::Instance().EditControlCodes(copies->Edited().ControlSettings(), this);
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
        SetTextWhenChanged(TabControl<QLabel>(i, "lblPlaying"), QStringLiteral("Playing: ") + playing);
        const TVitrelleDevice& device = FAgent.Devices(i);
        SetTextWhenChanged(TabControl<QLabel>(i, "lblLastPower"), LastPowerText(device));
        TabControl<QPushButton>(i, "btnPower")
            ->setEnabled(!FPowerClicks.contains(&device) && !device.PowerCommandInProgress());
        const TVitrellePlayer* player = PlayerOf(device);
        TabControl<QPushButton>(i, "btnOnScreen")
            ->setEnabled(player != nullptr && player->State() == psPlaying);
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
    auto* picture = TabControl<QLabel>(index, "imgOnScreen");
    auto* time = TabControl<QLabel>(index, "lblOnScreenTime");
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
    time->adjustSize();
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
