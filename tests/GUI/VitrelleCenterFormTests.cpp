#include "LogCapture.h"
#include "MessageBox.h"
#include "TestFiles.h"
#include "TestPlatform.h"
#include "VitrelleCenterForm.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class MainWindow : public ::testing::Test
{
protected:
    std::unique_ptr<TfrmVitrelleCenter> Open()
    {
        TAgentPlatform platform = Fakes.Agent();
        platform.Errors = std::make_shared<TMessageBoxErrorPresenter>(); // the program's own error box
        Agent = CreateAgent(Folder.Path(), platform);
        EXPECT_NE(Agent, nullptr);
        return std::make_unique<TfrmVitrelleCenter>(*Agent);
    }

    QToolButton* Button(QWidget* form, const char* name)
    {
        return form->findChild<QToolButton*>(QString::fromLatin1(name));
    }

    TTempFolder Folder;
    TLogCapture Log{3, false};
    TTestPlatform Fakes = TestPlatform();
    std::unique_ptr<TVitrelleCenterAgent> Agent;
};

} // namespace

TEST_F(MainWindow, OpensOnTheDevicesPage)
{
    auto form = Open();
    EXPECT_EQ(form->windowTitle(), "VitrelleCenter");
    EXPECT_EQ(form->size(), QSize(482, 615));
    QToolButton* devices = Button(form.get(), "sbDevices");
    ASSERT_NE(devices, nullptr);
    EXPECT_TRUE(devices->isChecked());
    // The buttons along the top, left to right, as the window lays them out when it is shown.
    form->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form->size(), QSize(482, 615));
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

// main makes no window then and ends with 1.
TEST_F(MainWindow, AFailingStartUpShowsTheErrorInTheProgramsBoxAndGivesNoAgent)
{
    TMessageBox::SetNextAnswer(QMessageBox::Ok);
    Fakes.Session->XmlAvailable = false;
    TAgentPlatform platform = Fakes.Agent();
    platform.Errors = std::make_shared<TMessageBoxErrorPresenter>();
    EXPECT_EQ(CreateAgent(Folder.Path(), platform), nullptr);
    EXPECT_EQ(TMessageBox::TakeLastText(),
              QString("VitrelleCenter needs the libxml2 and libxslt libraries to be installed.\n"
                      "Please run the setup again to install these libraries."));
}

// The window shows the agent it is given; the agent, made first, goes last. What the agent tells after the
// window has gone (a display plugged in) reaches no page that is gone.
TEST_F(MainWindow, ThePagesGoWithTheWindowAndTheAgentStays)
{
    auto form = Open();
    ASSERT_NE(Agent, nullptr);
    EXPECT_EQ(&form->Agent(), Agent.get());
    for (const char* button : {"sbVitrelles", "sbSchedule", "sbSettings"})
        Button(form.get(), button)->click();
    QList<QWidget*> pages;
    for (const auto page : {TfrmVitrelleCenter::TPage::Devices, TfrmVitrelleCenter::TPage::Vitrelles,
                            TfrmVitrelleCenter::TPage::Schedule, TfrmVitrelleCenter::TPage::Settings})
        pages << form->Page(page);
    int pagesGone = 0;
    for (QWidget* page : pages) {
        ASSERT_NE(page, nullptr);
        QObject::connect(page, &QObject::destroyed, [&] { ++pagesGone; });
    }
    form.reset();
    EXPECT_EQ(pagesGone, 4);

    auto& added = Fakes.Display->AddOutput("HDMI-9");
    added.Geometry = QRect(0, 0, 1024, 768);
    Fakes.Display->FireMonitorsChanged();
    EXPECT_EQ(Agent->DeviceCount(), 1);
    Agent.reset();
}
