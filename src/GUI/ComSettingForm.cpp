#include "ComSettingForm.h"

#include "ComSettings.h"
#include "Log.h"
#include "ModalDialogs.h"

#include <QCollator>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace {

// The fields stand 133 pixels from the left edge at the default font, 109 pixels wide at the least.
constexpr int CaptionWidth = 117;
constexpr int FieldWidth = 109;

// Every value of the enumeration, in its order, with its text; the item's data is the value.
template <class TEnum> void FillValues(QComboBox* box, TEnum last, QString (*text)(TEnum))
{
    box->clear();
    for (int value = 0; value <= static_cast<int>(last); ++value)
        box->addItem(text(static_cast<TEnum>(value)), value);
}

void SelectValue(QComboBox* box, int value)
{
    box->setCurrentIndex(box->findData(value));
}

// The chosen value; the stored one when nothing is chosen.
template <class TEnum> TEnum ChosenValue(const QComboBox* box, TEnum stored)
{
    return box->currentIndex() < 0 ? stored : static_cast<TEnum>(box->currentData().toInt());
}

// The spin box keeps a value within its range; one that is not is said, not changed unseen.
void ShowTimeOut(QSpinBox* spin, qint32 stored)
{
    spin->setValue(stored);
    if (spin->value() != stored)
        WriteLog(QStringLiteral("TComSettingForm"), 2,
                 QStringLiteral("The serial time-out %1 of %2 ms is out of bounds (0 to %3 ms); the dialog "
                                "offers %4 ms")
                     .arg(spin->objectName(), QString::number(stored), QString::number(spin->maximum()),
                          QString::number(spin->value())));
}

} // namespace

TComSettingForm::TComSettingForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TComSettingForm"));
    setWindowTitle(QStringLiteral("RS232 Port"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(8);
    // As large as its controls need in its font, no larger.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    FGrid = new QGridLayout;
    FGrid->setHorizontalSpacing(8);
    FGrid->setVerticalSpacing(10);
    // The fields start at the same place at the default font, further right when a caption needs it.
    FGrid->setColumnMinimumWidth(0, CaptionWidth);
    layout->addLayout(FGrid);

    // Made in their tab order.
    cbPort = AddComboBox("cbPort");
    // Any tty path may be typed, so that a display can be set up before its adapter is plugged in.
    cbPort->setEditable(true);
    cbPort->setInsertPolicy(QComboBox::NoInsert);
    AddRow("lblPort", QStringLiteral("Port :"), cbPort);
    // A row that chooses one value of an enumeration.
    const auto addValues = [this](const char* name, const char* labelName, const QString& caption, auto last,
                                  auto text) {
        QComboBox* box = AddComboBox(name);
        FillValues(box, last, text);
        AddRow(labelName, caption, box);
        return box;
    };
    cbBaudRate =
        addValues("cbBaudRate", "lblBaudRate", QStringLiteral("Baud rate:"), br256000, &BaudRateToStr);
    cbDataBits =
        addValues("cbDataBits", "lblDataBits", QStringLiteral("Data bits:"), dbEight, &DataBitsToStr);
    cbParity = addValues("cbParity", "lblParity", QStringLiteral("Parity bits:"), prSpace, &ParityToStr);
    cbStopBits =
        addValues("cbStopBits", "lblStopBits", QStringLiteral("Stop bits:"), sbTwoStopBits, &StopBitsToStr);
    cbFlowControl = addValues("cbFlowControl", "lblFlowControl", QStringLiteral("Flow control:"), fcCustom,
                              &FlowControlToStr);
    SeTimeOutConstant = AddSpinEdit("SeTimeOutConstant", TComSettings::DefaultTimeOutConstant,
                                    TComSettings::MaxTimeOutConstant);
    AddRow("lblTimeOutConstant", QStringLiteral("Constant delay (ms):"), SeTimeOutConstant);
    seTimeOutPerChar =
        AddSpinEdit("seTimeOutPerChar", TComSettings::DefaultTimeOutPerChar, TComSettings::MaxTimeOutPerChar);
    AddRow("lblTimeOutPerChar", QStringLiteral("Delay per character (ms):"), seTimeOutPerChar);

    layout->addStretch(1);
    layout->addLayout(AddOkCancelButtons(*this, btnOK, btnCancel));
}

void TComSettingForm::AddRow(const char* labelName, const QString& caption, QWidget* field)
{
    auto* label = new QLabel(caption, this);
    label->setObjectName(QLatin1String(labelName));
    label->setBuddy(field);
    const int row = FGrid->rowCount() == 1 && FGrid->count() == 0 ? 0 : FGrid->rowCount();
    FGrid->addWidget(label, row, 0);
    FGrid->addWidget(field, row, 1);
}

QComboBox* TComSettingForm::AddComboBox(const char* name)
{
    auto* box = new QComboBox(this);
    box->setObjectName(QLatin1String(name));
    box->setEditable(false);
    box->setMinimumWidth(FieldWidth);
    return box;
}

QSpinBox* TComSettingForm::AddSpinEdit(const char* name, int value, int maximum)
{
    auto* spin = new QSpinBox(this);
    spin->setObjectName(QLatin1String(name));
    spin->setRange(0, maximum);
    spin->setValue(value);
    spin->setMinimumWidth(FieldWidth);
    return spin;
}

void TComSettingForm::FillPorts(const QString& stored)
{
    QStringList ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        if (!info.systemLocation().isEmpty() && !ports.contains(info.systemLocation()))
            ports << info.systemLocation();
    // A port that is not there now (an adapter unplugged, a terminal of another kind) stays choosable, so
    // that confirming the dialog never changes it behind the operator's back.
    if (!stored.isEmpty() && !ports.contains(stored))
        ports << stored;
    QCollator order;
    order.setNumericMode(true); // ttyS2 before ttyS10
    std::sort(ports.begin(), ports.end(), order);
    cbPort->clear();
    cbPort->addItems(ports);
    // No stored port: nothing is chosen, and confirming keeps it so.
    cbPort->setCurrentIndex(stored.isEmpty() ? -1 : static_cast<int>(ports.indexOf(stored)));
    cbPort->setEditText(stored);
}

bool TComSettingForm::EditComSettings(TComSettings& settings)
{
    FillPorts(settings.Port);
    SelectValue(cbBaudRate, settings.BaudRate);
    SelectValue(cbDataBits, settings.DataBits);
    SelectValue(cbParity, settings.Parity);
    SelectValue(cbStopBits, settings.StopBits);
    SelectValue(cbFlowControl, settings.FlowControl);
    ShowTimeOut(SeTimeOutConstant, settings.TimeOutConstant);
    ShowTimeOut(seTimeOutPerChar, settings.TimeOutPerChar);
    cbPort->setFocus();

    if (TModal::Exec(*this) != QDialog::Accepted)
        return false;

    settings.Port = cbPort->currentText().trimmed();
    settings.BaudRate = ChosenValue(cbBaudRate, settings.BaudRate);
    settings.DataBits = ChosenValue(cbDataBits, settings.DataBits);
    settings.Parity = ChosenValue(cbParity, settings.Parity);
    settings.StopBits = ChosenValue(cbStopBits, settings.StopBits);
    settings.FlowControl = ChosenValue(cbFlowControl, settings.FlowControl);
    settings.TimeOutConstant = SeTimeOutConstant->value();
    settings.TimeOutPerChar = seTimeOutPerChar->value();
    return true;
}
