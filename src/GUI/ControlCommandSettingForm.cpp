#include "ControlCommandSettingForm.h"

#include "DeviceControl.h"
#include "ModalDialogs.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int EditWidth = 121;

} // namespace

TControlCommandSettingForm::TControlCommandSettingForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TControlCommandSettingForm"));
    setWindowTitle(QStringLiteral("Control Commands"));
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPixelSize(11);
    setFont(tahoma);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 11, 11);
    layout->setSpacing(8);
    // As large as its controls need in its font, no larger.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* header = new QLabel(QStringLiteral("Device power on/off "), this);
    header->setObjectName(QStringLiteral("lblPowerOnOffCommands"));
    QFont bold; // only the weight: the rest follows the dialog's font
    bold.setBold(true);
    header->setFont(bold);
    layout->addWidget(header);

    // The captions indented under the header; the edits at 169 and 449 pixels at the default font.
    auto* grid = new QGridLayout;
    grid->setContentsMargins(8, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(11);
    grid->setColumnMinimumWidth(0, 145);
    grid->setColumnMinimumWidth(2, 127);
    grid->setColumnMinimumWidth(1, EditWidth + 16); // room between the two halves
    layout->addLayout(grid);
    // Made in their tab order, each edit after its label.
    edPowerOnCode = AddCode(grid, 0, 0, "lblPowerOn", QStringLiteral("Power on:"), "edPowerOnCode");
    edResponsePowerOnOKCode =
        AddCode(grid, 0, 2, "lblPowerOnOKCode", QStringLiteral("Acknowledge"), "edResponsePowerOnOKCode");
    edPowerOffCode = AddCode(grid, 1, 0, "lblPowerOff", QStringLiteral("Power off:"), "edPowerOffCode");
    edResponsePowerOffOKCode =
        AddCode(grid, 1, 2, "lblPowerOffOKCode", QStringLiteral("Acknowledge:"), "edResponsePowerOffOKCode");
    edPowerStatusCode =
        AddCode(grid, 2, 0, "lblPowerStatusCode", QStringLiteral("Power status:"), "edPowerStatusCode");
    edResponseStatusOnCode =
        AddCode(grid, 2, 2, "lblResponseOnCode", QStringLiteral("On status :"), "edResponseStatusOnCode");
    edResponseStatusOffCode =
        AddCode(grid, 3, 2, "lblResponseOffCode", QStringLiteral("Off status:"), "edResponseStatusOffCode");

    layout->addLayout(AddOkCancelButtons(*this, btnOK, btnCancel));
}

QLineEdit* TControlCommandSettingForm::AddCode(QGridLayout* grid, int row, int column, const char* labelName,
                                               const QString& caption, const char* editName)
{
    auto* label = new QLabel(caption, this);
    label->setObjectName(QLatin1String(labelName));
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(editName));
    edit->setMinimumWidth(EditWidth);
    label->setBuddy(edit);
    grid->addWidget(label, row, column);
    grid->addWidget(edit, row, column + 1, Qt::AlignLeft);
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
