#pragma once

#include <QDialog>

class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class TComSettings;

// The serial port dialog, made where it is used and shown over its parent's window. Main thread.
class TComSettingForm : public QDialog
{
    Q_OBJECT
public:
    explicit TComSettingForm(QWidget* parent);

    // Shows the settings and, when the operator confirms, writes the chosen values into them (a copy being
    // edited: no port changes until the display applies them). True when confirmed. The time-outs are offered
    // within their bounds (TComSettings); a stored one out of them is shown bounded, which is logged.
    bool EditComSettings(TComSettings& settings);

private:
    // A row of the grid: its caption, then its field.
    void AddRow(const char* labelName, const QString& caption, QWidget* field);
    QComboBox* AddComboBox(const char* name);
    QSpinBox* AddSpinEdit(const char* name, int value, int maximum);
    void FillPorts(const QString& stored);

    QGridLayout* FGrid = nullptr;
    QComboBox* cbPort = nullptr;
    QComboBox* cbBaudRate = nullptr;
    QComboBox* cbDataBits = nullptr;
    QComboBox* cbParity = nullptr;
    QComboBox* cbStopBits = nullptr;
    QComboBox* cbFlowControl = nullptr;
    QSpinBox* SeTimeOutConstant = nullptr;
    QSpinBox* seTimeOutPerChar = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
};
