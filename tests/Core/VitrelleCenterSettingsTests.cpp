#include "Errors.h"
#include "LogCapture.h"
#include "TestFiles.h"
#include "VitrelleCenterSettings.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const QByteArray FullFile =
    "<VitrelleCenter><DevicePath>/srv/devices</DevicePath><RepositoryPath>/srv/cache</RepositoryPath>"
    "<TemplatePath>/srv/templates</TemplatePath><VitrelleListFilePath>/srv/list.xml</VitrelleListFilePath>"
    "<TypeFilePath>/srv/types.xml</TypeFilePath><HttpSettings>"
    "<AuthentificationURL>http://server/login?u=%s&amp;p=%s</AuthentificationURL>"
    "<VitrelleListURL>http://server/list</VitrelleListURL><VitrelleURL>http://server/v/%s</VitrelleURL>"
    "<MediaURL>http://server/m/%s</MediaURL><Login>operator</Login><Password>s3cr\xc3\xa9t</Password>"
    "</HttpSettings><VitrelleAutoUpdate>-1</VitrelleAutoUpdate>"
    "<VitrelleUpdateTime Periodicity=\"0\" Time=\"05:30:00\"/></VitrelleCenter>";

} // namespace

TEST(VitrelleCenterSettings, RoundTripKeepsOrderAndForm)
{
    TTempFolder folder;
    const QString file = folder.Write("VitrelleCenter.xml", FullFile);
    TVitrelleCenterSettings settings(folder.Path());
    ASSERT_TRUE(settings.LoadFromFile(file));
    EXPECT_EQ(settings.DevicePath(), "/srv/devices");
    EXPECT_EQ(settings.HttpSettings().AuthentificationURL, "http://server/login?u=%s&p=%s");
    EXPECT_EQ(settings.HttpSettings().Password, QStringLiteral("s3cr\u00e9t"));
    EXPECT_TRUE(settings.VitrelleAutoUpdate);
    EXPECT_EQ(settings.VitrelleUpdateTime().Kind, 0);
    EXPECT_EQ(settings.VitrelleUpdateTime().Time, QTime(5, 30));

    const QString copy = folder.File("copy.xml");
    ASSERT_TRUE(settings.SaveToFile(copy));
    EXPECT_EQ(ReadFileBytes(copy), FullFile);
}

TEST(VitrelleCenterSettings, DefaultsSaveEveryElementEmpty)
{
    TTempFolder folder;
    TVitrelleCenterSettings settings(folder.Path());
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(
        ReadFileBytes(settings.GetSettingsFileName()),
        "<VitrelleCenter><DevicePath/><RepositoryPath/><TemplatePath/><VitrelleListFilePath/><TypeFilePath/>"
        "<HttpSettings><AuthentificationURL/><VitrelleListURL/><VitrelleURL/><MediaURL/><Login/><Password/>"
        "</HttpSettings><VitrelleAutoUpdate>0</VitrelleAutoUpdate>"
        "<VitrelleUpdateTime Periodicity=\"3\" Time=\"00:00:00\"/></VitrelleCenter>");
}

// The journal's and the metrics' settings are written only when set, and a number out of range keeps the
// default rather than a journal that forgets everything at once.
TEST(VitrelleCenterSettings, JournalDaysAndMetricsFileAreKeptWhenSetAndBoundedWhenRead)
{
    TTempFolder folder;
    TVitrelleCenterSettings settings(folder.Path());
    settings.MetricsFile = "/var/lib/node_exporter/vitrelle.prom";
    settings.PlayJournalDays = 30;
    ASSERT_TRUE(settings.Save());
    TVitrelleCenterSettings read(folder.Path());
    ASSERT_TRUE(read.Load());
    EXPECT_EQ(read.MetricsFile, settings.MetricsFile);
    EXPECT_EQ(read.PlayJournalDays, 30);
    EXPECT_TRUE(read.Equals(&settings));
    for (const char* days : {"0", "-5", "forever", "99999999999"}) {
        folder.Write("VitrelleCenter.xml", QByteArray("<VitrelleCenter><PlayJournalDays>") + days +
                                               "</PlayJournalDays></VitrelleCenter>");
        ASSERT_TRUE(read.Load());
        EXPECT_EQ(read.PlayJournalDays, TVitrelleCenterSettings::DefaultPlayJournalDays) << days;
    }
}

TEST(VitrelleCenterSettings, FileWithThePasswordIsForItsOwnerOnly)
{
    TTempFolder folder;
    const QString file = folder.Write("VitrelleCenter.xml", "<old/>");
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                                    QFileDevice::ReadGroup);
    TVitrelleCenterSettings settings(folder.Path());
    settings.HttpSettings().Password = "secret";
    ASSERT_TRUE(settings.Save());
    struct stat info
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(folder.Entries(), QStringList{"VitrelleCenter.xml"}) << "no temporary file left behind";
}

TEST(VitrelleCenterSettings, MissingFileRaisesItsMessage)
{
    TTempFolder folder;
    TVitrelleCenterSettings settings(folder.Path());
    try {
        settings.Load();
        FAIL() << "no error raised";
    } catch (const EVitrelleError& error) {
        EXPECT_EQ(error.Message(), "Cannot find configuration file " + folder.Path() + "/VitrelleCenter.xml");
    }
}

TEST(VitrelleCenterSettings, UnparsableFileChangesNothing)
{
    TTempFolder folder;
    const QString file = folder.Write("VitrelleCenter.xml", "<VitrelleCenter><DevicePath>x</VitrelleCenter>");
    TVitrelleCenterSettings settings(folder.Path());
    settings.SetDevicePath("/before");
    settings.HttpSettings().Login = "kept";
    EXPECT_FALSE(settings.LoadFromFile(file));
    EXPECT_EQ(settings.DevicePath(), "/before");
    EXPECT_EQ(settings.HttpSettings().Login, "kept");
}

TEST(VitrelleCenterSettings, PartialFiles)
{
    TTempFolder folder;
    TVitrelleCenterSettings settings(folder.Path());
    settings.HttpSettings().Login = "kept";
    settings.SetTemplatePath("/before");
    settings.VitrelleUpdateTime() = TActionPeriodicity(1, QTime(4, 0));
    // Any root name; missing elements empty their fields; no HttpSettings keeps the server settings; no
    // VitrelleUpdateTime keeps the periodicity; "yes" is not a boolean.
    const QString file = folder.Write("other.xml", "<Anything><DevicePath>/d</DevicePath>"
                                                   "<VitrelleAutoUpdate>yes</VitrelleAutoUpdate></Anything>");
    ASSERT_TRUE(settings.LoadFromFile(file));
    EXPECT_EQ(settings.DevicePath(), "/d");
    EXPECT_EQ(settings.TemplatePath(), "");
    EXPECT_EQ(settings.HttpSettings().Login, "kept");
    EXPECT_FALSE(settings.VitrelleAutoUpdate);
    EXPECT_EQ(settings.VitrelleUpdateTime().Kind, 1);

    for (const char* text : {"1", "-1", "True", "true"}) {
        folder.Write("flag.xml", QByteArray("<V><VitrelleAutoUpdate>") + text + "</VitrelleAutoUpdate></V>");
        ASSERT_TRUE(settings.LoadFromFile(folder.File("flag.xml")));
        EXPECT_TRUE(settings.VitrelleAutoUpdate) << text;
    }
    // An HttpSettings element with missing children empties them; LoginLifetime never comes from the file.
    settings.HttpSettings().LoginLifetime = 60;
    folder.Write("http.xml",
                 "<V><HttpSettings><Login>new</Login><LoginLifetime>5</LoginLifetime></HttpSettings></V>");
    ASSERT_TRUE(settings.LoadFromFile(folder.File("http.xml")));
    EXPECT_EQ(settings.HttpSettings().Login, "new");
    EXPECT_EQ(settings.HttpSettings().Password, "");
    EXPECT_EQ(settings.HttpSettings().LoginLifetime, 60);
}

TEST(VitrelleCenterSettings, EffectiveLocationsFallBackToTheApplicationFolder)
{
    TTempFolder folder;
    TVitrelleCenterSettings settings(folder.Path());
    const QString base = folder.Path() + "/";
    EXPECT_EQ(settings.GetBasePath(), base);
    EXPECT_EQ(settings.GetSettingsFileName(), base + "VitrelleCenter.xml");
    EXPECT_EQ(settings.GetScheduleFileName(), base + "Schedule.xml");
    EXPECT_EQ(settings.GetRepositoryPath(), base + "Cache/");
    EXPECT_EQ(settings.GetDevicePath(), base + "Devices/");
    EXPECT_EQ(settings.GetTemplatePath(), base + "Templates/");
    EXPECT_EQ(settings.GetVitrelleListFilePath(), base + "Cache/VitrelleList.xml");
    EXPECT_EQ(settings.GetTypeFilePath(), base + "Templates/Types.xml");

    // Configured locations count only when they exist; nothing is created by asking.
    settings.SetDevicePath(folder.File("nowhere"));
    EXPECT_EQ(settings.GetDevicePath(), base + "Devices/");
    EXPECT_FALSE(QFileInfo::exists(folder.File("nowhere")));
    QDir().mkpath(folder.File("mycache"));
    settings.SetRepositoryPath(folder.File("mycache"));
    EXPECT_EQ(settings.GetRepositoryPath(), base + "mycache/");
    EXPECT_EQ(settings.GetVitrelleListFilePath(), base + "mycache/VitrelleList.xml");
    settings.SetTypeFilePath(folder.Write("types.txt", "x"));
    EXPECT_EQ(settings.GetTypeFilePath(), base + "types.xml");
    settings.SetVitrelleListFilePath(folder.Write("LIST.XML", "x"));
    EXPECT_EQ(settings.GetVitrelleListFilePath(), base + "LIST.XML");
    settings.SetVitrelleListFilePath(folder.File("mycache")); // a folder is not a file
    EXPECT_EQ(settings.GetVitrelleListFilePath(), base + "mycache/VitrelleList.xml");
}

TEST(VitrelleCenterSettings, EqualsCloneAndExpandPaths)
{
    TTempFolder folder;
    TVitrelleCenterSettings a(folder.Path());
    a.SetRepositoryPath("/data/Cache");
    a.HttpSettings().Login = "Operator";
    auto b = a.Clone();
    EXPECT_TRUE(a.Equals(b.get()));
    EXPECT_TRUE(b->Equals(&a));
    EXPECT_FALSE(a.Equals(nullptr));

    b->SetRepositoryPath("/data/Cache/");
    EXPECT_TRUE(a.Equals(b.get())) << "a trailing separator makes no difference";
    b->SetRepositoryPath("/data/cache");
    EXPECT_FALSE(a.Equals(b.get())) << "letter case names another folder here";
    b->SetRepositoryPath("/data/Cache");
    b->HttpSettings().Login = "operator";
    EXPECT_FALSE(a.Equals(b.get()));
    b->HttpSettings().Login = "Operator";
    b->VitrelleAutoUpdate = true;
    b->VitrelleUpdateTime().Kind = 0;
    EXPECT_TRUE(a.Equals(b.get())) << "the update values take no part in equality";

    auto expanded = a.Clone();
    expanded->ExpandPaths();
    EXPECT_FALSE(a.Equals(expanded.get()));
    EXPECT_EQ(expanded->RepositoryPath(), folder.Path() + "/Cache/");
    EXPECT_EQ(expanded->TypeFilePath(), folder.Path() + "/Templates/Types.xml");
    auto again = expanded->Clone();
    again->ExpandPaths();
    EXPECT_TRUE(expanded->Equals(again.get())) << "expanding effective paths changes nothing";

    a.Assign(nullptr);
    EXPECT_EQ(a.HttpSettings().Login, "Operator");
}

TEST(VitrelleCenterSettings, AnUpdateTimeFromAnotherSystemIsReadOrReported)
{
    TTempFolder folder;
    TVitrelleCenterSettings settings(folder.Path());
    TLogCapture log;
    const QString twelveHour = folder.Write(
        "a.xml",
        "<VitrelleCenter><VitrelleUpdateTime Periodicity=\"0\" Time=\"5:30:00 PM\"/></VitrelleCenter>");
    ASSERT_TRUE(settings.LoadFromFile(twelveHour));
    EXPECT_EQ(settings.VitrelleUpdateTime().Time, QTime(17, 30));
    EXPECT_TRUE(log.Lines().isEmpty());

    const QString unreadable = folder.Write(
        "b.xml",
        "<VitrelleCenter>\n<VitrelleUpdateTime Periodicity=\"0\" Time=\"half past five\"/></VitrelleCenter>");
    ASSERT_TRUE(settings.LoadFromFile(unreadable));
    EXPECT_EQ(log.Lines(),
              QStringList{"[2] TVitrelleCenterSettings: Cannot read the time of day 'half past five' "
                          "of the VitrelleUpdateTime element in line 2: 00:00:00 is used"});
}

// A run killed while writing leaves temporary files wherever it wrote; the next start removes them from the
// application folder, the device folder and the whole cache, and leaves the real files.
TEST(VitrelleCenterSettings, LeftoverFilesOfAKilledRunAreRemoved)
{
    TTempFolder folder;
    const QStringList leftovers{".vctmp.Aa0001", "Devices/.vctmp.Bb0002", "Cache/.vctmp.Cc0003",
                                "Cache/Photo/media/.vctmp.Dd0004", "Cache/VitrelleList.xml.download"};
    const QStringList kept{"VitrelleCenter.xml", "Schedule.xml", "Devices/DEVICE1.xml", "Cache/17.xml",
                           "Cache/Photo/media/a.jpg"};
    for (const QString& name : leftovers + kept)
        folder.Write(name, "x");
    const TVitrelleCenterSettings settings(folder.Path());
    settings.RemoveLeftoverFiles();
    for (const QString& name : leftovers)
        EXPECT_FALSE(QFileInfo::exists(folder.File(name))) << name.toStdString();
    for (const QString& name : kept)
        EXPECT_TRUE(QFileInfo::exists(folder.File(name))) << name.toStdString();
}

// The cache receives whatever the content server sends, so it must not overlap the folders of the program's
// own files: with the folders as set (existing folders, a symbolic link among them) and the conflict told.
struct TFolderCase
{
    const char* Why;
    const char* Cache;   // relative to the application folder; "/.." for its parent; empty: the default
    const char* Devices; // the same, for the device folder
    const char* Templates;
    const char* List;     // the list file, when set
    const char* Conflict; // the start of the conflict's text; empty: none
    friend void PrintTo(const TFolderCase& c, std::ostream* os) { *os << c.Why; }
};

class VitrelleCenterSettingsFolders : public ::testing::TestWithParam<TFolderCase>
{
};

TEST_P(VitrelleCenterSettingsFolders, TheCacheMayNotOverlapTheProgramsFolders)
{
    TTempFolder app;
    for (const char* folder :
         {"Cache", "Devices", "Templates", "Devices/sub", "Templates/sub", "Cache/sub", "elsewhere"})
        ASSERT_TRUE(QDir().mkpath(app.File(folder)));
    ASSERT_TRUE(QFile::link(app.Path(), app.File("link-to-app")));
    ASSERT_TRUE(QFile::link(app.File("Devices"), app.File("Cache/link-to-devices")));
    app.Write("VitrelleCenter.xml", "<VitrelleCenter/>");
    app.Write("mine.xml", "<Vitrelles/>");
    app.Write("Devices/list.xml", "<Vitrelles/>");
    app.Write("elsewhere/list.xml", "<Vitrelles/>");
    const auto path = [&](const char* relative) {
        const QString text = QString::fromLatin1(relative);
        return text.isEmpty() ? text : QDir::cleanPath(app.Path() + "/" + text);
    };
    TVitrelleCenterSettings settings(app.Path());
    settings.SetRepositoryPath(path(GetParam().Cache));
    settings.SetDevicePath(path(GetParam().Devices));
    settings.SetTemplatePath(path(GetParam().Templates));
    settings.SetVitrelleListFilePath(path(GetParam().List));
    const QString conflict = settings.FolderConflict();
    const QString expected = QString::fromLatin1(GetParam().Conflict).replace("{app}", app.Path());
    if (expected.isEmpty())
        EXPECT_TRUE(conflict.isEmpty()) << conflict.toStdString();
    else
        EXPECT_TRUE(conflict.startsWith(expected)) << conflict.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VitrelleCenterSettingsFolders,
    ::testing::Values(
        TFolderCase{"the defaults", "", "", "", "", ""},
        TFolderCase{"a sub-folder of the application folder", "elsewhere", "", "", "elsewhere/list.xml", ""},
        TFolderCase{"the application folder", ".", "", "", "",
                    "The cache folder {app}/ is the application folder"},
        TFolderCase{"a link to the application folder", "link-to-app", "", "", "",
                    "The cache folder {app}/link-to-app/ is the application folder"},
        TFolderCase{"a folder that contains the application folder", "..", "", "", "", "The cache folder "},
        TFolderCase{"the device folder", "Devices", "Devices", "", "",
                    "The cache folder {app}/Devices/ is the device folder {app}/Devices/"},
        TFolderCase{"inside the device folder", "Devices/sub", "", "", "",
                    "The cache folder {app}/Devices/sub/ lies inside the device folder {app}/Devices/"},
        TFolderCase{"a link into the device folder", "Cache/link-to-devices", "", "", "",
                    "The cache folder {app}/Cache/link-to-devices/ is the device folder"},
        TFolderCase{"containing the device folder", "", "Cache/sub", "", "",
                    "The cache folder {app}/Cache/ contains the device folder {app}/Cache/sub/"},
        TFolderCase{"the template folder", "Templates", "", "", "",
                    "The cache folder {app}/Templates/ is the template folder"},
        TFolderCase{"inside the template folder", "Templates/sub", "", "", "",
                    "The cache folder {app}/Templates/sub/ lies inside the template folder"},
        TFolderCase{"containing the template folder", "", "", "Cache/sub", "",
                    "The cache folder {app}/Cache/ contains the template folder {app}/Cache/sub/"},
        TFolderCase{"a list file in the application folder", "", "", "", "mine.xml",
                    "The vitrelle list file {app}/mine.xml lies in the application folder"},
        TFolderCase{"the settings file as list file", "", "", "", "VitrelleCenter.xml",
                    "The vitrelle list file {app}/VitrelleCenter.xml lies in the application folder"},
        TFolderCase{"a list file in the device folder", "", "", "", "Devices/list.xml",
                    "The vitrelle list file {app}/Devices/list.xml lies inside the device folder"}),
    [](const auto& info) { return CaseName(info.index, info.param.Why); });
