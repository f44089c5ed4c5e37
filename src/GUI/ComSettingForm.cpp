#include "ComSettingForm.h"

#include <memory>

namespace {
std::unique_ptr<TComSettingForm> TheInstance;
} // namespace

TComSettingForm::TComSettingForm() : QDialog(nullptr)
{
    setObjectName(QStringLiteral("TComSettingForm"));
}

TComSettingForm& TComSettingForm::Instance()
{
    if (!TheInstance)
        TheInstance.reset(new TComSettingForm);
    return *TheInstance;
}

void TComSettingForm::FreeInstance()
{
    TheInstance.reset();
}
