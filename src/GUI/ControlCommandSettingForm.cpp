#include "ControlCommandSettingForm.h"

#include <memory>

namespace {
std::unique_ptr<TControlCommandSettingForm> TheInstance;
} // namespace

TControlCommandSettingForm::TControlCommandSettingForm() : QDialog(nullptr)
{
    setObjectName(QStringLiteral("TControlCommandSettingForm"));
}

TControlCommandSettingForm& TControlCommandSettingForm::Instance()
{
    if (!TheInstance)
        TheInstance.reset(new TControlCommandSettingForm);
    return *TheInstance;
}

void TControlCommandSettingForm::FreeInstance()
{
    TheInstance.reset();
}
