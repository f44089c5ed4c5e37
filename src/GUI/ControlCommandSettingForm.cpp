#include "ControlCommandSettingForm.h"

#include "DeviceControl.h"
#include "ModalDialogs.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

namespace {

constexpr int ClientWidth = 581;
constexpr int ClientHeight = 207;
constexpr int EditWidth = 121;

} // namespace

TControlCommandSettingForm::TControlCommandSettingForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TControlCommandSettingForm"));
    setWindowTitle(QStringLiteral("Control Commands"));
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPixelSize(11);
    setFont(tahoma);
    setFixedSize(ClientWidth, ClientHeight);

    // Made in their tab order, each edit after its label.
    AddLabel("lblPowerOnOffCommands", QStringLiteral("Device power on/off "), 8, 8, true);
    AddLabel("lblPowerOn", QStringLiteral("Power on:"), 16, 37);
    edPowerOnCode = AddEdit("edPowerOnCode", 169, 34);
    AddLabel("lblPowerOnOKCode", QStringLiteral("Acknowledge"), 314, 37);
    edResponsePowerOnOKCode = AddEdit("edResponsePowerOnOKCode", 449, 34);
    AddLabel("lblPowerOff", QStringLiteral("Power off:"), 16, 69);
    edPowerOffCode = AddEdit("edPowerOffCode", 169, 66);
    AddLabel("lblPowerOffOKCode", QStringLiteral("Acknowledge:"), 314, 69);
    edResponsePowerOffOKCode = AddEdit("edResponsePowerOffOKCode", 449, 66);
    AddLabel("lblPowerStatusCode", QStringLiteral("Power status:"), 16, 101);
    edPowerStatusCode = AddEdit("edPowerStatusCode", 169, 98);
    AddLabel("lblResponseOnCode", QStringLiteral("On status :"), 314, 101);
    edResponseStatusOnCode = AddEdit("edResponseStatusOnCode", 449, 98);
    AddLabel("lblResponseOffCode", QStringLiteral("Off status:"), 314, 134);
    edResponseStatusOffCode = AddEdit("edResponseStatusOffCode", 449, 131);

    AddOkCancelButtons(*this, 406, 492, 171, btnOK, btnCancel);
}

QLabel* TControlCommandSettingForm::AddLabel(const char* name, const QString& caption, int left, int top,
                                             bool bold)
{
    auto* label = new QLabel(caption, this);
    label->setObjectName(QLatin1String(name));
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLineEdit* TControlCommandSettingForm::AddEdit(const char* name, int left, int top)
{
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(name));
    edit->setGeometry(left, top, EditWidth, 21);
    return edit;
}

bool TControlCommandSettingForm::EditControlCodes(TDeviceControlSettings& settings)
{
    const struct
    {
        QLineEdit* Edit;
        QString* Code;
    } fields[] = {{edPowerOnCode, &settings.PowerOn},
                  {edResponsePowerOnOKCode, &settings.PowerOnOK},
                  {edPowerOffCode, &settings.PowerOff},
                  {edResponsePowerOffOKCode, &settings.PowerOffOK},
                  {edPowerStatusCode, &settings.PowerStatus},
                  {edResponseStatusOnCode, &settings.PowerStatusOn},
                  {edResponseStatusOffCode, &settings.PowerStatusOff}};
    for (const auto& field : fields)
        field.Edit->setText(*field.Code);
    edPowerOnCode->setFocus();

    if (TModal::Exec(*this) != QDialog::Accepted)
        return false;
    for (const auto& field : fields)
        *field.Code = EncodeControlCode(field.Edit->text());
    return true;
}
