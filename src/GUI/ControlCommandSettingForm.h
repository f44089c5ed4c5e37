#pragma once

#include <QDialog>

// The command codes dialog. One instance, made on first use and kept until FreeInstance.
class TControlCommandSettingForm : public QDialog
{
    Q_OBJECT
public:
    static TControlCommandSettingForm& Instance();
    static void FreeInstance();

private:
    TControlCommandSettingForm();
};
