#pragma once

#include <QDialog>

// The serial port dialog. One instance, made on first use and kept until FreeInstance.
class TComSettingForm : public QDialog
{
    Q_OBJECT
public:
    static TComSettingForm& Instance();
    static void FreeInstance();

private:
    TComSettingForm();
};
