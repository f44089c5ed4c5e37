#pragma once

#include <QDialog>

class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class TDeviceControlSettings;

// The command codes dialog, made where it is used and shown over its parent's window. Main thread.
class TControlCommandSettingForm : public QDialog
{
    Q_OBJECT
public:
    explicit TControlCommandSettingForm(QWidget* parent);

    // Shows the seven codes as stored ("#" notation) and, when the operator confirms, stores each as typed
    // with the characters of code 32 or less written in that notation (a typed space becomes "#32"). True
    // when confirmed.
    bool EditControlCodes(TDeviceControlSettings& settings);

private:
    // A caption and its edit in the row of the grid, in the left (column 0) or right half (column 2).
    QLineEdit* AddCode(QGridLayout* grid, int row, int column, const char* labelName, const QString& caption,
                       const char* editName);

    QLineEdit* edPowerOnCode = nullptr;
    QLineEdit* edResponsePowerOnOKCode = nullptr;
    QLineEdit* edPowerOffCode = nullptr;
    QLineEdit* edResponsePowerOffOKCode = nullptr;
    QLineEdit* edPowerStatusCode = nullptr;
    QLineEdit* edResponseStatusOnCode = nullptr;
    QLineEdit* edResponseStatusOffCode = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
};
