#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class TComSettings;

// The serial port dialog. One instance, made on first use and kept until FreeInstance; each call fills it
// afresh from the settings it is given.
class TComSettingForm : public QDialog
{
    Q_OBJECT
public:
    static TComSettingForm& Instance();
    static void FreeInstance();

    // Shows the settings and, when the operator confirms, writes the chosen values into them (a copy being
    // edited: no port changes until the display applies them). True when confirmed. The time-outs are offered
    // within their bounds (TComSettings); a stored one out of them is shown bounded, which is logged.
    bool EditComSettings(TComSettings& settings);

private:
    TComSettingForm();
    QLabel* AddLabel(const char* name, const QString& caption, int left, int top);
    QComboBox* AddComboBox(const char* name, int top);
    QSpinBox* AddSpinEdit(const char* name, int value, int maximum, int top);
    void FillPorts(const QString& stored);

    int FFieldLeft = 0; // where the fields start
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
