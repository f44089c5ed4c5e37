#include "GlobalStateCheck.h"
#include "MessageBox.h"
#include "ModalDialogs.h"
#include "VitrelleCenterApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The program's own application object, so that its error boundary is the one under test.
    TVitrelleCenterApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    InstallGlobalStateCheck({[] {
        const bool pending = TMessageBox::AnswerPending() || TModal::AnswerPending();
        TMessageBox::ResetForTests();
        TModal::ResetForTests();
        return pending ? QStringLiteral("dialog answer left unused") : QString();
    }});
    return RUN_ALL_TESTS();
}
