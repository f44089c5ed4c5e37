#include "PageFixture.h"

#include "EventWait.h"
#include "MessageBox.h"
#include "ModalDialogs.h"
#include "RepositoryTestSupport.h"
#include "TestFiles.h"
#include "VitrelleCenterSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include <csignal>
#include <sys/resource.h>

namespace {

using TPage = TfrmVitrelleCenter::TPage;

// While it lives, no file of the process can grow: every write fails ("File too large"), as on a file the
// program may not write. Unlike permissions, this holds for root too.
class TNoFileGrowth
{
public:
    TNoFileGrowth()
    {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &FOldAction);
        getrlimit(RLIMIT_FSIZE, &FOldLimit);
        const rlimit none{0, FOldLimit.rlim_max};
        setrlimit(RLIMIT_FSIZE, &none);
    }
    ~TNoFileGrowth()
    {
        setrlimit(RLIMIT_FSIZE, &FOldLimit);
        sigaction(SIGXFSZ, &FOldAction, nullptr);
    }
    TNoFileGrowth(const TNoFileGrowth&) = delete;
    TNoFileGrowth& operator=(const TNoFileGrowth&) = delete;

private:
    struct sigaction FOldAction = {};
    rlimit FOldLimit = {};
};

class SettingsPage : public PageTest
{
protected:
    void Open()
    {
        OpenForm();
        ShowPage(TPage::Settings);
        Idle();
    }
    QLineEdit* Edit(const char* name) { return Control<QLineEdit>(QString::fromLatin1(name)); }
    QPushButton* Button(const char* name) { return Control<QPushButton>(QString::fromLatin1(name)); }
    bool ApplyOffered() { return Button("btnApplySettings")->isEnabled(); }
    bool SaveOffered() { return Button("btnSaveSettings")->isEnabled(); }
    // Applied and saved: nothing left to offer.
    void Settle()
    {
        Click(Button("btnApplySettings"));
        Click(Button("btnSaveSettings"));
        ASSERT_FALSE(ApplyOffered() || SaveOffered());
    }
    std::unique_ptr<TVitrelleCenterSettings> SettingsFile()
    {
        auto settings = std::make_unique<TVitrelleCenterSettings>(App.Path());
        settings->Load();
        return settings;
    }
    QString AppFolder(const QString& name) const
    {
        return QDir(App.Path()).filePath(name) + QLatin1Char('/');
    }
    QComboBox* Combo(int tab) { return Control<QComboBox>(QStringLiteral("cbVitrelle%1").arg(tab)); }
    // "Download vitrelle list", and its outcome: the transfer runs on the page's worker, the button is
    // offered again once its outcome has been shown.
    void DownloadList()
    {
        QPushButton* button = Button("btnDownloadList");
        Click(button);
        EXPECT_TRUE(ServeEventsUntil([&] { return button->isEnabled(); })) << "the download never ended";
    }
    QStringList Names(QComboBox* combo)
    {
        QStringList names;
        for (int i = 0; i < combo->count(); ++i)
            names << combo->itemText(i);
        return names;
    }
};

} // namespace

TEST_F(SettingsPage, ShowsTheSettingsWithTheirEffectivePaths)
{
    Open();
    ASSERT_EQ(Agent().DeviceCount(), 2);
    ASSERT_EQ(Agent().Repository().Count(), 2);
    const THttpSettings& http = Agent().Settings().HttpSettings();
    const std::pair<const char*, QString> shown[] = {
        {"edRepositoryPath", AppFolder("Cache")},
        {"edDevicePath", AppFolder("Devices")},
        {"edTemplatePath", AppFolder("Templates")},
        {"edVitrelleListFilePath", AppFolder("Cache") + "VitrelleList.xml"},
        {"edDiapositiveTypeFilePath", AppFolder("Templates") + "Types.xml"},
        {"edLoginURL", http.AuthentificationURL},
        {"edLogin", "operator"},
        {"edPassword", "secret"},
        {"edVitrelleListUrl", Server.BaseUrl() + "/list/VitrelleList.xml"},
        {"edVitrelleURL", http.VitrelleURL},
    };
    for (const auto& [name, text] : shown)
        EXPECT_EQ(Edit(name)->text(), text) << name;
    EXPECT_EQ(Edit("edPassword")->echoMode(), QLineEdit::Password);
    auto* tabs = Control<QTabWidget>("PageControl");
    EXPECT_EQ(tabs->currentWidget()->objectName(), "tsDownload");
    EXPECT_EQ(Button("btnDownloadList")->text(), "Download vitrelle list");
    EXPECT_EQ(Button("btnApplySettings")->text(), "Apply");
}

TEST_F(SettingsPage, ApplyAndSaveFollowTheEditFromAFirstRunOn)
{
    Open();
    // The file names no folder: the page's copy holds the effective ones, so both are offered at once.
    EXPECT_TRUE(ApplyOffered());
    EXPECT_TRUE(SaveOffered());

    Click(Button("btnApplySettings"));
    EXPECT_FALSE(ApplyOffered());
    EXPECT_TRUE(SaveOffered());
    EXPECT_EQ(Agent().Settings().RepositoryPath(), AppFolder("Cache"));
    EXPECT_EQ(SettingsFile()->RepositoryPath(), "") << "Apply writes no file";

    Click(Button("btnSaveSettings"));
    EXPECT_FALSE(ApplyOffered());
    EXPECT_FALSE(SaveOffered());
    EXPECT_EQ(SettingsFile()->RepositoryPath(), AppFolder("Cache"));

    // A change typed and typed back offers nothing.
    Edit("edLogin")->setText("someone");
    Idle();
    EXPECT_TRUE(ApplyOffered());
    EXPECT_TRUE(SaveOffered());
    Edit("edLogin")->setText("operator");
    Idle();
    EXPECT_FALSE(ApplyOffered());
    EXPECT_FALSE(SaveOffered());

    // Saved without being applied: the running program keeps its login until it is applied.
    Edit("edLogin")->setText("someone");
    Click(Button("btnSaveSettings"));
    EXPECT_TRUE(ApplyOffered());
    EXPECT_FALSE(SaveOffered());
    EXPECT_EQ(SettingsFile()->HttpSettings().Login, "someone");
    EXPECT_EQ(Agent().Settings().HttpSettings().Login, "operator");
}

struct TCaseEdit
{
    const char* Edit;
    QString (*Change)(const QString&);
    bool Offered;
    const char* Why;
    friend void PrintTo(const TCaseEdit& c, std::ostream* os) { *os << c.Why; }
};

class SettingsPageEdit : public SettingsPage, public ::testing::WithParamInterface<TCaseEdit>
{
};

TEST_P(SettingsPageEdit, OffersApplyAndSaveOnlyForARealChange)
{
    Open();
    Settle();
    QLineEdit* edit = Edit(GetParam().Edit);
    edit->setText(GetParam().Change(edit->text()));
    Idle();
    EXPECT_EQ(ApplyOffered(), GetParam().Offered) << GetParam().Why;
    EXPECT_EQ(SaveOffered(), GetParam().Offered) << GetParam().Why;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsPageEdit,
    ::testing::Values(
        // File systems here tell letter case apart: /data/Cache and /data/cache are two folders.
        TCaseEdit{"edRepositoryPath", [](const QString& text) -> QString { return text.toUpper(); }, true,
                  "another folder"},
        TCaseEdit{"edRepositoryPath", [](const QString& text) -> QString { return text.chopped(1); }, false,
                  "the same folder without its trailing separator"},
        TCaseEdit{"edLogin", [](const QString& text) -> QString { return text.toUpper(); }, true,
                  "a login differs in letter case"},
        TCaseEdit{"edPassword", [](const QString& text) -> QString { return text + "!"; }, true,
                  "another password"}),
    [](const auto& info) { return CaseName(info.index, info.param.Why); });

TEST_F(SettingsPage, BrowseButtonsFillTheirEditAndCancelKeepsIt)
{
    Open();
    const QString cache = AppFolder("Cache");
    const QString templates = AppFolder("Templates");
    // Button, its edit, and what the chooser is opened with: the title of the folder chooser, or the folder
    // the file chooser starts in.
    const std::tuple<const char*, const char*, QString> browsers[] = {
        {"btnOpenRepositoryPath", "edRepositoryPath", "Choose a folder"},
        {"btnOpenDevicePath", "edDevicePath", "Choose a folder"},
        {"btnOpenTemplatePath", "edTemplatePath", "Choose a folder"},
        {"btnOpenVitrelleListFilePath", "edVitrelleListFilePath", cache},
        {"btnOpenDiapositiveTypeFilePath", "edDiapositiveTypeFilePath", templates},
    };
    for (const auto& [button, edit, openedWith] : browsers) {
        const QString before = Edit(edit)->text();
        TModal::SetNextChoice(QString());
        Click(Button(button));
        EXPECT_EQ(TModal::TakeLastChooserText(), openedWith) << button;
        EXPECT_EQ(Edit(edit)->text(), before) << button << ": cancelled";

        const QString chosen = App.Path() + "/chosen/" + edit;
        TModal::SetNextChoice(chosen);
        Click(Button(button));
        EXPECT_EQ(Edit(edit)->text(), chosen) << button;
    }
    EXPECT_EQ(SettingsFile()->RepositoryPath(), "");
    Click(Button("btnSaveSettings"));
    EXPECT_EQ(SettingsFile()->DevicePath(), App.Path() + "/chosen/edDevicePath");
}

TEST_F(SettingsPage, ASaveThatFailsKeepsTheEditTheFileAndTheSaveButton)
{
    Open();
    Settle();
    const QString file = Agent().Settings().GetSettingsFileName();
    const QByteArray before = ReadFileBytes(file);
    Edit("edVitrelleURL")->setText("http://elsewhere/%s.xml");
    Idle();
    {
        const TNoFileGrowth unwritable;
        TMessageBox::SetNextAnswer(QMessageBox::Ok);
        Click(Button("btnSaveSettings"));
    }
    const QString shown = TMessageBox::TakeLastText().value_or("");
    EXPECT_TRUE(shown.startsWith("Cannot write file " + file)) << shown.toStdString();
    EXPECT_TRUE(Log.Lines().contains("[1] TFrameVitrelleSettings: " + shown)) << LogText(Log);
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_EQ(Edit("edVitrelleURL")->text(), "http://elsewhere/%s.xml");
    EXPECT_TRUE(SaveOffered()) << "nothing was saved";

    Click(Button("btnSaveSettings"));
    EXPECT_FALSE(SaveOffered());
    EXPECT_EQ(SettingsFile()->HttpSettings().VitrelleURL, "http://elsewhere/%s.xml");
}

TEST_F(SettingsPage, ADownloadedListReachesTheOpenVitrellesPage)
{
    OpenForm();
    ShowPage(TPage::Vitrelles);
    Combo(0)->setCurrentText("Gallery");
    ASSERT_EQ(Combo(1)->currentText(), "Lobby");
    Server.SetFile("/list/VitrelleList.xml", "<Vitrelles><Vitrelle id=\"hall\" name=\"Hall\"/>"
                                             "<Vitrelle id=\"gallery\" name=\"Gallery\"/></Vitrelles>");

    QWidget* vitrelles = CurrentPage;
    ShowPage(TPage::Settings);
    DownloadList();
    EXPECT_EQ(Agent().Repository().Count(), 2);
    EXPECT_NE(Agent().Repository().FindByName("Hall"), nullptr);
    // The downloaders follow the list, so the schedule can update the new vitrelle.
    EXPECT_EQ(Agent().Repository().DownloaderCount(), 2);
    EXPECT_NE(Agent().Scheduler().FindSource("Vitrelle hall downloader"), nullptr);
    EXPECT_EQ(Agent().Scheduler().FindSource("Vitrelle 17 downloader"), nullptr);

    CurrentPage = vitrelles;
    for (int tab : {0, 1})
        EXPECT_EQ(Names(Combo(tab)), QStringList({"Hall", "Gallery"}));
    EXPECT_EQ(Combo(0)->currentText(), "Gallery") << "the choice is kept while it is listed";
    EXPECT_EQ(Combo(1)->currentText(), "Hall") << "Lobby has gone: the first is chosen";
}

struct TCaseFailedDownload
{
    const char* Why;
    void (*Break)(TTestContentServer& server, QLineEdit* listUrl);
    const char* Message; // the start of the message shown
    friend void PrintTo(const TCaseFailedDownload& c, std::ostream* os) { *os << c.Why; }
};

class SettingsPageFailedDownload : public SettingsPage,
                                   public ::testing::WithParamInterface<TCaseFailedDownload>
{
};

TEST_P(SettingsPageFailedDownload, TellsTheOperatorAndKeepsTheCachedList)
{
    OpenForm();
    QWidget* vitrelles = ShowPage(TPage::Vitrelles);
    Combo(1)->setCurrentText("Gallery");
    ShowPage(TPage::Settings);
    const QString listFile = Agent().Repository().ListFilePath();
    const QByteArray cached = ReadFileBytes(listFile);
    GetParam().Break(Server, Edit("edVitrelleListUrl"));
    Settle();

    TMessageBox::SetNextAnswer(QMessageBox::Ok);
    DownloadList();
    const QString shown = TMessageBox::TakeLastText().value_or("");
    EXPECT_TRUE(shown.startsWith(GetParam().Message)) << shown.toStdString();
    EXPECT_TRUE(Log.Lines().contains("[1] TFrameVitrelleSettings: " + shown)) << LogText(Log);
    EXPECT_EQ(ReadFileBytes(listFile), cached);
    EXPECT_EQ(Agent().Repository().Count(), 2);
    EXPECT_NE(Agent().Repository().FindByName("Lobby"), nullptr);
    EXPECT_FALSE(ApplyOffered());
    EXPECT_FALSE(SaveOffered());
    CurrentPage = vitrelles;
    EXPECT_EQ(Names(Combo(1)), QStringList({"Lobby", "Gallery"}));
    EXPECT_EQ(Combo(1)->currentText(), "Gallery");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsPageFailedDownload,
    ::testing::Values(TCaseFailedDownload{"an error status",
                                          [](TTestContentServer& server, QLineEdit*) {
                                              server.SetStatus("/list/VitrelleList.xml", 500);
                                          },
                                          "Cannot download http://127.0.0.1:"},
                      TCaseFailedDownload{"no connection",
                                          [](TTestContentServer&, QLineEdit* listUrl) {
                                              QString gone;
                                              {
                                                  const TTestContentServer stopped;
                                                  gone = stopped.BaseUrl();
                                              }
                                              listUrl->setText(gone + "/list/VitrelleList.xml");
                                          },
                                          "Cannot download http://127.0.0.1:"},
                      TCaseFailedDownload{"an answer that is no list",
                                          [](TTestContentServer& server, QLineEdit*) {
                                              server.SetFile("/list/VitrelleList.xml",
                                                             "<html>Sign in to the network");
                                          },
                                          "Error while parsing vitrelle list http://127.0.0.1:"},
                      TCaseFailedDownload{"no file",
                                          [](TTestContentServer& server, QLineEdit*) {
                                              server.SetStatus("/list/VitrelleList.xml", 204);
                                          },
                                          "The content server gave no vitrelle list"}),
    [](const auto& info) { return CaseName(info.index, info.param.Why); });

// The server is slow: the page shows that the download runs and stays usable, the window's main thread goes
// on serving its events (every display's slide steps), and the outcome arrives as it would have at once.
struct TCaseSlowList
{
    const char* Why;
    bool Hangs;          // until released, then an error status; otherwise a late list
    const char* Message; // the start of the message shown; null: the list is taken
    friend void PrintTo(const TCaseSlowList& c, std::ostream* os) { *os << c.Why; }
};

class SettingsPageSlowServer : public SettingsPage, public ::testing::WithParamInterface<TCaseSlowList>
{
};

TEST_P(SettingsPageSlowServer, ShowsTheDownloadRunningAndThenItsOutcome)
{
    const TCaseSlowList& c = GetParam();
    Open();
    Settle();
    const QByteArray list = "<Vitrelles><Vitrelle id=\"hall\" name=\"Hall\"/></Vitrelles>";
    if (c.Hangs)
        Server.SetHang("/list/VitrelleList.xml");
    else
        Server.SetDelayedFile("/list/VitrelleList.xml", list, std::chrono::milliseconds(700));
    QPushButton* button = Button("btnDownloadList");
    auto* status = Control<QLabel>("lblListDownload");
    if (c.Message != nullptr)
        TMessageBox::SetNextAnswer(QMessageBox::Ok);

    const TMainThreadPulse pulse;
    Click(button);
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(status->text(), "Downloading the vitrelle list...");
    // The operator goes on working on the page meanwhile.
    Edit("edLogin")->setText("someone");
    Idle();
    EXPECT_TRUE(ApplyOffered());
    EXPECT_FALSE(button->isEnabled()) << "one download at a time";
    ServeEventsUntil([] { return false; }, 400);
    EXPECT_EQ(Agent().Repository().Count(), 2) << "nothing is taken before the file has arrived";
    if (c.Hangs)
        Server.ReleaseHangs();
    ASSERT_TRUE(ServeEventsUntil([&] { return button->isEnabled(); }));
    EXPECT_LT(pulse.LongestGap(), 150) << "the main thread was held";
    EXPECT_EQ(status->text(), "");
    if (c.Message == nullptr) {
        EXPECT_EQ(TMessageBox::TakeLastText(), std::nullopt);
        EXPECT_EQ(Agent().Repository().Count(), 1);
        EXPECT_NE(Agent().Repository().FindByName("Hall"), nullptr);
        EXPECT_EQ(Agent().Repository().DownloaderCount(), 1);
    } else {
        const QString shown = TMessageBox::TakeLastText().value_or("");
        EXPECT_TRUE(shown.startsWith(c.Message)) << shown.toStdString();
        EXPECT_TRUE(Log.Lines().contains("[1] TFrameVitrelleSettings: " + shown)) << LogText(Log);
        EXPECT_EQ(Agent().Repository().Count(), 2);
    }
    EXPECT_EQ(Edit("edLogin")->text(), "someone");
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsPageSlowServer,
                         ::testing::Values(TCaseSlowList{"a list that comes late", false, nullptr},
                                           TCaseSlowList{"a server that hangs, then fails", true,
                                                         "Cannot download http://127.0.0.1:"}),
                         [](const auto& info) { return CaseName(info.index, info.param.Why); });

// The window closes while the server hangs: the download is given up at once and reports nothing.
TEST_F(SettingsPage, ADownloadUnderWayIsGivenUpWhenTheWindowCloses)
{
    Open();
    // A list that trickles in never trips the transfer's silence limit: only the closing can end it. Should
    // the transfer fail after all, its box is answered, so the test fails instead of waiting for ever.
    Server.SetTrickle("/list/VitrelleList.xml", 1 << 20, 1, std::chrono::milliseconds(50));
    TMessageBox::SetNextAnswer(QMessageBox::Ok);
    Click(Button("btnDownloadList"));
    ASSERT_TRUE(ServeEventsUntil([&] { return Server.Requests("/list/VitrelleList.xml") >= 1; }))
        << Server.Requests("/list/VitrelleList.xml") << LogText(Log);
    QElapsedTimer clock;
    clock.start();
    CurrentPage = nullptr;
    Form.reset();
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(TMessageBox::TakeLastText(), std::nullopt);
    TMessageBox::ResetForTests();
}

// The cache receives whatever the content server sends: a cache folder that overlaps the program's own
// folders is refused by Apply and by Save with the reason, and the running program and the file keep what
// they had.
struct TCaseFolderSlip
{
    const char* Why;
    const char* Edit;
    const char* Folder;  // relative to the application folder; created (a link when Link is set)
    const char* Link;    // where the link points, relative to the application folder
    const char* Message; // its start; {app} stands for the application folder
    friend void PrintTo(const TCaseFolderSlip& c, std::ostream* os) { *os << c.Why; }
};

class SettingsPageFolderSlip : public SettingsPage, public ::testing::WithParamInterface<TCaseFolderSlip>
{
};

TEST_P(SettingsPageFolderSlip, IsRefusedByApplyAndSave)
{
    const TCaseFolderSlip& c = GetParam();
    Open();
    Settle();
    const QString file = Agent().Settings().GetSettingsFileName();
    const QByteArray saved = ReadFileBytes(file);
    const QString folder = QDir::cleanPath(App.Path() + "/" + c.Folder);
    if (c.Link != nullptr)
        ASSERT_TRUE(QFile::link(QDir::cleanPath(App.Path() + "/" + c.Link), folder));
    else
        ASSERT_TRUE(QDir().mkpath(folder));
    Edit(c.Edit)->setText(folder);
    Idle();
    ASSERT_TRUE(ApplyOffered());
    const QString message = QString::fromLatin1(c.Message).replace("{app}", App.Path());

    for (const char* button : {"btnApplySettings", "btnSaveSettings"}) {
        TMessageBox::SetNextAnswer(QMessageBox::Ok);
        Click(Button(button));
        const QString shown = TMessageBox::TakeLastText().value_or("");
        EXPECT_TRUE(shown.startsWith(message)) << button << ": " << shown.toStdString();
        EXPECT_TRUE(Log.Lines().contains("[1] TFrameVitrelleSettings: " + shown)) << LogText(Log);
    }
    EXPECT_EQ(Agent().Settings().GetRepositoryPath(), AppFolder("Cache"));
    EXPECT_EQ(Agent().Settings().GetDevicePath(), AppFolder("Devices"));
    EXPECT_EQ(Agent().Settings().GetTemplatePath(), AppFolder("Templates"));
    EXPECT_EQ(ReadFileBytes(file), saved);
    EXPECT_EQ(Edit(c.Edit)->text(), folder) << "the edit stays for the operator to correct";
    EXPECT_TRUE(ApplyOffered());
    EXPECT_TRUE(SaveOffered());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsPageFolderSlip,
    ::testing::Values(
        TCaseFolderSlip{"the application folder", "edRepositoryPath", ".", nullptr,
                        "The cache folder {app}/ is the application folder"},
        TCaseFolderSlip{"a link to the application folder", "edRepositoryPath", "app-link", ".",
                        "The cache folder {app}/app-link/ is the application folder"},
        TCaseFolderSlip{"a folder that holds the application folder", "edRepositoryPath", "..", nullptr,
                        "The cache folder "},
        TCaseFolderSlip{"the device folder", "edRepositoryPath", "Devices", nullptr,
                        "The cache folder {app}/Devices/ is the device folder {app}/Devices/"},
        TCaseFolderSlip{"a folder inside the template folder", "edRepositoryPath", "Templates/cache", nullptr,
                        "The cache folder {app}/Templates/cache/ lies inside the template folder "
                        "{app}/Templates/"},
        TCaseFolderSlip{"a device folder inside the cache", "edDevicePath", "Cache/devices", nullptr,
                        "The cache folder {app}/Cache/ contains the device folder {app}/Cache/devices/"},
        TCaseFolderSlip{"the cache as template folder", "edTemplatePath", "Cache", nullptr,
                        "The cache folder {app}/Cache/ is the template folder {app}/Cache/"}),
    [](const auto& info) { return CaseName(info.index, info.param.Why); });

// The Fleet tab: plain MQTT to another machine is refused at Apply and Save (the operator is told, nothing
// changes) until "Allow insecure" says so; the password is never logged.
TEST_F(SettingsPage, TheFleetTabRefusesPlainMqttToAnotherMachineUntilAllowed)
{
    Open();
    Settle();
    const QByteArray before = ReadFileBytes(Agent().Settings().GetSettingsFileName());
    Edit("edFleetHost")->setText("broker.example");
    Edit("edFleetPassword")->setText("fleet-secret");
    Idle();
    EXPECT_TRUE(
        Control<QLabel>("lblFleetProblem")->text().startsWith("Plain MQTT to broker.example is refused"));
    for (const char* button : {"btnApplySettings", "btnSaveSettings"}) {
        TMessageBox::SetNextAnswer(QMessageBox::Ok);
        Click(Button(button));
        const QString shown = TMessageBox::TakeLastText().value_or("");
        EXPECT_TRUE(shown.startsWith("Plain MQTT to broker.example is refused")) << shown.toStdString();
    }
    EXPECT_FALSE(Agent().Settings().Fleet.Enabled());
    EXPECT_EQ(ReadFileBytes(Agent().Settings().GetSettingsFileName()), before);

    Control<QCheckBox>("cbFleetAllowInsecure")->setChecked(true);
    Idle();
    Settle();
    EXPECT_EQ(Agent().Settings().Fleet.Host, "broker.example");
    EXPECT_EQ(SettingsFile()->Fleet.Password, "fleet-secret");
    EXPECT_TRUE(SettingsFile()->Fleet.AllowInsecure);
    EXPECT_FALSE(Log.Contains("fleet-secret"));
}
