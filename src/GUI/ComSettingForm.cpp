#include "ComSettingForm.h"

#include "ComSettings.h"
#include "Log.h"
#include "ModalDialogs.h"

#include <QCollator>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSerialPortInfo>
#include <QSpinBox>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

constexpr int ClientWidth = 250;
constexpr int ClientHeight = 298;
constexpr int FieldLeft = 133;
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

    AddLabel("lblPort", QStringLiteral("Port :"), 8, 11);
    AddLabel("lblBaudRate", QStringLiteral("Baud rate:"), 8, 42);
    AddLabel("lblDataBits", QStringLiteral("Data bits:"), 8, 73);
    AddLabel("lblParity", QStringLiteral("Parity bits:"), 8, 104);
    AddLabel("lblStopBits", QStringLiteral("Stop bits:"), 8, 135);
    AddLabel("lblFlowControl", QStringLiteral("Flow control:"), 8, 166);
    AddLabel("lblTimeOutConstant", QStringLiteral("Constant delay (ms):"), 8, 197);
    AddLabel("lblTimeOutPerChar", QStringLiteral("Delay per character (ms):"), 9, 228);
    // The fields stand right of the longest label: a font wider than the one the layout was made for must
    // not hide the end of a label under its field.
    FFieldLeft = FieldLeft;
    for (const QLabel* label : findChildren<QLabel*>())
        FFieldLeft = std::max(FFieldLeft, label->geometry().right() + 8);
    const int width = FFieldLeft + FieldWidth + (ClientWidth - FieldLeft - FieldWidth); // the same margin
    const int shift = width - ClientWidth;

    // Made in their tab order.
    cbPort = AddComboBox("cbPort", 8);
    // Any tty path may be typed, so that a display can be set up before its adapter is plugged in.
    cbPort->setEditable(true);
    cbPort->setInsertPolicy(QComboBox::NoInsert);
    cbBaudRate = AddComboBox("cbBaudRate", 39);
    FillValues(cbBaudRate, br256000, &BaudRateToStr);
    cbDataBits = AddComboBox("cbDataBits", 70);
    FillValues(cbDataBits, dbEight, &DataBitsToStr);
    cbParity = AddComboBox("cbParity", 101);
    FillValues(cbParity, prSpace, &ParityToStr);
    cbStopBits = AddComboBox("cbStopBits", 132);
    FillValues(cbStopBits, sbTwoStopBits, &StopBitsToStr);
    cbFlowControl = AddComboBox("cbFlowControl", 163);
    FillValues(cbFlowControl, fcCustom, &FlowControlToStr);
    SeTimeOutConstant = AddSpinEdit("SeTimeOutConstant", TComSettings::DefaultTimeOutConstant,
                                    TComSettings::MaxTimeOutConstant, 194);
    seTimeOutPerChar = AddSpinEdit("seTimeOutPerChar", TComSettings::DefaultTimeOutPerChar,
                                   TComSettings::MaxTimeOutPerChar, 225);

    AddOkCancelButtons(*this, 78 + shift, 166 + shift, 266, btnOK, btnCancel);

    setFixedSize(width, ClientHeight);
}

QLabel* TComSettingForm::AddLabel(const char* name, const QString& caption, int left, int top)
{
    auto* label = new QLabel(caption, this);
    label->setObjectName(QLatin1String(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

QComboBox* TComSettingForm::AddComboBox(const char* name, int top)
{
    auto* box = new QComboBox(this);
    box->setObjectName(QLatin1String(name));
    box->setEditable(false);
    box->setGeometry(FFieldLeft, top, FieldWidth, 21);
    return box;
}

QSpinBox* TComSettingForm::AddSpinEdit(const char* name, int value, int maximum, int top)
{
    auto* spin = new QSpinBox(this);
    spin->setObjectName(QLatin1String(name));
    spin->setRange(0, maximum);
    spin->setValue(value);
    spin->setGeometry(FFieldLeft, top, FieldWidth, 21);
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
