#include "PlayerFixture.h"
#include "ScheduleAction.h"
#include "ScheduleActionList.h"
#include "XsltTemplate.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QTimer>

#include <cmath>
#include <limits>

// ---- the slide clock ----

struct TTimingCase
{
    milliseconds Tick;
    qint32 Seconds;
    milliseconds SwapTakes{0}; // how far the clock moves while a swap is handed over
};

void PrintTo(const TTimingCase& c, std::ostream* out)
{
    *out << c.Seconds << " s per slide, ticks of " << c.Tick.count() << " ms, swaps of "
         << c.SwapTakes.count() << " ms";
}

class PlayerTiming : public PlayerTest, public ::testing::WithParamInterface<TTimingCase>
{
};

TEST_P(PlayerTiming, TheFirstSlideComesAtTheFirstTickAndEachStaysItsDurationAndLessThanATickMore)
{
    const auto [tick, seconds, swapTakes] = GetParam();
    MakePlayer(tick);
    Views->ReadyAtOnce = true;
    if (swapTakes.count() > 0)
        Player->Form().SetOnSlideShown([&, swapTakes] { Clock->Set(Clock->Now() + swapTakes); });
    Play("17", seconds);

    const milliseconds duration(seconds * 1000);
    std::vector<std::pair<milliseconds, QString>> changes;
    QString shown;
    while (changes.size() < 5) {
        const milliseconds now = Tick();
        if (SlideOf(Front()) != shown) {
            shown = SlideOf(Front());
            changes.emplace_back(now, shown);
        }
        ASSERT_LT(now, 10 * (duration + tick)) << "the show stands still";
    }
    EXPECT_EQ(changes[0], std::make_pair(tick, QString("s1")));
    const QStringList order{"s1", "s2", "s3", "s1", "s2"};
    for (size_t i = 1; i < changes.size(); ++i) {
        EXPECT_EQ(changes[i].second, order[static_cast<qsizetype>(i)]);
        const milliseconds shownFor = changes[i].first - changes[i - 1].first;
        EXPECT_GE(shownFor, duration) << changes[i - 1].second.toStdString();
        EXPECT_LT(shownFor, duration + tick) << changes[i - 1].second.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Durations, PlayerTiming,
                         ::testing::Values(TTimingCase{1000ms, 10}, TTimingCase{1000ms, 1},
                                           TTimingCase{700ms, 2},
                                           // a slow hand-over must not make every slide wait a tick more
                                           TTimingCase{1000ms, 1, 3ms}));

TEST_F(PlayerTest, ASlideNotReadyAtItsTickIsSkippedAndTheVisibleOneStays)
{
    Play("17");
    ASSERT_EQ(SlideOf(Back()), "s1");
    Back().MakeReady();
    EXPECT_EQ(Tick(), 1000ms);
    EXPECT_EQ(SlideOf(Front()), "s1");
    TFakeSlideView& stalled = Back(); // s2 never finishes loading
    EXPECT_EQ(SlideOf(stalled), "s2");

    RunUntil(11000ms);
    EXPECT_EQ(SlideOf(Front()), "s1") << "nothing to swap in: the visible slide stays";
    EXPECT_EQ(&Back(), &stalled);
    EXPECT_EQ(SlideOf(stalled), "s3") << "the next slide is loaded in place of the stalled one";
    Back().MakeReady();
    RunUntil(21000ms);
    EXPECT_EQ(SlideOf(Front()), "s3");

    // Both views stay shown and stacked, the visible one on top.
    for (TFakeSlideView* view : {&Front(), &Back()}) {
        EXPECT_TRUE(view->isVisible());
        EXPECT_EQ(view->geometry(), SlideStack().rect());
    }
    EXPECT_EQ(SlideStack().childAt(SlideStack().rect().center()), &Front());
    EXPECT_EQ(PlayerLines().filter("preparation").size(), 4) << LogText(Log);
}

TEST_F(PlayerTest, RefusesToPlayWhilePlayingAndHoldsTheScreenSaverOnlyWhilePlaying)
{
    EXPECT_EQ(Player->State(), psIdle);
    EXPECT_FALSE(Player->Play(""));
    EXPECT_FALSE(Player->Play("no-such-vitrelle"));
    EXPECT_EQ(Player->State(), psIdle);
    EXPECT_FALSE(Player->Form().isVisible());

    Play("17");
    EXPECT_EQ(Player->State(), psPlaying);
    EXPECT_TRUE(Player->Form().isVisible());
    EXPECT_EQ(ScreenSaver->Holds, 1);
    EXPECT_EQ(ScreenSaver->WakeUps, 1);
    EXPECT_FALSE(Player->Play("mixed"));
    EXPECT_FALSE(Player->LoadVitrelle("mixed"));
    EXPECT_EQ(Player->Vitrelle()->Name, "Lobby");

    EXPECT_TRUE(Player->StopPlaying(false));
    EXPECT_EQ(Player->State(), psPlaying) << "until the clock has ended";
    EXPECT_FALSE(Player->Play("mixed"));
    ASSERT_TRUE(ServeEventsUntil([&] { return Player->State() == psLoaded; }));
    EXPECT_EQ(ScreenSaver->Holds, 0);
    EXPECT_TRUE(Player->Form().isVisible()) << "stopped without closing";

    Play("mixed");
    EXPECT_EQ(Player->Vitrelle()->Name, "Mixed");
    EXPECT_EQ(ScreenSaver->Holds, 1);
    Player->StopPlaying(true);
    EXPECT_FALSE(Player->Form().isVisible());
    ASSERT_TRUE(ServeEventsUntil([&] { return Player->State() == psLoaded; }));
    EXPECT_EQ(ScreenSaver->Holds, 0);
}

TEST_F(PlayerTest, ClosingTheWindowByHandStopsTheClockUntilTheNextScheduledPlay)
{
    Play("17");
    Player->Form().close(); // as the window manager's close button does
    EXPECT_FALSE(Player->Form().isVisible());
    ASSERT_TRUE(ServeEventsUntil([&] { return Player->State() == psLoaded; }));
    EXPECT_EQ(ScreenSaver->Holds, 0);

    std::unique_ptr<TScheduleAction> play = Player->CreateDefaultAction(TVitrellePlayer::PlayAction);
    play->SetParamValue("vitrelleID", "17");
    EXPECT_TRUE(Player->ExecuteAction(play.get()));
    EXPECT_EQ(Player->State(), psPlaying);
    EXPECT_TRUE(Player->Form().isVisible());
}

TEST_F(PlayerTest, AStopDuringASwapLeavesTheWindowAsItWas)
{
    Play("17");
    Back().MakeReady();
    Tick();
    Back().MakeReady(); // s2 is ready in the back view
    RunUntil(10000ms);
    WakeWithoutServing(); // the tick at 11000 hands the swap over
    Player->StopPlaying(false);
    ASSERT_TRUE(ServeEventsUntil([&] { return Player->State() == psLoaded; }));
    EXPECT_EQ(SlideOf(Front()), "s1");
    EXPECT_EQ(SlideOf(Back()), "s2");
    EXPECT_EQ(PlayerLines().filter("preparation").size(), 2) << LogText(Log);
}

TEST_F(PlayerTest, IsDestroyedWhileItsClockWaitsOnAHandOver)
{
    Play("17");
    Back().MakeReady();
    WakeWithoutServing();
    const QPointer<TVitrelleForm> form = &Player->Form();
    Player.reset();
    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(ScreenSaver->Holds, 0);
    EXPECT_EQ(Scheduler->FindSource("Player Device 1"), nullptr);
}

TEST_F(PlayerTest, AnErrorInAClockStepEndsTheShowAndLeavesTheWindowOpen)
{
    ASSERT_TRUE(Player->Play("17"));
    Back().FailNavigate = true; // the clock's first step is still to be served
    ASSERT_TRUE(ServeEventsUntil([&] { return Player->State() == psLoaded; }));
    EXPECT_TRUE(Player->Form().isVisible());
    EXPECT_EQ(ScreenSaver->Holds, 0);
    EXPECT_EQ(ErrorLines(Log), QStringList{"[1] TVitrellePlayer: The view cannot load " +
                                           QUrl::fromLocalFile(Cache("Photo/s1.html")).toString()});
    Play("17");
    EXPECT_EQ(SlideOf(Back()), "s1") << "played again with new views";
}

// ---- content ----

TEST_F(PlayerTest, SkipsSlidesWithoutTypeOrPageAndCachesNothingForThem)
{
    Views->ReadyAtOnce = true;
    Play("mixed");
    RunUntil(31000ms);
    EXPECT_EQ(SlideOf(Front()), "m4");
    EXPECT_EQ(PlayerLines(),
              QStringList({"[3] TVitrellePlayer: Play vitrelle 'Mixed' on display device 'Device 1'",
                           "[3] TVitrellePlayer: Vitrelle Mixed : preparation of slide 'm1' (type 'Text')",
                           "[3] TVitrellePlayer: Vitrelle Mixed : preparation of slide 'm2' (type 'Nowhere')",
                           "[1] TVitrellePlayer: Cannot find type 'Nowhere' of slide of ID 'm2'",
                           "[3] TVitrellePlayer: Vitrelle Mixed : preparation of slide 'm3' (type 'Text')",
                           "[1] TVitrellePlayer: Slide of ID 'm3' and type 'Text' has no content",
                           "[3] TVitrellePlayer: Vitrelle Mixed : preparation of slide 'm4' (type 'Text')",
                           "[3] TVitrellePlayer: Vitrelle Mixed : preparation of slide 'm1' (type 'Text')"}));
    EXPECT_TRUE(Log.Contains("The XSL transform (template 'Text') failed on slide ID = m3")) << LogText(Log);
    // An empty page would be shown in place of m3 until the next update, even after the template is fixed.
    EXPECT_EQ(QDir(Cache("Text")).entryList({"*.html"}, QDir::Files), QStringList({"m1.html", "m4.html"}));
    EXPECT_EQ(QDir(Cache("Text")).entryList(QDir::Files | QDir::Hidden).filter(".tmp").size(), 0);
}

// The play journal hears of every slide that was on screen, for as long as the slide clock says it was, and
// of every slide that never made it, with why.
TEST_F(PlayerTest, JournalsEachSlideShownForItsTimeOnScreenAndEachOneThatNeverMadeIt)
{
    struct TRecorder : IPlayRecorder
    {
        void Record(TJournalRecord record) override
        {
            if (const auto* play = std::get_if<TPlayRecord>(&record))
                Lines << QStringLiteral("play %1 %2 ms %3")
                             .arg(play->SlideId, QString::number(play->DurationMs), play->Ended);
            else if (const auto* miss = std::get_if<TMissRecord>(&record))
                Lines << QStringLiteral("miss %1 %2").arg(miss->SlideId, miss->Reason);
        }
        QStringList Lines;
    };
    auto recorder = std::make_shared<TRecorder>();
    SetPlayRecorder(recorder);
    Views->ReadyAtOnce = true;
    Play("mixed");
    RunUntil(31000ms); // m2 and m3 fail: m1 stays until m4 is ready
    ASSERT_EQ(SlideOf(Front()), "m4");
    Player->StopPlaying(false);
    ASSERT_TRUE(ServeEventsUntil([this] { return Player->State() != psPlaying; }));
    Views->ReadyAtOnce = false;
    Play("17");
    Back().MakeReady();
    Tick();
    RunUntil(Clock->Now() + 15000ms); // s2 never paints
    Player->SetDisplayPresent(false); // the monitor is unplugged: nobody sees the show any more
    Back().MakeReady();
    RunUntil(Clock->Now() + 15000ms);
    Player.reset();
    SetPlayRecorder(nullptr);
    EXPECT_EQ(recorder->Lines.join('\n').toStdString(),
              QStringList({"miss m2 rendering failed", "miss m3 rendering failed", "play m1 20050 ms next",
                           "play m4 9000 ms stop", "miss s2 never painted", "play s1 15000 ms display lost"})
                  .join('\n')
                  .toStdString());
}

// A slide whose page plays its videos to their end stays for their length, at most ten times the slide's
// duration, and the journal has the time it was shown; each swap starts the videos of the slide it shows.
TEST_F(PlayerTest, ASlideThatPlaysItsVideoToTheEndStaysForItsLengthWithinBounds)
{
    struct TRecorder : IPlayRecorder
    {
        void Record(TJournalRecord record) override
        {
            if (const auto* play = std::get_if<TPlayRecord>(&record))
                Lines << QStringLiteral("%1 %2").arg(play->SlideId, QString::number(play->DurationMs));
        }
        QStringList Lines;
    };
    auto recorder = std::make_shared<TRecorder>();
    SetPlayRecorder(recorder);
    Views->ReadyAtOnce = true;
    Views->UntilEnd->insert("s1", 24500); // shown until the tick after its end
    Views->UntilEnd->insert("s2", 500000);
    Play("17", 10);
    RunUntil(Clock->Now() + 136000ms); // s1 from 1 s, s2 from 26 s, s3 from 126 s, s1 again
    const int starts = Front().Starts + Back().Starts;
    Player.reset();
    SetPlayRecorder(nullptr);
    EXPECT_EQ(recorder->Lines.join(", ").toStdString(), "s1 25000, s2 100000, s3 10000, s1 0");
    EXPECT_EQ(starts, 4);
}

// The operator away from the display sees what it shows: a small picture after a swap, at most once a
// minute, so a show of short slides does not write one per slide.
TEST_F(PlayerTest, KeepsAPictureOfWhatTheDisplayShowsAtMostOnceAMinute)
{
    ScreensFolder = App.File("Screens");
    MakePlayer();
    Views->ReadyAtOnce = true;
    Play("17", 10);
    Tick();
    const QString picture = App.File("Screens/Device 1.jpg");
    ASSERT_TRUE(ServeEventsUntil([&] { return QFile::exists(picture); }));
    const QImage image(picture);
    EXPECT_FALSE(image.isNull());
    EXPECT_LE(image.width(), 480);
    EXPECT_TRUE(QDir(App.File("Screens")).entryList(QDir::Files | QDir::Hidden).filter(".tmp").isEmpty());

    ASSERT_TRUE(QFile::remove(picture));
    RunUntil(Clock->Now() + 50000ms); // five more swaps
    ServeEventsUntil([] { return false; }, 100);
    EXPECT_FALSE(QFile::exists(picture)) << "a picture per slide";
    RunUntil(Clock->Now() + 20000ms);
    EXPECT_TRUE(ServeEventsUntil([&] { return QFile::exists(picture); })) << "none after a minute";
}

TEST_F(PlayerTest, AVitrelleWithoutSlidesOpensABlackWindowThatNeverChanges)
{
    Play("empty");
    RunUntil(30000ms);
    EXPECT_TRUE(Player->Form().isVisible());
    EXPECT_EQ(Player->State(), psPlaying);
    for (const QPointer<TFakeSlideView>& view : Views->Views())
        EXPECT_TRUE(view->Navigations.isEmpty());
    EXPECT_EQ(PlayerLines(),
              QStringList{"[3] TVitrellePlayer: Play vitrelle 'Empty' on display device 'Device 1'"});
}

TEST_F(PlayerTest, RunsHundredsOfSlidesInMomentsRenderingEachPageOnce)
{
    Clock = std::make_shared<TManualSteadyClock>(true); // every tick at once
    MakePlayer();
    Views->ReadyAtOnce = true;
    const QByteArray cached = "<html><body>kept as it is</body></html>";
    App.Write("Cache/Text/s3.html", cached);
    Player->SetSlideDuration(1);
    ASSERT_TRUE(Player->Play("17"));
    ASSERT_TRUE(ServeEventsUntil([&] { return Player->TickCount() >= 300; }));
    Player->StopPlaying(true);
    ASSERT_TRUE(ServeEventsUntil([&] { return Player->State() == psLoaded; }));

    // A page this run did not render (an earlier run's, or one put there by anything else) is rendered anew.
    EXPECT_NE(ReadFileBytes(Cache("Text/s3.html")), cached);
    EXPECT_FALSE(ReadFileBytes(Cache("Text/s3.html")).isEmpty());
    EXPECT_TRUE(ReadFileBytes(Cache("Photo/s1.html")).contains("Harbour"));
    // The views take turns, and the slides come in order: s1 into the back view, s2 into the other...
    const QStringList slides{"s1", "s2", "s3"};
    const TFakeSlideView& first = *Views->Views().at(1);
    const TFakeSlideView& second = *Views->Views().at(0);
    ASSERT_GE(first.Navigations.size() + second.Navigations.size(), 300);
    for (qsizetype i = 0; i < first.Navigations.size(); ++i)
        ASSERT_EQ(QFileInfo(first.Navigations[i].toLocalFile()).completeBaseName(), slides[(2 * i) % 3]) << i;
    for (qsizetype i = 0; i < second.Navigations.size(); ++i)
        ASSERT_EQ(QFileInfo(second.Navigations[i].toLocalFile()).completeBaseName(), slides[(2 * i + 1) % 3])
            << i;
    EXPECT_TRUE(ErrorLines(Log).isEmpty()) << LogText(Log);
}

TEST_F(PlayerTest, ASlideMayReachItsFoldersAndTheContentServerOnly)
{
    // Two origins an operator adds for a widget, one of them twice; the content server's port is not the
    // default one and must stay in its origin.
    Settings->SlideAllowedOrigins = QStringLiteral(" https://weather.example  http://127.0.0.9:81/path\n"
                                                   "https://weather.example ");
    Play("17");
    const TFakeSlideView& view = *Views->Views().at(1);
    ASSERT_EQ(view.Navigations.size(), 1);
    EXPECT_EQ(view.Access.Name, QStringLiteral("Slide s1 of vitrelle %1").arg(Player->Vitrelle()->Name));
    EXPECT_EQ(view.Access.Folders, (QStringList{Settings->GetRepositoryPath(), Settings->GetTemplatePath()}));
    EXPECT_EQ(view.Access.Origins,
              (QStringList{Server.BaseUrl(), "https://weather.example", "http://127.0.0.9:81"}));
}

TEST_F(PlayerTest, APageChangedBehindTheProgramsBackIsNotShown)
{
    Clock = std::make_shared<TManualSteadyClock>(true); // every tick at once
    MakePlayer();
    Views->ReadyAtOnce = true;
    Player->SetSlideDuration(1);
    ASSERT_TRUE(Player->Play("17"));
    ASSERT_TRUE(ServeEventsUntil([&] { return Player->TickCount() >= 20; }));
    const QByteArray rendered = ReadFileBytes(Cache("Text/s3.html"));
    ASSERT_FALSE(rendered.isEmpty());
    // Something else (a media file of the same name, say) takes the page's place while the show runs.
    const QByteArray foreign = "<html><body><script>/* not rendered here */</script></body></html>";
    App.Write("Cache/Text/s3.html", foreign);
    const qint64 ticks = Player->TickCount();
    ASSERT_TRUE(ServeEventsUntil([&] { return Player->TickCount() >= ticks + 60; }));
    Player->StopPlaying(true);
    ASSERT_TRUE(ServeEventsUntil([&] { return Player->State() == psLoaded; }));
    // It was refused (when the change came between the page's making and its loading, with the line of
    // the view's refusal), then rendered anew.
    EXPECT_EQ(ReadFileBytes(Cache("Text/s3.html")), rendered);
    const QStringList errors = ErrorLines(Log);
    EXPECT_FALSE(errors.isEmpty());
    for (const QString& line : errors)
        EXPECT_TRUE(line.contains("s3")) << LogText(Log);
}

// The same show on two displays, and a scheduled update while it plays: the vitrelle is loaded again under
// the running show (the second display's start reloads it from the cache, the update from the server). The
// first display must go on with whole slides of the content loaded last, nested vitrelles and the sequence's
// slide selections included.
struct TReloadCase
{
    const char* Name;
    bool Update;
    QStringList Slides; // what the first display shows after the reload
};

void PrintTo(const TReloadCase& c, std::ostream* out)
{
    *out << c.Name;
}

class ReloadWhilePlaying : public PlayerTest, public ::testing::WithParamInterface<TReloadCase>
{
};

TEST_P(ReloadWhilePlaying, TheRunningShowGoesOnWithTheContentLoadedLast)
{
    App.Write("Cache/news.xml",
              "<Vitrelle name=\"News\"><Diapositive id=\"n1\" type=\"Text\"><Line>Open</Line>"
              "</Diapositive><Diapositive id=\"n2\" type=\"Text\"><Line>Closed</Line>"
              "</Diapositive></Vitrelle>");
    App.Write("Cache/weather.xml",
              "<Vitrelle name=\"Weather\"><Diapositive id=\"w1\" type=\"Text\"><Line>Sun</Line></Diapositive>"
              "<Diapositive id=\"w2\" type=\"Text\"><Line>Rain</Line></Diapositive></Vitrelle>");
    Server.SetFile(
        "/vitrelles/17.xml",
        "<Vitrelle name=\"Lobby\"><Diapositive id=\"s1\" type=\"Photo\"><Caption>Harbour</Caption>"
        "</Diapositive><Diapositive id=\"s2\" type=\"Photo\"><Caption>Hills</Caption></Diapositive>"
        "<Vitrelle xml=\"news.xml\"/><Sequence><playDiapositive type=\"Photo\" nbDiapositive=\"2\"/>"
        "<playVitrelle name=\"News\" nbDiapositive=\"2\"/></Sequence></Vitrelle>");
    Views->ReadyAtOnce = true;
    Play("17", 1);
    QStringList shown;
    for (int i = 0; i < 5; ++i) {
        Tick();
        shown << SlideOf(Front());
    }
    ASSERT_EQ(shown, QStringList({"s1", "s2", "n1", "n2", "s2"})) << LogText(Log);

    // The second display's clock never ticks: it only prepares its first slide, so the first display's order
    // does not depend on how the two clocks interleave.
    TVitrelleDownloader& downloader = *Repository->GetDownloader("17");
    ASSERT_TRUE(WaitForMedia(downloader)); // otherwise the vitrelle is not loaded again
    TVitrellePlayer second(nullptr, *Repository,
                           {Views, ScreenSaver, nullptr, 1000ms, std::make_shared<TManualSteadyClock>()});
    ASSERT_TRUE(second.Play("17"));
    const auto secondBack = [&] {
        return SlideOf(dynamic_cast<TFakeSlideView&>(*second.Form().SlideStack().Back()));
    };
    ASSERT_TRUE(ServeEventsUntil([&] { return !secondBack().isEmpty(); }));
    if (GetParam().Update) {
        Server.SetFile(
            "/vitrelles/17.xml",
            "<Vitrelle name=\"Lobby\"><Diapositive id=\"u1\" type=\"Photo\"><Caption>Square</Caption>"
            "</Diapositive><Vitrelle xml=\"weather.xml\"/><Sequence><playVitrelle name=\"Weather\" "
            "nbDiapositive=\"2\"/><playDiapositive type=\"Photo\"/></Sequence></Vitrelle>");
        ASSERT_TRUE(WaitForMedia(downloader));
        TScheduleAction* update = Scheduler->GetAction("Vitrelle 17 downloader", 0);
        ASSERT_NE(update, nullptr);
        update->Enabled = true; // due since midnight
        const int requests = Server.Requests("/vitrelles/17.xml");
        Scheduler->Tick();
        ASSERT_EQ(Server.Requests("/vitrelles/17.xml"), requests + 1) << LogText(Log);
    }

    EXPECT_EQ(Log.Lines().filter("Load vitrelle ID = '17'...").size(), GetParam().Update ? 3 : 2)
        << "loaded again under the running show";

    shown.clear();
    for (int i = 0; i < 6; ++i) {
        Tick();
        shown << SlideOf(Front());
    }
    // The first change after the reload shows the slide prepared before it.
    EXPECT_EQ(shown.first(), "s1");
    for (const QString& slide : shown.mid(1))
        EXPECT_TRUE(GetParam().Slides.contains(slide)) << shown.join(' ').toStdString();
    for (const QString& slide : GetParam().Slides)
        EXPECT_TRUE(shown.contains(slide))
            << slide.toStdString() << " never shown: " << shown.join(' ').toStdString();
    EXPECT_TRUE(ErrorLines(Log).isEmpty()) << LogText(Log);
    ASSERT_TRUE(WaitForMedia(downloader));
}

INSTANTIATE_TEST_SUITE_P(
    Content, ReloadWhilePlaying,
    ::testing::Values(TReloadCase{"ASecondDisplayStartsTheSameShow", false, {"s1", "s2", "n1", "n2"}},
                      TReloadCase{"ThenAScheduledUpdateBringsANewShow", true, {"u1", "w1", "w2"}}),
    [](const ::testing::TestParamInfo<TReloadCase>& info) { return std::string(info.param.Name); });

// ---- schedule source ----

TEST_F(PlayerTest, OffersPlayAndStopToTheScheduler)
{
    EXPECT_EQ(Scheduler->FindSource("player device 1"), Player.get());
    const std::unique_ptr<TScheduleAction> play = Player->CreateDefaultAction(0);
    const std::unique_ptr<TScheduleAction> stop = Player->CreateDefaultAction(1);
    ASSERT_NE(play, nullptr);
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(Player->CreateDefaultAction(2), nullptr);
    EXPECT_EQ(play->NextTime.time(), QTime(8, 5));
    EXPECT_EQ(play->Params, QStringList{"diapositiveDuration=10"});
    EXPECT_FALSE(play->Enabled);
    EXPECT_EQ(stop->NextTime.time(), QTime(22, 55));
    EXPECT_TRUE(stop->Params.isEmpty());
    play->SetParamValue("vitrelleID", "17");
    EXPECT_EQ(Player->GetActionDescription(play.get()), "Play vitrelle ID = '17'");
    EXPECT_EQ(Player->GetActionDescription(stop.get()), "Stop vitrelle");
    EXPECT_EQ(Player->GetActionDescription(nullptr), "");
    EXPECT_FALSE(Player->ExecuteAction(nullptr));

    // Play and stop due in one pass: only the second runs; any other count is left alone.
    for (const qsizetype count : {1, 2, 3}) {
        std::vector<std::unique_ptr<TScheduleAction>> actions;
        TScheduleActionList due(false);
        for (qsizetype i = 0; i < count; ++i)
            due.Add(actions.emplace_back(Player->CreateDefaultAction(static_cast<qint32>(i % 2))).get());
        Player->FilterActions(due);
        ASSERT_EQ(due.Count(), count == 2 ? 1 : count);
        EXPECT_EQ(due.At(0), actions[count == 2 ? 1 : 0].get());
    }

    TVitrellePlayer unplaced(nullptr, *Repository, {Views, ScreenSaver, nullptr, 1000ms, Clock});
    EXPECT_EQ(unplaced.GetSourceName(), "Player");
}

struct TPlayActionCase
{
    QStringList Params;
    bool Result;
    qint32 Duration; // milliseconds; 7000 before the action
    TPlayerState State;
};

void PrintTo(const TPlayActionCase& c, std::ostream* out)
{
    *out << c.Params.join(", ").toStdString();
}

class PlayAction : public PlayerTest, public ::testing::WithParamInterface<TPlayActionCase>
{
};

TEST_P(PlayAction, ReadsTheVitrelleAndTheSlideDuration)
{
    Player->SetSlideDuration(7);
    std::unique_ptr<TScheduleAction> action = Player->CreateDefaultAction(TVitrellePlayer::PlayAction);
    action->Params = GetParam().Params;
    EXPECT_EQ(Player->ExecuteAction(action.get()), GetParam().Result);
    EXPECT_EQ(Player->DefaultDuration(), GetParam().Duration);
    EXPECT_EQ(Player->State(), GetParam().State);
    EXPECT_EQ(Player->Form().isVisible(), GetParam().State == psPlaying);
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, PlayAction,
    ::testing::Values(TPlayActionCase{{"vitrelleID=17", "diapositiveDuration=5"}, true, 5000, psPlaying},
                      TPlayActionCase{{"vitrelleID=17", "diapositiveDuration=five"}, true, 10000, psPlaying},
                      TPlayActionCase{{"vitrelleID=17"}, true, 10000, psPlaying},
                      TPlayActionCase{{"vitrelleID=17", "diapositiveDuration=99999999"},
                                      true,
                                      std::numeric_limits<qint32>::max(),
                                      psPlaying},
                      TPlayActionCase{{"diapositiveDuration=5"}, false, 7000, psIdle},
                      TPlayActionCase{{"vitrelleID=", "diapositiveDuration=5"}, false, 7000, psIdle},
                      TPlayActionCase{{"vitrelleID=nowhere", "diapositiveDuration=3"}, false, 3000, psIdle}),
    [](const auto& info) { return CaseName(info.index, info.param.Params.join(' ').toStdString()); });

// ---- slow work stays off the main thread ----

namespace {

// A text template that spins before it writes the page: a slide's "spin" attribute is the depth of a
// template calling itself twice, so the transform takes twice as long with each level.
const QByteArray SlowTextTemplate = R"xsl(<xsl:stylesheet version="1.0"
    xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8"/>
  <xsl:template name="spin">
    <xsl:param name="n"/>
    <xsl:if test="$n &gt; 0">
      <xsl:call-template name="spin"><xsl:with-param name="n" select="$n - 1"/></xsl:call-template>
      <xsl:call-template name="spin"><xsl:with-param name="n" select="$n - 1"/></xsl:call-template>
    </xsl:if>
  </xsl:template>
  <xsl:template match="/">
    <xsl:call-template name="spin">
      <xsl:with-param name="n" select="number(concat('0', Diapositive/@spin))"/>
    </xsl:call-template>
    <html><body><p><xsl:value-of select="Diapositive/Line"/></p></body></html>
  </xsl:template>
</xsl:stylesheet>)xsl";

// The spin depth at which one slide takes about that long to render on this machine (and build).
int SpinFor(milliseconds target)
{
    TXmlDocument sheet;
    EXPECT_TRUE(sheet.LoadFromBytes(SlowTextTemplate));
    const std::shared_ptr<const TXsltTemplate> compiled = TXsltTemplate::Compile(sheet);
    TTransformLimits limits;
    limits.MaxTime = 10min;
    for (int depth = 10;; ++depth) {
        TXmlDocument input;
        EXPECT_TRUE(input.LoadFromBytes(
            QStringLiteral("<Diapositive spin=\"%1\"><Line>x</Line></Diapositive>").arg(depth).toUtf8()));
        QElapsedTimer timer;
        timer.start();
        QByteArray page;
        QString errors;
        EXPECT_TRUE(compiled->Transform(input.DocumentElement(), page, errors, limits))
            << errors.toStdString();
        const qint64 took = timer.elapsed();
        if (took >= 250 || depth >= 40)
            return depth +
                   static_cast<int>(std::lround(std::log2(static_cast<double>(target.count()) /
                                                          static_cast<double>(std::max<qint64>(took, 1)))));
    }
}

// Largest time between two moments, starting from the first.
milliseconds LargestGap(const std::vector<milliseconds>& moments)
{
    milliseconds largest{0};
    for (size_t i = 1; i < moments.size(); ++i)
        largest = std::max(largest, moments[i] - moments[i - 1]);
    return largest;
}

milliseconds Elapsed(const QElapsedTimer& timer)
{
    return milliseconds(timer.elapsed());
}

} // namespace

// Two displays on the machine's clock play one-second slides: one has a slide whose template takes about
// three seconds, the other's pages are cached. The render must hold neither the main thread (a 10 ms timer
// keeps firing) nor the other display, nor its own display for longer than a skipped slide does; the slow
// slide still comes.
TEST_F(PlayerTest, ASlowTransformHoldsNeitherTheMainThreadNorTheOtherDisplay)
{
    const int spin = SpinFor(3000ms);
    App.Write("Templates/Text.xsl", SlowTextTemplate); // not compiled yet: no Text slide was rendered
    TDiapositiveType::FindType("Text")->TransformLimits.MaxTime =
        10min; // a slow build must not hit the bound
    Server.SetFile("/vitrelles/mixed.xml",
                   QStringLiteral("<Vitrelle name=\"Slow\">"
                                  "<Diapositive id=\"q0\" type=\"Text\"><Line>First</Line></Diapositive>"
                                  "<Diapositive id=\"q1\" type=\"Text\" spin=\"%1\">"
                                  "<Line>Slow</Line></Diapositive>"
                                  "<Diapositive id=\"q2\" type=\"Text\"><Line>Quick</Line>"
                                  "</Diapositive></Vitrelle>")
                       .arg(spin)
                       .toUtf8());
    for (const char* page : {"Photo/s1.html", "Photo/s2.html", "Text/s3.html"})
        App.Write(QStringLiteral("Cache/") + page, "<html><body>cached</body></html>");
    Views->ReadyAtOnce = true;

    QElapsedTimer since;
    since.start();
    const auto player = [&] {
        return std::make_unique<TVitrellePlayer>(
            nullptr, *Repository,
            TPlayerServices{Views, ScreenSaver, nullptr, 20ms, std::make_shared<TSystemSteadyClock>()});
    };
    std::unique_ptr<TVitrellePlayer> fast = player();
    std::unique_ptr<TVitrellePlayer> slow = player();
    std::vector<milliseconds> fastSwaps;
    std::vector<milliseconds> slowSwaps;
    fast->Form().SetOnSlideShown([&] { fastSwaps.push_back(Elapsed(since)); });
    slow->Form().SetOnSlideShown([&] { slowSwaps.push_back(Elapsed(since)); });
    std::vector<milliseconds> timerShots;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { timerShots.push_back(Elapsed(since)); });
    timer.start(10);

    fast->SetSlideDuration(1);
    slow->SetSlideDuration(1);
    ASSERT_TRUE(fast->Play("17"));
    ASSERT_TRUE(ServeEventsUntil([&] { return !fastSwaps.empty(); }));
    ASSERT_TRUE(slow->Play("mixed"));
    const auto slowFront = [&] {
        return SlideOf(dynamic_cast<TFakeSlideView&>(*slow->Form().SlideStack().Front()));
    };
    ASSERT_TRUE(ServeEventsUntil([&] { return slowFront() == "q1"; }, 120000)) << LogText(Log);
    const milliseconds slowArrived = Elapsed(since);
    ASSERT_TRUE(ServeEventsUntil([&] { return Elapsed(since) > slowArrived + 1500ms; }, 10000));
    timer.stop();

    RecordProperty("SlowSlideMs", static_cast<int>(slowArrived.count()));
    RecordProperty("OtherDisplayLongestSlideMs", static_cast<int>(LargestGap(fastSwaps).count()));
    RecordProperty("MainTimerLongestGapMs", static_cast<int>(LargestGap(timerShots).count()));
    EXPECT_GE(slowArrived, 1200ms) << "the slow slide took " << slowArrived.count() << " ms (spin " << spin
                                   << ")";
    EXPECT_GE(fastSwaps.size(), 2u) << "the other display swapped meanwhile";
    EXPECT_LE(LargestGap(fastSwaps), 1500ms) << "the other display held a slide";
    EXPECT_LE(LargestGap(timerShots), 250ms) << "the main thread was held";
    // The slow slide is skipped the first time round (its page is made meanwhile, in the background): the
    // slide after it comes as soon as it is ready, so the one before stays hardly longer than its duration.
    EXPECT_LE(LargestGap(slowSwaps), 1500ms) << "the slow display held a slide for the transform";
    RecordProperty("SlowDisplayLongestSlideMs", static_cast<int>(LargestGap(slowSwaps).count()));
    EXPECT_TRUE(ErrorLines(Log).isEmpty()) << LogText(Log);
    EXPECT_TRUE(QFileInfo(Cache("Text/q1.html")).isFile());
}

TEST_F(PlayerTest, DestroyingAPlayerStopsTheSlowTransformItWaitsFor)
{
    App.Write("Templates/Text.xsl", SlowTextTemplate);
    TDiapositiveType::FindType("Text")->TransformLimits.MaxTime = 10min;
    Server.SetFile("/vitrelles/mixed.xml",
                   "<Vitrelle name=\"Slow\"><Diapositive id=\"q1\" type=\"Text\" spin=\"60\">"
                   "<Line>Never done</Line></Diapositive></Vitrelle>");
    Player->SetSlideDuration(1);
    ASSERT_TRUE(Player->Play("mixed")); // the clock's first step waits for a page that never comes
    EXPECT_EQ(ScreenSaver->Holds, 1);
    ASSERT_TRUE(ServeEventsUntil([&] { return Log.Contains("preparation of slide 'q1'"); }));
    QThread::msleep(100); // well into the transform
    QElapsedTimer took;
    took.start();
    Player.reset();
    EXPECT_LT(took.elapsed(), 2000);
    EXPECT_EQ(ScreenSaver->Holds, 0);
    EXPECT_FALSE(QFileInfo::exists(Cache("Text/q1.html")));
    EXPECT_TRUE(ErrorLines(Log).isEmpty()) << "an abandoned page is no error: " << LogText(Log);
}

TEST_F(PlayerTest, APageMadeFromContentThatAnUpdateReplacedMeanwhileIsNotKept)
{
    const int spin = SpinFor(3000ms);
    App.Write("Templates/Text.xsl", SlowTextTemplate);
    TDiapositiveType::FindType("Text")->TransformLimits.MaxTime = 10min;
    const auto content = [](const char* line, int depth) {
        return QStringLiteral("<Vitrelle name=\"Slow\"><Diapositive id=\"q1\" type=\"Text\" spin=\"%1\">"
                              "<Line>%2</Line></Diapositive><Diapositive id=\"q2\" type=\"Text\">"
                              "<Line>Quick</Line></Diapositive></Vitrelle>")
            .arg(QString::number(depth), QString::fromUtf8(line))
            .toUtf8();
    };
    Server.SetFile("/vitrelles/mixed.xml", content("Old", spin));
    Views->ReadyAtOnce = true;
    Player->SetSlideDuration(1);
    ASSERT_TRUE(Player->Play("mixed"));
    ASSERT_TRUE(ServeEventsUntil([&] { return Log.Contains("preparation of slide 'q1'"); }));

    // The update comes while the old q1 is rendered: it clears the cache and loads the new content.
    TVitrelleDownloader& downloader = *Repository->GetDownloader("mixed");
    ASSERT_TRUE(WaitForMedia(downloader));
    Server.SetFile("/vitrelles/mixed.xml", content("New", 0));
    ASSERT_TRUE(downloader.Update()) << LogText(Log);
    ASSERT_FALSE(QFileInfo::exists(Cache("Text/q1.html"))) << "the render was over before the update";
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(Log.Contains("Vitrelle Slow : slide 'q1' was updated while it was prepared")) << LogText(Log);
    EXPECT_FALSE(QFileInfo::exists(Cache("Text/q1.html"))) << "the old page stays in place of the new one";
    EXPECT_TRUE(Back().Navigations.isEmpty());

    // The show goes on with the new content.
    QStringList shown;
    for (int i = 0; i < 4; ++i) {
        Tick();
        shown << SlideOf(Front());
    }
    EXPECT_TRUE(shown.contains("q1")) << shown.join(' ').toStdString();
    EXPECT_TRUE(ReadFileBytes(Cache("Text/q1.html")).contains("New"));
    EXPECT_TRUE(ErrorLines(Log).isEmpty()) << LogText(Log);
}

namespace {

// A scheduler's lane: a link's worker that runs one piece of work.
struct TLane : IThread
{
    std::function<void()> Work;
    void ThreadExecute() override { Work(); }
    void ThreadTerminated() override {}
};

} // namespace

TEST_F(PlayerTest, AScheduledPlayAndStopFromASchedulerLaneRunOnTheMainThread)
{
    const std::unique_ptr<TScheduleAction> play = Player->CreateDefaultAction(TVitrellePlayer::PlayAction);
    play->SetParamValue("vitrelleID", "17");
    const std::unique_ptr<TScheduleAction> stop = Player->CreateDefaultAction(TVitrellePlayer::StopAction);
    std::optional<bool> played;
    std::optional<bool> shownOnPlay;
    std::optional<bool> stopped;
    TLane lane;
    lane.Work = [&] {
        played = Player->ExecuteAction(play.get());
        RunOnMainThread([&] { shownOnPlay = Player->Form().isVisible(); });
        stopped = Player->ExecuteAction(stop.get());
    };
    TThreadLink link(lane);
    link.Start();
    ASSERT_TRUE(ServeEventsUntil([&] { return link.Ended(); }));
    EXPECT_EQ(played, std::optional<bool>(true));
    EXPECT_EQ(shownOnPlay, std::optional<bool>(true));
    EXPECT_EQ(stopped, std::optional<bool>(true));
    EXPECT_FALSE(Player->Form().isVisible());
    EXPECT_TRUE(ServeEventsUntil([&] { return Player->State() == psLoaded; }));
    EXPECT_EQ(Player->DefaultDuration(), 10000);
}

// ---- slide durations ----

enum TDurationOrigin : quint8
{
    doPage,   // the operator's page sets the player's duration
    doAction, // a scheduled play
    doFile,   // the vitrelle's sequence
};

struct TShortDurationCase
{
    const char* Name;
    TDurationOrigin Origin;
    const char* Reported; // in the one level-2 line
};

void PrintTo(const TShortDurationCase& c, std::ostream* out)
{
    *out << c.Name;
}

class ShortDuration : public PlayerTest, public ::testing::WithParamInterface<TShortDurationCase>
{
};

TEST_P(ShortDuration, PlaysOneSecondAndIsLoggedOnceWithItsOrigin)
{
    MakePlayer(250ms);
    Views->ReadyAtOnce = true;
    switch (GetParam().Origin) {
    case doPage:
        Player->SetSlideDuration(0);
        Player->SetSlideDuration(0); // set again: no second report
        ASSERT_TRUE(Player->Play("17"));
        break;
    case doAction: {
        const std::unique_ptr<TScheduleAction> play =
            Player->CreateDefaultAction(TVitrellePlayer::PlayAction);
        play->Params = QStringList{"vitrelleID=17", "diapositiveDuration=-5"};
        ASSERT_TRUE(Player->ExecuteAction(play.get()));
        break;
    }
    case doFile:
        Server.SetFile("/vitrelles/17.xml", "<Vitrelle name=\"Lobby\"><Diapositive id=\"s1\" type=\"Photo\">"
                                            "<Caption>Harbour</Caption></Diapositive><Diapositive id=\"s2\" "
                                            "type=\"Photo\"><Caption>Hills</Caption></Diapositive>"
                                            "<Sequence duration=\"0\"/></Vitrelle>");
        Player->SetSlideDuration(30); // the file's duration wins
        ASSERT_TRUE(Player->Play("17"));
        break;
    }
    ASSERT_TRUE(Settle());

    std::vector<milliseconds> swaps;
    Player->Form().SetOnSlideShown([&] { swaps.push_back(Clock->Now()); });
    while (swaps.size() < 5)
        ASSERT_LT(Tick(), 60000ms) << "the show stands still";
    for (size_t i = 1; i < swaps.size(); ++i)
        EXPECT_EQ(swaps[i] - swaps[i - 1], 1000ms) << i;
    const QStringList reports = Log.Lines().filter("a slide duration of");
    ASSERT_EQ(reports.size(), 1) << LogText(Log);
    EXPECT_TRUE(reports[0].startsWith("[2] ")) << reports[0].toStdString();
    EXPECT_TRUE(reports[0].contains(GetParam().Reported)) << reports[0].toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Origins, ShortDuration,
    ::testing::Values(
        TShortDurationCase{"ZeroFromThePage", doPage, "Player Device 1: a slide duration of 0 s"},
        TShortDurationCase{"NegativeFromAScheduledPlay", doAction,
                           "Player Device 1, scheduled play of vitrelle ID = '17': a slide duration of -5 s"},
        TShortDurationCase{"ZeroFromTheVitrelleFile", doFile, "17.xml: a slide duration of 0 ms"}),
    [](const ::testing::TestParamInfo<TShortDurationCase>& info) { return std::string(info.param.Name); });
