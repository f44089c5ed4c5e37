#include "GlobalStateCheck.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    InstallGlobalStateCheck();
    return RUN_ALL_TESTS();
}
