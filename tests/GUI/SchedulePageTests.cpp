#include "PageFixture.h"

#include "EventWait.h"
#include "FrameVitrelleScheduler.h"
#include "MessageBox.h"
#include "ScheduleAction.h"
#include "VitrelleCenterAgent.h"
#include "VitrelleDownloader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>

namespace {

class SchedulePage : public PageTest
{
protected:
    TFrameVitrelleScheduler& Open()
    {
        OpenForm();
        auto* page = qobject_cast<TFrameVitrelleScheduler*>(ShowPage(TfrmVitrelleCenter::TPage::Schedule));
        EXPECT_NE(page, nullptr);
        Idle();
        return *page;
    }
    QString ScheduleFile() const { return App.Path() + "/Schedule.xml"; }
    // A schedule file in place before the program starts.
    void WriteSchedule(const QString& actions)
    {
        App.Write("Schedule.xml", ("<Schedule>" + actions + "</Schedule>").toUtf8());
    }
    bool ApplyEnabled() { return Control<QPushButton>("btnApplySettings")->isEnabled(); }
    bool SaveEnabled() { return Control<QPushButton>("btnSaveSettings")->isEnabled(); }
    void SetTime(const QString& picker, QTime time)
    {
        Control<QTimeEdit>(picker)->setTime(time);
        Idle();
    }
    const TScheduleAction* Working(TFrameVitrelleScheduler& page, const QString& source, int code)
    {
        return page.WorkingSchedule().Actions().Find(source, code);
    }
    void PublishList(const QByteArray& list)
    {
        // As the operator does it: the Settings page's button, then back to this page.
        Server.SetFile("/list/VitrelleList.xml", list);
        ShowPage(TfrmVitrelleCenter::TPage::Settings);
        Idle();
        QPushButton* download = Control<QPushButton>("btnDownloadList");
        download->click();
        // The list is fetched on the page's worker: taken once the button is offered again.
        EXPECT_TRUE(ServeEventsUntil([&] { return download->isEnabled(); }));
        ShowPage(TfrmVitrelleCenter::TPage::Schedule);
        Idle();
    }
    QStringList TabCaptions(const QString& pageControl)
    {
        QStringList captions;
        auto* tabs = Control<QTabWidget>(pageControl);
        for (int i = 0; i < tabs->count(); ++i)
            captions << tabs->tabText(i);
        return captions;
    }
    // The page's named input controls in the order the Tab key visits them, from the first row on.
    QStringList FocusOrder()
    {
        QStringList names;
        QWidget* first = Control<QWidget>("cbxPowerOnAllDevices");
        QWidget* widget = first;
        do {
            const QString name = widget->objectName();
            if (CurrentPage->isAncestorOf(widget) &&
                QRegularExpression("^(cbx|cmb|tp|se|btn)").match(name).hasMatch())
                names << name;
            widget = widget->nextInFocusChain();
        } while (widget != first && widget != nullptr);
        return names;
    }
    QStringList Items(const QString& combo)
    {
        QStringList items;
        auto* box = Control<QComboBox>(combo);
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        return items;
    }
};

} // namespace

TEST_F(SchedulePage, AFreshInstallationShowsEveryRowOffWithTheDefaultTimes)
{
    TFrameVitrelleScheduler& page = Open();
    struct TRowCase
    {
        const char* Key;
        const char* Time;
        int Kind;
    };
    const TRowCase rows[] = {
        {"PowerOnAllDevices", "08:00", 0},
        {"PowerOffAllDevices", "23:00", 0},
        {"PowerOn0", "08:00", 0},
        {"PowerOff0", "23:00", 0},
        {"Play0", "08:05", 0},
        {"Stop0", "22:55", 0},
        {"PowerOn1", "08:00", 0},
        {"PowerOff1", "23:00", 0},
        {"Play1", "08:05", 0},
        {"Stop1", "22:55", 0},
        {"Update0", "00:00", 3},
        {"Update1", "00:00", 3},
    };
    for (const TRowCase& row : rows) {
        SCOPED_TRACE(row.Key);
        const QString key = QString::fromLatin1(row.Key);
        EXPECT_FALSE(Control<QCheckBox>("cbx" + key)->isChecked());
        EXPECT_EQ(Control<QTimeEdit>("tp" + key)->time().toString("HH:mm"), row.Time);
        EXPECT_EQ(Control<QComboBox>("cmb" + key)->currentIndex(), row.Kind);
        for (const QString& greyed : QStringList{"cmb" + key, "tp" + key})
            EXPECT_FALSE(Control<QWidget>(greyed)->isEnabled()) << greyed.toStdString();
    }
    // The agent's rows sit on the panel under their own names; the tabs follow devices and vitrelles.
    EXPECT_NE(Control<QCheckBox>("cbxPowerOnAllDevices", Control<QWidget>("pnlDevice")), nullptr);
    EXPECT_EQ(TabCaptions("devicePageControl"), QStringList({"Device 1", "Device 2"}));
    EXPECT_EQ(TabCaptions("vitrellePageControl"), QStringList({"Lobby", "Gallery"}));
    EXPECT_EQ(Control<QLabel>("lblPlayAt0")->text(), "à :");
    EXPECT_EQ(Control<QLabel>("lblUpdateAt1")->text(), "at:");
    EXPECT_EQ(Control<QSpinBox>("sePlayDuration1")->value(), 10);
    EXPECT_EQ(Control<QComboBox>("cmbVitrelleList0")->currentIndex(), -1);
    EXPECT_EQ(Control<QPushButton>("btnApplySettings")->text(), "Apply");
    EXPECT_EQ(Control<QPushButton>("btnSaveSettings")->text(), "Save");
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_FALSE(SaveEnabled());
    // Every row's action is in the running schedule now, so that a save writes them all.
    EXPECT_EQ(Agent().Scheduler().ActionCount(), 12);
    EXPECT_TRUE(page.WorkingSchedule().Equals(&Agent().Scheduler()));
    EXPECT_FALSE(QFile::exists(ScheduleFile()));
}

TEST_F(SchedulePage, TheWeekDayChoicesSayWhichDaysTheActionRuns)
{
    // Kind 1 runs Monday to Friday, kind 2 Monday to Saturday.
    WriteSchedule(
        R"(<ScheduleAction Source="Device 1" Action="0" Periodicity="1" Time="07:00:00" Enabled="-1"/>
                     <ScheduleAction Source="Device 1" Action="1" Periodicity="2" Time="20:00:00" Enabled="-1"/>)");
    Open();
    EXPECT_EQ(Control<QComboBox>("cmbPowerOn0")->currentText(), "Every day except week end");
    EXPECT_EQ(Control<QComboBox>("cmbPowerOff0")->currentText(), "Every day except sunday");
    const QStringList days{"Every day", "Every day except week end", "Every day except sunday"};
    EXPECT_EQ(Items("cmbStop1"), days);
    EXPECT_EQ(Items("cmbUpdate0"), days + QStringList{"Every hour"});
}

TEST_F(SchedulePage, AKindTheRowDoesNotOfferIsKeptThroughOtherEdits)
{
    // An hourly power action, written by hand: its row shows no choice, and editing another row must not
    // turn it into a one-time action.
    WriteSchedule(
        R"(<ScheduleAction Source="Device 1" Action="0" Periodicity="3" Time="00:15:00" Enabled="-1"/>)");
    TFrameVitrelleScheduler& page = Open();
    EXPECT_EQ(Control<QComboBox>("cmbPowerOn0")->currentIndex(), -1);
    SetTime("tpPowerOff0", QTime(21, 0));
    const TScheduleAction* powerOn = Working(page, "Device 1", 0);
    ASSERT_NE(powerOn, nullptr);
    EXPECT_EQ(powerOn->Periodicity.Kind, 3);
}

TEST_F(SchedulePage, ApplyAndSaveFollowTheEditThroughApplyAndSave)
{
    TFrameVitrelleScheduler& page = Open();
    SetTime("tpStop1", QTime(21, 30));
    EXPECT_TRUE(ApplyEnabled());
    EXPECT_TRUE(SaveEnabled());

    Control<QPushButton>("btnApplySettings")->click();
    Idle();
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_TRUE(SaveEnabled()) << "the file still holds the old time";
    const TScheduleAction* live = Agent().Scheduler().GetAction(Agent().Players(1).GetSourceName(), 1);
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live->Periodicity.Time, QTime(21, 30));

    // Back to the running value: Apply stays off, Save stays on until the file is written.
    SetTime("tpStop1", QTime(21, 30));
    Control<QPushButton>("btnSaveSettings")->click();
    Idle();
    EXPECT_FALSE(SaveEnabled());
    EXPECT_FALSE(ApplyEnabled());

    // The file reloads into an equal schedule.
    std::unique_ptr<TVitrelleScheduler> reloaded = Agent().Scheduler().Clone();
    reloaded->Clear();
    ASSERT_TRUE(reloaded->LoadFromFile(ScheduleFile()));
    // Loading orders the actions by time; each must come back as it was edited.
    ASSERT_EQ(reloaded->ActionCount(), 12);
    for (const TScheduleAction* action : page.WorkingSchedule().Actions()) {
        const TScheduleAction* loaded =
            reloaded->Actions().Find(action->Source->GetSourceName(), action->Action);
        EXPECT_TRUE(loaded != nullptr && loaded->Equals(action))
            << action->Source->GetSourceName().toStdString();
    }
}

TEST_F(SchedulePage, UncheckingARowGreysItsControls)
{
    Open();
    struct TCase
    {
        const char* Check;
        QStringList Followers;
    };
    const TCase cases[] = {
        {"cbxPowerOffAllDevices",
         {"cmbPowerOffAllDevices", "tpPowerOffAllDevices", "lblPowerOffAllDevicesAt"}},
        {"cbxUpdate1", {"cmbUpdate1", "tpUpdate1", "lblUpdateAt1"}},
        {"cbxPlay1",
         {"cmbPlay1", "tpPlay1", "lblPlayAt1", "lblVitrelle1", "cmbVitrelleList1", "lblPlayDuration1",
          "sePlayDuration1"}},
    };
    for (const TCase& row : cases) {
        SCOPED_TRACE(row.Check);
        auto* check = Control<QCheckBox>(row.Check);
        for (bool ticked : {true, false}) {
            check->click();
            EXPECT_EQ(check->isChecked(), ticked);
            for (const QString& follower : row.Followers)
                EXPECT_EQ(Control<QWidget>(follower)->isEnabled(), ticked) << follower.toStdString();
        }
    }
    // Stays out of the other tab's Play row.
    EXPECT_FALSE(Control<QWidget>("cmbVitrelleList0")->isEnabled());
}

TEST_F(SchedulePage, APlayActionWhoseVitrelleIsMissingKeepsItsVitrelle)
{
    WriteSchedule(
        R"(<ScheduleAction Source="Player Device 1" Action="0" Periodicity="0" Time="09:10:00" Enabled="-1">
                       <vitrelleID>retired</vitrelleID><diapositiveDuration>7</diapositiveDuration></ScheduleAction>
                     <ScheduleAction Source="Player Device 2" Action="0" Periodicity="0" Time="09:10:00" Enabled="0">
                       <vitrelleID>GALLERY</vitrelleID><diapositiveDuration>soon</diapositiveDuration></ScheduleAction>
                     <ScheduleAction Source="Vitrelle 17 downloader" Action="0" Periodicity="3" Time="00:30:00" Enabled="-1"/>)");
    TFrameVitrelleScheduler& page = Open();
    const QString player = Agent().Players(0).GetSourceName();
    auto* vitrelles = Control<QComboBox>("cmbVitrelleList0");
    EXPECT_EQ(Items("cmbVitrelleList0"), QStringList({"Lobby", "Gallery"}));
    EXPECT_EQ(vitrelles->currentIndex(), -1);
    EXPECT_EQ(Control<QSpinBox>("sePlayDuration0")->value(), 7);
    EXPECT_EQ(Control<QComboBox>("cmbVitrelleList1")->currentText(), "Gallery");
    EXPECT_EQ(Control<QSpinBox>("sePlayDuration1")->value(), 10) << "a duration that is no number";
    EXPECT_EQ(Control<QComboBox>("cmbUpdate0")->currentText(), "Every hour");
    EXPECT_TRUE(Control<QCheckBox>("cbxUpdate0")->isChecked());

    // Other edits, on this row too, leave the missing vitrelle alone...
    SetTime("tpPlay0", QTime(9, 20));
    Control<QSpinBox>("sePlayDuration0")->setValue(12);
    const TScheduleAction* play = Working(page, player, 0);
    ASSERT_NE(play, nullptr);
    EXPECT_EQ(play->ParamValue("vitrelleID"), "retired");
    EXPECT_EQ(play->ParamValue("diapositiveDuration"), "12");
    // ...until another vitrelle is chosen.
    vitrelles->setCurrentIndex(0);
    EXPECT_EQ(Working(page, player, 0)->ParamValue("vitrelleID"), "17");
}

TEST_F(SchedulePage, ANewVitrelleListChangesTheUpdateTabsAndKeepsTheEdits)
{
    TFrameVitrelleScheduler& page = Open();
    // Lobby's update applied, then edits left unapplied on a device tab and on Lobby's update row.
    Control<QCheckBox>("cbxUpdate0")->click();
    Idle();
    Control<QPushButton>("btnApplySettings")->click();
    SetTime("tpPowerOn1", QTime(7, 15));
    SetTime("tpUpdate0", QTime(0, 45));
    Control<QComboBox>("cmbVitrelleList1")->setCurrentIndex(1); // Gallery, about to go
    Control<QComboBox>("cmbVitrelleList0")->setCurrentIndex(0); // Lobby, staying
    Control<QTabWidget>("vitrellePageControl")->setCurrentIndex(0);

    PublishList(
        R"(<Vitrelles><Vitrelle id="news" name="News"/><Vitrelle id="17" name="Lobby"/></Vitrelles>)");
    EXPECT_EQ(TabCaptions("vitrellePageControl"), QStringList({"News", "Lobby"}));
    EXPECT_EQ(Control<QTabWidget>("vitrellePageControl")->currentIndex(), 1) << "Lobby stays in front";
    EXPECT_FALSE(Control<QCheckBox>("cbxUpdate0")->isChecked());
    EXPECT_EQ(Control<QComboBox>("cmbUpdate0")->currentText(), "Every hour");
    EXPECT_TRUE(Control<QCheckBox>("cbxUpdate1")->isChecked());
    EXPECT_EQ(Control<QTimeEdit>("tpUpdate1")->time(), QTime(0, 45));
    EXPECT_EQ(Control<QTimeEdit>("tpPowerOn1")->time(), QTime(7, 15));
    EXPECT_EQ(Working(page, Agent().Devices(1).GetDisplayName(), 0)->Periodicity.Time, QTime(7, 15));
    EXPECT_EQ(Items("cmbVitrelleList0"), QStringList({"News", "Lobby"}));
    EXPECT_EQ(Control<QComboBox>("cmbVitrelleList0")->currentText(), "Lobby");
    EXPECT_EQ(Control<QComboBox>("cmbVitrelleList1")->currentIndex(), -1);
    EXPECT_EQ(Working(page, Agent().Players(1).GetSourceName(), 0)->ParamValue("vitrelleID"), "gallery");
    EXPECT_EQ(Working(page, "Vitrelle gallery downloader", 0), nullptr) << "the gone vitrelle's row";

    // The running schedule kept Lobby's applied update and got News's default one.
    const TScheduleAction* lobby = Agent().Scheduler().Actions().Find("Vitrelle 17 downloader", 0);
    ASSERT_NE(lobby, nullptr);
    EXPECT_TRUE(lobby->Enabled);
    EXPECT_NE(Agent().Scheduler().Actions().Find("Vitrelle news downloader", 0), nullptr);
    // Applying and saving leave both copies equal to what runs and to the file.
    Control<QPushButton>("btnApplySettings")->click();
    Control<QPushButton>("btnSaveSettings")->click();
    Idle();
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_FALSE(SaveEnabled());

    // The list dropped again leaves no Update tab and nothing to apply.
    PublishList(R"(<Vitrelles/>)");
    EXPECT_EQ(Control<QTabWidget>("vitrellePageControl")->count(), 0);
    EXPECT_TRUE(Items("cmbVitrelleList0").isEmpty());
    EXPECT_FALSE(ApplyEnabled());
}

TEST_F(SchedulePage, EachVitrelleTabShowsItsLastUpdate)
{
    Open();
    auto* status = Control<QLabel>("lblUpdateStatus0");
    EXPECT_EQ(status->text(), "Never updated");
    TVitrelleDownloader* lobby = Agent().Repository().GetDownloader("17");
    ASSERT_NE(lobby, nullptr);
    ASSERT_TRUE(lobby->Update());
    lobby->StopMediaDownload();
    Fakes.Clock->AdvanceSeconds(3600);
    Server.SetStatus("/vitrelles/gallery.xml", 500);
    EXPECT_THROW(Agent().Repository().GetDownloader("gallery")->Update(), EHttpError);
    Idle();
    EXPECT_EQ(status->text(), "Last update: 07/12 08:00, succeeded");
    EXPECT_EQ(Control<QLabel>("lblUpdateStatus1")->text(), "Last update: 07/12 09:00, failed");

    // A list downloaded again keeps what was shown.
    PublishList(
        R"(<Vitrelles><Vitrelle id="gallery" name="Gallery"/><Vitrelle id="17" name="Lobby"/></Vitrelles>)");
    EXPECT_EQ(Control<QLabel>("lblUpdateStatus0")->text(), "Last update: 07/12 09:00, failed");
    EXPECT_EQ(Control<QLabel>("lblUpdateStatus1")->text(), "Last update: 07/12 08:00, succeeded");
}

TEST_F(SchedulePage, ADisplayThatAppearsGetsItsTab)
{
    TFrameVitrelleScheduler& page = Open();
    SetTime("tpStop0", QTime(20, 0));
    auto& hdmi2 = Fakes.Display->AddOutput("HDMI-2");
    hdmi2.Geometry = QRect(3200, 0, 1280, 1024);
    hdmi2.Modes = {TSystemDisplayMode{1280, 1024, 60, 32}};
    hdmi2.Current = hdmi2.Modes.front();
    Agent().MonitorsChanged(); // the page hears of it through the window's page events
    Idle();
    ASSERT_EQ(Agent().DeviceCount(), 3);
    EXPECT_EQ(TabCaptions("devicePageControl"), QStringList({"Device 1", "Device 2", "Device 3"}));
    EXPECT_EQ(Control<QTimeEdit>("tpPlay2")->time(), QTime(8, 5));
    EXPECT_EQ(Control<QTimeEdit>("tpStop0")->time(), QTime(20, 0));
    EXPECT_NE(Working(page, Agent().Players(2).GetSourceName(), 0), nullptr);
    EXPECT_TRUE(ApplyEnabled()) << "the edit on the first tab is still to apply";
    // Tab runs through the rows as they were built, the new tab's after the others' and before the
    // vitrelles'.
    const QStringList order = FocusOrder();
    const QStringList newTab{"cbxStop1", "cmbStop1", "tpStop1", "cbxPowerOn2", "cmbPowerOn2", "tpPowerOn2"};
    EXPECT_EQ(order.mid(order.indexOf("cbxStop1"), 6), newTab);
    EXPECT_EQ(order.mid(order.indexOf("cbxPlay2"), 5),
              QStringList({"cbxPlay2", "cmbPlay2", "tpPlay2", "cmbVitrelleList2", "sePlayDuration2"}));
    EXPECT_EQ(order.mid(order.indexOf("tpStop2"), 2), QStringList({"tpStop2", "cbxUpdate0"}));
    EXPECT_EQ(order.mid(order.indexOf("tpUpdate1")),
              QStringList({"tpUpdate1", "btnApplySettings", "btnSaveSettings"}));
    Control<QCheckBox>("cbxPowerOn2")->click();
    EXPECT_TRUE(Working(page, Agent().Devices(2).GetDisplayName(), 0)->Enabled);
}

// A display given another name on the Devices page keeps its scheduled actions, on this page, in the running
// schedule and at the next start, in whatever order the operator applies and saves the display and saves the
// schedule. Apply and Save alike rename it at once and for good.
struct TRenameCase
{
    const char* Name;
    bool Apply;
    bool Save;
    bool ScheduleFirst; // the schedule is edited and saved before the display is renamed
};

class RenamedDisplay : public SchedulePage, public ::testing::WithParamInterface<TRenameCase>
{
protected:
    void EditAndSaveSchedule()
    {
        ShowPage(TfrmVitrelleCenter::TPage::Schedule);
        Idle();
        Control<QCheckBox>("cbxPowerOn0")->click();
        SetTime("tpPowerOn0", QTime(7, 15));
        Control<QCheckBox>("cbxPlay0")->click();
        Click(Control<QPushButton>("btnApplySettings"));
        Click(Control<QPushButton>("btnSaveSettings"));
    }
};

TEST_P(RenamedDisplay, KeepsItsActionsNowAndAfterARestart)
{
    const TRenameCase& c = GetParam();
    Open();
    if (c.ScheduleFirst)
        EditAndSaveSchedule();
    ShowPage(TfrmVitrelleCenter::TPage::Devices);
    Control<QLineEdit>("edDeviceName0")->setText("Lobby TV");
    if (c.Apply)
        Click(Control<QPushButton>("btnApplySettings"));
    if (c.Save)
        Click(Control<QPushButton>("btnSaveSettings"));
    if (!c.ScheduleFirst)
        EditAndSaveSchedule();

    const QString caption = "[1] Lobby TV";
    ShowPage(TfrmVitrelleCenter::TPage::Vitrelles);
    EXPECT_EQ(TabCaptions("PageControl").value(0), caption);
    ShowPage(TfrmVitrelleCenter::TPage::Schedule);
    Idle();
    EXPECT_EQ(TabCaptions("devicePageControl").value(0), caption);
    EXPECT_TRUE(Control<QCheckBox>("cbxPowerOn0")->isChecked());
    EXPECT_EQ(Control<QTimeEdit>("tpPowerOn0")->time(), QTime(7, 15));
    EXPECT_TRUE(Control<QCheckBox>("cbxPlay0")->isChecked());
    EXPECT_FALSE(ApplyEnabled()) << "nothing differs from the running schedule";
    EXPECT_FALSE(SaveEnabled());

    Form.reset(); // the next start
    FAgent.reset();
    Open();
    const QString name = "Lobby TV";
    ASSERT_EQ(Agent().Devices(0).GetDisplayName(), name);
    const TScheduleAction* on = Agent().Scheduler().Actions().Find(name, 0);
    ASSERT_NE(on, nullptr) << Log.Lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(on->Enabled);
    EXPECT_EQ(on->Periodicity.Time, QTime(7, 15));
    const TScheduleAction* play = Agent().Scheduler().Actions().Find("Player " + name, 0);
    ASSERT_NE(play, nullptr);
    EXPECT_TRUE(play->Enabled);
    EXPECT_TRUE(Control<QCheckBox>("cbxPowerOn0")->isChecked());
}

INSTANTIATE_TEST_SUITE_P(SchedulePage, RenamedDisplay,
                         ::testing::Values(TRenameCase{"AppliedAndSavedAfterTheSchedule", true, true, true},
                                           TRenameCase{"AppliedAndSavedBeforeTheSchedule", true, true, false},
                                           TRenameCase{"AppliedOnlyAfterTheSchedule", true, false, true},
                                           TRenameCase{"AppliedOnlyThenTheSchedule", true, false, false},
                                           TRenameCase{"SavedOnlyThenTheSchedule", false, true, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(SchedulePage, ASaveThatFailsShowsWhyAndLosesNothing)
{
    TFrameVitrelleScheduler& page = Open();
    // A folder where the file should be: no one, not even root, can replace it with a file.
    App.Write("Schedule.xml/keep", "kept");
    SetTime("tpPowerOnAllDevices", QTime(6, 30));
    TMessageBox::SetNextAnswer(QMessageBox::Ok);
    QTest::mouseClick(Control<QPushButton>("btnSaveSettings"), Qt::LeftButton);
    const std::optional<QString> shown = TMessageBox::TakeLastText();
    ASSERT_TRUE(shown.has_value());
    EXPECT_TRUE(shown->contains("Schedule.xml")) << shown->toStdString();
    Idle();
    EXPECT_TRUE(SaveEnabled());
    EXPECT_EQ(Control<QTimeEdit>("tpPowerOnAllDevices")->time(), QTime(6, 30));
    EXPECT_EQ(Working(page, "VitrelleCenterAgent", 0)->Periodicity.Time, QTime(6, 30));
    EXPECT_EQ(QDir(ScheduleFile()).entryList(QDir::Files), QStringList{"keep"});
}
