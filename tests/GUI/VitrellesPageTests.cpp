#include "PageFixture.h"

#include "ActionList.h"
#include "EventWait.h"
#include "MessageBox.h"
#include "RepositoryTestSupport.h"
#include "VitrelleCenterSettings.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>

namespace {

using TPage = TfrmVitrelleCenter::TPage;

class VitrellesPage : public PageTest
{
protected:
    void Open()
    {
        OpenForm();
        ShowPage(TPage::Vitrelles);
        Idle();
    }
    QTabWidget* Tabs() { return Control<QTabWidget>("PageControl"); }
    // The control of the tab: its base name followed by the tab's index.
    template <class TControl> TControl* On(int tab, const char* name)
    {
        auto* control = qobject_cast<TControl*>(FindControlOnPage(Tabs(), tab, QString::fromLatin1(name)));
        EXPECT_NE(control, nullptr) << name << tab;
        return control;
    }
    QPushButton* Play(int tab) { return On<QPushButton>(tab, "btnPlay"); }
    // Clicks Play and waits until the vitrelle plays or Play is offered again (the fetch has ended).
    bool ClickPlay(int tab, int timeoutMs = 10000)
    {
        Click(Play(tab));
        const bool ended = ServeEventsUntil(
            [&] {
                Idle();
                return Agent().Players(tab).State() == psPlaying || Play(tab)->isEnabled();
            },
            timeoutMs);
        Idle(); // the buttons follow a player that started after the last look
        return ended;
    }
    QPushButton* Stop(int tab) { return On<QPushButton>(tab, "btnStop"); }
    QStringList Names(int tab)
    {
        QStringList names;
        auto* combo = On<QComboBox>(tab, "cbVitrelle");
        for (int i = 0; i < combo->count(); ++i)
            names << combo->itemText(i);
        return names;
    }
};

} // namespace

TEST_F(VitrellesPage, ATabPerDeviceWithItsOwnControls)
{
    Open();
    ASSERT_EQ(Tabs()->count(), 2);
    for (int tab : {0, 1}) {
        EXPECT_EQ(Tabs()->tabText(tab), Agent().Devices(tab).GetCaption());
        EXPECT_EQ(Names(tab), QStringList({"Lobby", "Gallery"}));
        EXPECT_EQ(On<QComboBox>(tab, "cbVitrelle")->currentText(), "Lobby");
        EXPECT_EQ(On<QSpinBox>(tab, "seDuration")->value(), 10);
        EXPECT_EQ(Play(tab)->text(), "Play");
        EXPECT_EQ(Stop(tab)->text(), "Stop");
    }
    // The second tab's controls carry its index, placed by the page's layout (the list and the duration
    // in one column, Play left of Stop under them), at least as wide as they were made, in keyboard order.
    Form->show();
    Tabs()->setCurrentIndex(1);
    QCoreApplication::processEvents();
    const std::tuple<const char*, int> placed[] = {
        {"cbVitrelle1", 161},
        {"seDuration1", 61},
        {"btnPlay1", 88},
        {"btnStop1", 88},
    };
    QStringList focusOrder;
    for (const auto& [name, width] : placed) {
        QWidget* control = Control<QWidget>(name, Tabs()->widget(1));
        EXPECT_GE(control->width(), width) << name;
        focusOrder << name;
    }
    const auto at = [&](const char* name) { return Control<QWidget>(name, Tabs()->widget(1))->geometry(); };
    EXPECT_EQ(at("cbVitrelle1").left(), at("seDuration1").left());
    EXPECT_GT(at("seDuration1").top(), at("cbVitrelle1").bottom());
    EXPECT_GT(at("btnPlay1").top(), at("seDuration1").bottom());
    EXPECT_EQ(at("btnPlay1").top(), at("btnStop1").top());
    EXPECT_LT(at("btnPlay1").right(), at("btnStop1").left());
    EXPECT_LT(at("btnPlay1").right(), at("cbVitrelle1").left()) << "Play under the captions";
    for (const char* name : {"lblPlay1", "lblVitrelle1", "lblDuration1"})
        EXPECT_NE(Control<QWidget>(name, Tabs()->widget(1)), nullptr);
    QStringList chain;
    QWidget* first = Control<QWidget>("cbVitrelle1", Tabs()->widget(1));
    for (QWidget* next = first; chain.size() < 4; next = next->nextInFocusChain())
        if (next->parentWidget() == Tabs()->widget(1) && (next->focusPolicy() & Qt::TabFocus))
            chain << next->objectName();
    EXPECT_EQ(chain, focusOrder);

    auto* actions = CurrentPage->findChild<TActionList*>("ActionList");
    ASSERT_NE(actions, nullptr);
    QStringList actionNames;
    for (int i = 0; i < actions->Count(); ++i)
        actionNames << actions->At(i)->objectName();
    EXPECT_EQ(actionNames,
              QStringList({"actPlayExecute0", "actStopExecute0", "actPlayExecute1", "actStopExecute1"}));
}

TEST_F(VitrellesPage, WithoutAListNothingCanBePlayed)
{
    TVitrelleCenterSettings settings(App.Path());
    settings.Load();
    settings.HttpSettings().VitrelleListURL.clear();
    settings.Save();
    Open();
    ASSERT_EQ(Agent().Repository().Count(), 0);
    for (int tab : {0, 1}) {
        EXPECT_EQ(On<QComboBox>(tab, "cbVitrelle")->count(), 0);
        EXPECT_FALSE(Play(tab)->isEnabled());
        EXPECT_FALSE(Stop(tab)->isEnabled());
    }
}

TEST_F(VitrellesPage, PlayAndStopFollowThePlayer)
{
    Open();
    On<QSpinBox>(0, "seDuration")->setValue(3);
    ASSERT_TRUE(ClickPlay(0));
    TVitrellePlayer& first = Agent().Players(0);
    ASSERT_EQ(first.State(), psPlaying) << LogText(Log);
    EXPECT_EQ(first.Vitrelle()->Id, "17");
    EXPECT_EQ(first.DefaultDuration(), 3000);
    EXPECT_FALSE(Play(0)->isEnabled()) << "already playing";
    EXPECT_TRUE(Stop(0)->isEnabled());

    // The other device plays what its own tab names, as long as the slide duration of its own tab.
    On<QComboBox>(1, "cbVitrelle")->setCurrentText("Gallery");
    EXPECT_TRUE(Play(1)->isEnabled());
    EXPECT_FALSE(Stop(1)->isEnabled());
    ASSERT_TRUE(ClickPlay(1));
    ASSERT_EQ(Agent().Players(1).State(), psPlaying) << LogText(Log);
    EXPECT_EQ(Agent().Players(1).Vitrelle()->Id, "gallery");
    EXPECT_EQ(Agent().Players(1).DefaultDuration(), 10000);

    Click(Stop(0));
    EXPECT_TRUE(ServeEventsUntil(
        [&] {
            Idle();
            return Play(0)->isEnabled();
        },
        5000))
        << "Play comes back once the player has stopped";
    EXPECT_EQ(first.State(), psLoaded);
    EXPECT_FALSE(Stop(0)->isEnabled());
    EXPECT_EQ(Agent().Players(1).State(), psPlaying);
}

struct TCaseFailedPlay
{
    const char* Why;
    void (*Break)(TTestContentServer& server);
    const char* Message; // the start of the message shown; null: none
    friend void PrintTo(const TCaseFailedPlay& c, std::ostream* os) { *os << c.Why; }
};

class VitrellesPageFailedPlay : public VitrellesPage, public ::testing::WithParamInterface<TCaseFailedPlay>
{
};

TEST_P(VitrellesPageFailedPlay, DoesNotStartAndKeepsThePage)
{
    Open();
    GetParam().Break(Server);
    TMessageBox::SetNextAnswer(QMessageBox::Ok);
    ASSERT_TRUE(ClickPlay(0));
    if (GetParam().Message != nullptr) {
        const QString shown = TMessageBox::TakeLastText().value_or("");
        EXPECT_TRUE(shown.startsWith(GetParam().Message)) << shown.toStdString();
        EXPECT_TRUE(Log.Lines().contains("[1] TFrameVitrellePlayer: " + shown)) << LogText(Log);
    } else {
        EXPECT_TRUE(TMessageBox::AnswerPending()) << "the page shows no message of its own";
        TMessageBox::ResetForTests();
    }
    EXPECT_GT(Server.Requests("/vitrelles/17.xml"), 0);
    EXPECT_NE(Agent().Players(0).State(), psPlaying);
    EXPECT_EQ(On<QComboBox>(0, "cbVitrelle")->currentText(), "Lobby");
    EXPECT_TRUE(Play(0)->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Cases, VitrellesPageFailedPlay,
                         ::testing::Values(TCaseFailedPlay{"an error status",
                                                           [](TTestContentServer& server) {
                                                               server.SetStatus("/vitrelles/17.xml", 500);
                                                           },
                                                           "Cannot download http://127.0.0.1:"},
                                           TCaseFailedPlay{"a file that does not load",
                                                           [](TTestContentServer& server) {
                                                               server.SetFile("/vitrelles/17.xml",
                                                                              "<Vitrelle id=\"17\"");
                                                           },
                                                           nullptr}),
                         [](const auto& info) { return CaseName(info.index, info.param.Why); });

// The vitrelle file comes late, or the server hangs until the transfer gives up: the window and the other
// tab's show go on meanwhile, Play stays off on that tab, and the outcome comes as it did when the page
// waited.
TEST_F(VitrellesPage, ASlowServerHoldsNeitherTheWindowNorTheOtherTabs)
{
    // The hang first: its file is never cached, so the second round fetches it again.
    for (const bool hangs : {true, false}) {
        SCOPED_TRACE(hangs ? "the server hangs" : "the file comes late");
        Open();
        const QByteArray content = ReadFileBytes(TestDataPath(QStringLiteral("repository/17.xml")));
        if (hangs)
            Server.SetHang("/vitrelles/17.xml");
        else // later than a slide, within the tests' one-second silence limit
            Server.SetDelayedFile("/vitrelles/17.xml", content, std::chrono::milliseconds(700));
        QElapsedTimer since;
        since.start();
        qint64 last = 0;
        qint64 longestGap = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, since.elapsed() - last);
            last = since.elapsed();
        });
        timer.start(10);
        TMessageBox::SetNextAnswer(QMessageBox::Ok);
        Click(Play(0));
        Idle();
        EXPECT_FALSE(Play(0)->isEnabled()) << "the fetch runs";
        On<QComboBox>(1, "cbVitrelle")->setCurrentText("Gallery");
        ASSERT_TRUE(ClickPlay(1));
        EXPECT_EQ(Agent().Players(1).State(), psPlaying) << "the other tab played meanwhile";
        ASSERT_TRUE(ServeEventsUntil(
            [&] {
                Idle();
                return Play(0)->isEnabled() || Agent().Players(0).State() == psPlaying;
            },
            10000));
        timer.stop();
        EXPECT_LE(longestGap, 150) << "the main thread was held";
        if (hangs) {
            EXPECT_NE(Agent().Players(0).State(), psPlaying);
            const QString shown = TMessageBox::TakeLastText().value_or("");
            EXPECT_TRUE(shown.startsWith("Cannot download http://127.0.0.1:")) << shown.toStdString();
            Server.ReleaseHangs();
            Server.SetFile("/vitrelles/17.xml", content);
        } else {
            EXPECT_EQ(Agent().Players(0).State(), psPlaying) << LogText(Log);
            EXPECT_GE(since.elapsed(), 600);
            EXPECT_EQ(TMessageBox::TakeLastText(), std::nullopt) << LogText(Log);
        }
        TMessageBox::ResetForTests();
    }
}

TEST_F(VitrellesPage, ADisplayPluggedInGetsItsTab)
{
    Open();
    auto& added = Fakes.Display->AddOutput("HDMI-2");
    added.Geometry = QRect(3200, 0, 1024, 768);
    added.Modes = {TSystemDisplayMode{1024, 768, 60, 32}};
    added.Current = added.Modes.front();
    Fakes.Display->FireMonitorsChanged();
    ASSERT_EQ(Agent().DeviceCount(), 3);
    ASSERT_EQ(Tabs()->count(), 3);
    EXPECT_EQ(Tabs()->tabText(2), Agent().Devices(2).GetCaption());
    EXPECT_EQ(Names(2), QStringList({"Lobby", "Gallery"}));

    Idle();
    ASSERT_TRUE(ClickPlay(2));
    EXPECT_EQ(Agent().Players(2).State(), psPlaying) << LogText(Log);
    EXPECT_EQ(Agent().Players(0).State(), psIdle);
}
