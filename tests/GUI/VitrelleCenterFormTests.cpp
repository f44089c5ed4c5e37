#include "LogCapture.h"
#include "MessageBox.h"
#include "TestFiles.h"
#include "TestPlatform.h"
#include "VitrelleCenterForm.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class MainWindow : public ::testing::Test
{
protected:
    std::unique_ptr<TfrmVitrelleCenter> Open(bool xmlAvailable = true)
    {
        TTestPlatform fakes = TestPlatform();
        fakes.Session->XmlAvailable = xmlAvailable;
        TAgentPlatform platform = fakes.Agent();
        platform.Errors = std::make_shared<TMessageBoxErrorPresenter>(); // the program's own error box
        return std::make_unique<TfrmVitrelleCenter>(Folder.Path(), platform);
    }

    QToolButton* Button(QWidget* form, const char* name)
    {
        return form->findChild<QToolButton*>(QString::fromLatin1(name));
    }

    TTempFolder Folder;
    TLogCapture Log{3, false};
};

} // namespace

TEST_F(MainWindow, OpensOnTheDevicesPage)
{
    auto form = Open();
    ASSERT_FALSE(form->StartupFailed());
    EXPECT_EQ(form->windowTitle(), "VitrelleCenter");
    EXPECT_EQ(form->size(), QSize(482, 615));
    QToolButton* devices = Button(form.get(), "sbDevices");
    ASSERT_NE(devices, nullptr);
    EXPECT_TRUE(devices->isChecked());
    EXPECT_EQ(devices->geometry(), QRect(1, 1, 100, 70));
    EXPECT_EQ(Button(form.get(), "sbSettings")->geometry(), QRect(301, 1, 100, 70));
    EXPECT_EQ(Button(form.get(), "sbVitrelles")->text(), "Vitrelles");
    ASSERT_NE(form->Page(TfrmVitrelleCenter::TPage::Devices), nullptr);
    EXPECT_EQ(form->Page(TfrmVitrelleCenter::TPage::Settings), nullptr)
        << "pages are made when first asked for";
    QWidget* mainPanel = form->findChild<QWidget*>("MainPanel");
    ASSERT_NE(mainPanel, nullptr);
    EXPECT_EQ(form->Page(TfrmVitrelleCenter::TPage::Devices)->parentWidget(), mainPanel);
    EXPECT_NE(form->findChild<QWidget*>("TopPanel"), nullptr);
}

TEST_F(MainWindow, PageButtonsAreExclusiveAndPagesAreKept)
{
    auto form = Open();
    form->show();
    QToolButton* devices = Button(form.get(), "sbDevices");
    QToolButton* settings = Button(form.get(), "sbSettings");
    QToolButton* schedule = Button(form.get(), "sbSchedule");

    QTest::mouseClick(settings, Qt::LeftButton);
    EXPECT_TRUE(settings->isChecked());
    EXPECT_FALSE(devices->isChecked());
    QWidget* settingsPage = form->Page(TfrmVitrelleCenter::TPage::Settings);
    ASSERT_NE(settingsPage, nullptr);
    auto* typed = new QLineEdit(settingsPage);
    typed->setText("typed before switching away");

    QTest::mouseClick(schedule, Qt::LeftButton);
    EXPECT_TRUE(schedule->isChecked());
    EXPECT_FALSE(settings->isChecked());
    QTest::mouseClick(settings, Qt::LeftButton);
    EXPECT_EQ(form->Page(TfrmVitrelleCenter::TPage::Settings), settingsPage) << "created once";
    EXPECT_EQ(typed->text(), "typed before switching away");
    // Clicking the pressed button keeps it down.
    QTest::mouseClick(settings, Qt::LeftButton);
    EXPECT_TRUE(settings->isChecked());
    // Other pages stay alive and shown, under the page in front.
    EXPECT_TRUE(form->Page(TfrmVitrelleCenter::TPage::Schedule)->isVisible());
    EXPECT_TRUE(form->Page(TfrmVitrelleCenter::TPage::Devices)->isVisible());
    QWidget* hit = form->childAt(settingsPage->mapTo(form.get(), QPoint(5, 5)));
    EXPECT_TRUE(hit == settingsPage || settingsPage->isAncestorOf(hit));
}

TEST_F(MainWindow, FailingStartUpShowsTheErrorAndFlagsTheExit)
{
    TMessageBox::SetNextAnswer(QMessageBox::Ok);
    auto form = Open(false);
    EXPECT_TRUE(form->StartupFailed());
    EXPECT_EQ(form->Agent(), nullptr);
    EXPECT_EQ(TMessageBox::TakeLastText(),
              QString("VitrelleCenter needs the libxml2 and libxslt libraries to be installed.\n"
                      "Please run the setup again to install these libraries."));
    EXPECT_EQ(form->Page(TfrmVitrelleCenter::TPage::Devices), nullptr);
}

TEST_F(MainWindow, ClosingFreesTheAgentBeforeThePages)
{
    // The agent is the only holder of its platform's services once the test lets go of them.
    TTestPlatform fakes = TestPlatform();
    const std::weak_ptr<TFakeSessionProbe> agentAlive = fakes.Session;
    auto form = std::make_unique<TfrmVitrelleCenter>(Folder.Path(), fakes.Agent());
    fakes = TTestPlatform();
    ASSERT_FALSE(agentAlive.expired());
    QWidget* page = form->Page(TfrmVitrelleCenter::TPage::Devices);
    bool agentGoneWhenPageDied = false;
    QObject::connect(page, &QObject::destroyed, [&] { agentGoneWhenPageDied = agentAlive.expired(); });
    form.reset();
    EXPECT_TRUE(agentGoneWhenPageDied);
}
