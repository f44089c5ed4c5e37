// The whole program on a private X server: a play action due at start shows slides on the device's monitor,
// and they change at the set duration. Read from the screen, as a viewer would see them.
#include "ScreenCapture.h"
#include "TestFiles.h"
#include "XvfbServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const QList<QRgb> SlideColours{qRgb(200, 40, 40), qRgb(40, 160, 80), qRgb(60, 80, 220)};

// An application folder with its own copy of the program, a slide type whose page is one colour, a vitrelle
// of three such slides and a schedule whose play action (a second a slide) is due at start.
void LayOut(const TTempFolder& app)
{
    const QString copy = app.File("VitrelleCenter");
    ASSERT_TRUE(QFile::copy(QStringLiteral(VC_EXECUTABLE), copy));
    QFile::setPermissions(copy, QFile::permissions(copy) | QFileDevice::ExeOwner);
    ASSERT_TRUE(QDir().mkpath(app.File("Templates")));
    for (const QString name : {"Types.xml", "Solid.xsl"})
        ASSERT_TRUE(QFile::copy(TestDataPath("solid/" + name), app.File("Templates/" + name)));
    app.Write("Cache/VitrelleList.xml", "<Vitrelles><Vitrelle id=\"colours\" name=\"Colours\"/></Vitrelles>");
    QByteArray vitrelle = "<Vitrelle name=\"Colours\">";
    for (qsizetype i = 0; i < SlideColours.size(); ++i)
        vitrelle +=
            QStringLiteral("<Diapositive id=\"s%1\" type=\"Solid\"><Colour>#%2</Colour></Diapositive>")
                .arg(QString::number(i), QString::number(SlideColours[i] & 0xffffff, 16))
                .toUtf8();
    app.Write("Cache/colours.xml", vitrelle + "</Vitrelle>");
    app.Write("Schedule.xml",
              "<Schedule><ScheduleAction Source=\"Player Device 1\" Action=\"0\" Periodicity=\"0\" "
              "Time=\"00:00:00\" Enabled=\"True\"><vitrelleID>colours</vitrelleID>"
              "<diapositiveDuration>1</diapositiveDuration></ScheduleAction></Schedule>");
    // No content server: everything is in the cache already.
    app.Write(
        "VitrelleCenter.xml",
        QStringLiteral(
            "<VitrelleCenter><DevicePath>%1/Devices</DevicePath><RepositoryPath>%1/Cache</RepositoryPath>"
            "<TemplatePath>%1/Templates</TemplatePath><VitrelleListFilePath/><TypeFilePath/>"
            "<HttpSettings><AuthentificationURL/><VitrelleListURL/><VitrelleURL/><MediaURL/><Login/>"
            "<Password/></HttpSettings><VitrelleAutoUpdate>0</VitrelleAutoUpdate>"
            "<VitrelleUpdateTime Periodicity=\"3\" Time=\"00:00:00\"/></VitrelleCenter>")
            .arg(app.Path())
            .toUtf8());
    QFile::setPermissions(app.File("VitrelleCenter.xml"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

// The program under test on its own private X server, started on the folder LayOut makes.
class PlaybackScreen : public ::testing::Test
{
protected:
    static constexpr int Width = 800;
    static constexpr int Height = 600;

    void SetUp() override
    {
#if defined(__SANITIZE_THREAD__)
        GTEST_SKIP()
            << "the program's web engine synchronises its threads in code ThreadSanitizer does not see (it "
               "is not instrumented), so every run reports races of its own";
#endif
        ASSERT_TRUE(Server.Start({"-br"}, QStringLiteral("800x600x24")));
        LayOut(App);
        ASSERT_FALSE(HasFatalFailure());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", QString::fromLatin1(Server.Name()));
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("QTWEBENGINE_DISABLE_SANDBOX", "1"); // the engine's sandbox cannot run as root
        // For a sanitized build: Qt WebEngine's Chromium is not instrumented; it deletes some objects through
        // a pointer to a smaller base type, which the allocator hooks report. Leaks are not checked here: the
        // GL driver the engine loads under X is unloaded before the check, so its allocations name no module
        // and cannot be told from ours. The program's leaks are checked by the app tests on the offscreen
        // platform.
        environment.insert("ASAN_OPTIONS",
                           environment.value("ASAN_OPTIONS") + ":new_delete_type_mismatch=0:detect_leaks=0");
        Program.setProcessEnvironment(environment);
        Program.setWorkingDirectory(App.Path());
        Program.setProcessChannelMode(QProcess::MergedChannels);
    }

    void TearDown() override
    {
        if (Program.state() != QProcess::NotRunning) {
            Program.kill();
            Program.waitForFinished(5000);
        }
    }

    void Launch()
    {
        Program.start(App.File("VitrelleCenter"), {});
        ASSERT_TRUE(Program.waitForStarted(10000));
    }

    // The frames sampled until the slide at this position of the palette has been seen (or 12 s passed, or
    // the program ended), at the capture's pace.
    std::vector<TScreenSampler::TFrame> SampleUntilSlide(TScreenSampler& sampler, int slide)
    {
        std::vector<TScreenSampler::TFrame> frames;
        const QDeadlineTimer limit(12000);
        auto next = TClock::now();
        while (!limit.hasExpired() && Program.state() == QProcess::Running) {
            frames.push_back(sampler.Sample());
            if (JudgeFrame(SlideColours, frames.back()).Slide >= slide)
                break;
            next += 16ms;
            std::this_thread::sleep_until(next);
        }
        return frames;
    }

    TXvfbServer Server;
    TTempFolder App;
    QProcess Program;
};

} // namespace

TEST_F(PlaybackScreen, AScheduledPlayFillsTheMonitorWithSlidesThatChangeAtTheSetDuration)
{
    // The corners and the centre of the monitor.
    TScreenSampler sampler(
        Server.Name(),
        {{2, 2}, {Width - 3, 2}, {2, Height - 3}, {Width - 3, Height - 3}, {Width / 2, Height / 2}});
    const auto launched = TClock::now();
    Launch();
    ASSERT_FALSE(HasFatalFailure());

    // Until the second slide has been seen.
    const TSwapReport report = JudgeCapture(SlideColours, SampleUntilSlide(sampler, 1));
    const bool running = Program.state() == QProcess::Running;
    ::kill(static_cast<pid_t>(Program.processId()), SIGTERM);
    const bool ended = Program.waitForFinished(20000);
    const QByteArray log = Program.readAll();

    ASSERT_TRUE(running) << log.constData();
    const auto firstSeen = report.FirstSeen[0];
    const auto secondSeen = report.FirstSeen[1];
    ASSERT_NE(firstSeen, TClock::time_point{}) << "the first slide never covered the screen\n"
                                               << log.constData();
    EXPECT_LT(firstSeen - launched, 8s) << "the first slide comes a second after playing starts";
    ASSERT_NE(secondSeen, TClock::time_point{}) << "the show did not go on\n" << log.constData();
    // A slide stays between its duration and one tick more; the page's own painting adds a little.
    const auto shownFor = std::chrono::duration_cast<std::chrono::milliseconds>(secondSeen - firstSeen);
    ::testing::Test::RecordProperty(
        "first_slide_ms",
        static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(firstSeen - launched).count()));
    ::testing::Test::RecordProperty("first_slide_shown_ms", static_cast<int>(shownFor.count()));
    EXPECT_GE(shownFor, 800ms);
    EXPECT_LE(shownFor, 2500ms);
    EXPECT_TRUE(ended);
    EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Program.exitCode(), 0) << log.constData();
}

// Closing the operator window while slides play ends the program whole, slide windows included, and in order
// (exit code 0, which the service's unit restarts): no show left running that nothing can stop or restart.
TEST_F(PlaybackScreen, ClosingTheOperatorWindowDuringAShowEndsTheWholeProgram)
{
    TScreenSampler sampler(Server.Name(), {{Width / 2, Height / 2}});
    Launch();
    ASSERT_FALSE(HasFatalFailure());
    SampleUntilSlide(sampler, 0);
    ASSERT_EQ(Program.state(), QProcess::Running) << Program.readAll().constData();

    ASSERT_TRUE(CloseWindow(Server.Name(), "VitrelleCenter", QSize(482, 615)))
        << "the operator window is not on the screen";
    const bool ended = Program.waitForFinished(20000);
    const QByteArray log = Program.readAll();
    ASSERT_TRUE(ended) << "the show went on without its operator window\n" << log.constData();
    EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit) << log.constData();
    EXPECT_EQ(Program.exitCode(), 0) << log.constData();
}
