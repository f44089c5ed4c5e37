// Names from the content server become file names in the cache: none may make the program take the server's
// bytes for something else (a slide page it renders, one of its own files).

#include "Errors.h"
#include "RepositoryFixture.h"

#include <QDir>
#include <QFileInfo>

#include <functional>

namespace {

const QByteArray Hostile = "<script>fetch('../../VitrelleCenter.xml')</script>";

// Slide types that keep their media where an operator could point them by mistake: in the cache folder
// itself and in a device folder set inside the cache.
const QByteArray MoreTypes = "<DiapositiveTypes>"
                             "<DiapositiveType><Name>Up</Name><MediaURL>{server}/media/%s</MediaURL>"
                             "<MediaDir>..</MediaDir></DiapositiveType>"
                             "<DiapositiveType><Name>Dev</Name><MediaURL>{server}/media/%s</MediaURL>"
                             "<MediaDir>../Devices</MediaDir></DiapositiveType>"
                             "<DiapositiveType><Name>Framed</Name><URL>{server}/templates/Framed/%s</URL>"
                             "<Resource id=\"frame.html\"/></DiapositiveType>"
                             "</DiapositiveTypes>";

class ServerNames : public RepositoryTest
{
protected:
    void SetUp() override
    {
        RepositoryTest::SetUp();
        ASSERT_TRUE(TDiapositiveType::LoadTypes(App.Write(
            "Templates/More.xml", QByteArray(MoreTypes).replace("{server}", Server.BaseUrl().toUtf8()))));
    }
    // The list file as if fetched earlier, naming one vitrelle.
    void ListOnly(const QString& id)
    {
        App.Write(QDir(App.Path()).relativeFilePath(Settings->GetVitrelleListFilePath()),
                  "<Vitrelles><Vitrelle id=\"" + id.toUtf8() + "\" name=\"Named\"/></Vitrelles>");
    }
    // The file with its bytes and permissions, to compare before and after.
    static QString State(const QString& path)
    {
        return QString::fromUtf8(ReadFileBytes(path).toHex()) + "/" +
               QString::number(static_cast<int>(QFile::permissions(path)), 16);
    }
};

// ---- a media file named like a page ----

struct TPageCase
{
    const char* Why;
    const char* Type;   // the first slide's type
    const char* Media;  // its media's name
    const char* Stored; // where the media is cached; null: refused
    friend void PrintTo(const TPageCase& c, std::ostream* os) { *os << c.Why; }
};

class MediaNamedLikeAPage : public ServerNames, public ::testing::WithParamInterface<TPageCase>
{
};

TEST_P(MediaNamedLikeAPage, NeverTakesThePlaceOfARenderedPage)
{
    const TPageCase& c = GetParam();
    const QString media = QString::fromLatin1(c.Media);
    const bool photo = QLatin1String(c.Type) == QLatin1String("Photo");
    const QString mark = photo ? "image" : "picture";
    Server.SetFile("/vitrelles/pages.xml",
                   ("<Vitrelle name=\"Pages\"><Diapositive id=\"v1\" type=\"" + QString(c.Type) + "\"><" +
                    mark + " id=\"" + media +
                    "\"/></Diapositive><Diapositive id=\"v2\" type=\"Text\"><Line>two</Line>"
                    "</Diapositive></Vitrelle>")
                       .toUtf8());
    const QString mediaPath = (photo ? QString("/media/") : QString("/templates/Text/")) + media;
    Server.SetFile(mediaPath, Hostile);
    ListOnly("pages");
    // The next slide's page as the player rendered it.
    const QString page = App.Write("Cache/Text/v2.html", "rendered page");

    ASSERT_NE(Repository->LoadList(), nullptr);
    const std::shared_ptr<TVitrelle> vitrelle = Repository->GetVitrelle("pages");
    ASSERT_NE(vitrelle, nullptr) << LogText(Log);
    TVitrelleDownloader* downloader = Repository->GetDownloader("pages");
    ASSERT_TRUE(WaitForMedia(*downloader));

    EXPECT_EQ(ReadFileBytes(page), "rendered page");
    EXPECT_EQ(Repository->DiapositiveFilePath(vitrelle->DiapositiveAt(1)), page);
    const TVitrelleResource* resource = vitrelle->DiapositiveAt(0)->Resources.at(0).get();
    const QStringList refusals =
        ErrorLines(Log).filter("Media file '" + media + "' of vitrelle ID = 'pages'");
    if (c.Stored == nullptr) {
        EXPECT_EQ(resource->Status, TVitrelleResource::Failed);
        EXPECT_EQ(Server.Requests(mediaPath), 0) << "a refused name is not asked for";
        EXPECT_EQ(refusals.size(), 1) << LogText(Log);
        EXPECT_TRUE(refusals.join("").contains("slide page")) << LogText(Log);
        if (Cache("Text/" + media) != page) {
            EXPECT_FALSE(QFile::exists(Cache("Text/" + media)));
        }
    } else {
        EXPECT_EQ(resource->Status, TVitrelleResource::Present) << LogText(Log);
        EXPECT_EQ(ReadFileBytes(Cache(c.Stored)), Hostile);
        EXPECT_TRUE(refusals.isEmpty()) << LogText(Log);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MediaNamedLikeAPage,
    ::testing::Values(TPageCase{"the next slide's page", "Text", "v2.html", nullptr},
                      TPageCase{"the next slide's page in capitals", "Text", "V2.HTML", nullptr},
                      TPageCase{"a page no slide has yet", "Text", "later.Html", nullptr},
                      TPageCase{"a picture beside the pages", "Text", "v2.png", "Text/v2.png"},
                      TPageCase{"an html file in a media folder", "Photo", "v2.html", "Photo/img/v2.html"}),
    [](const auto& info) { return CaseName(info.index, info.param.Why); });

// A type's own files are named by the operator's types file and keep working, an HTML one too; a slide
// named after one (by the server) would show that file as its page, so its page is refused.
TEST_F(ServerNames, ASlideNamedAfterItsTypesOwnFileHasNoPage)
{
    Server.SetFile("/templates/Framed/frame.html", "<p>the template's frame</p>");
    Server.SetFile("/vitrelles/framed.xml",
                   "<Vitrelle name=\"Framed\"><Diapositive id=\"frame\" type=\"Framed\"/>"
                   "<Diapositive id=\"FRAME\" type=\"Framed\"/>"
                   "<Diapositive id=\"other\" type=\"Framed\"/></Vitrelle>");
    ListOnly("framed");
    ASSERT_NE(Repository->LoadList(), nullptr);
    const std::shared_ptr<TVitrelle> vitrelle = Repository->GetVitrelle("framed");
    ASSERT_NE(vitrelle, nullptr) << LogText(Log);
    ASSERT_TRUE(WaitForMedia(*Repository->GetDownloader("framed")));

    EXPECT_EQ(ReadFileBytes(Cache("Framed/frame.html")), "<p>the template's frame</p>");
    EXPECT_TRUE(Repository->DiapositiveFilePath(vitrelle->DiapositiveAt(0)).isEmpty());
    EXPECT_TRUE(Repository->DiapositiveFilePath(vitrelle->DiapositiveAt(1)).isEmpty());
    EXPECT_EQ(Repository->DiapositiveFilePath(vitrelle->DiapositiveAt(2)), Cache("Framed/other.html"));
    EXPECT_EQ(ErrorLines(Log).filter("would be the resource of type 'Framed': refused").size(), 2)
        << LogText(Log);
}

// ---- names that aim at the program's own files ----

struct TOwnFileCase
{
    const char* Why;
    std::function<void(ServerNames&, TVitrelleCenterSettings&, TTempFolder&, TTestContentServer&)> Arrange;
    const char* Id;        // the vitrelle the list names
    const char* Protected; // relative to the application folder: must stay as it is (or absent)
    const char* Request;   // what the server must not be asked for
    const char* Logged;    // in the level-1 refusal
    friend void PrintTo(const TOwnFileCase& c, std::ostream* os) { *os << c.Why; }
};

class NamesAimingAtOwnFiles : public ServerNames, public ::testing::WithParamInterface<TOwnFileCase>
{
};

TEST_P(NamesAimingAtOwnFiles, AreRefusedAndLeaveThemAsTheyWere)
{
    const TOwnFileCase& c = GetParam();
    QStringList own;
    for (const char* name :
         {"VitrelleCenter.xml", "Schedule.xml", "ScheduleState.xml", "Devices/DEVICE1.xml"})
        own << App.Write(name, QByteArray("<kept>") + name + "</kept>");
    for (const QString& file : own)
        ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
    c.Arrange(*this, *Settings, App, Server);
    ListOnly(QString::fromLatin1(c.Id));
    const QString target = App.File(c.Protected);
    if (QFile::exists(target))
        own << target;
    QStringList before;
    for (const QString& file : own)
        before << State(file);

    ASSERT_NE(Repository->LoadList(), nullptr) << LogText(Log);
    if (Repository->GetVitrelle(c.Id) != nullptr) {
        // Fetched, then everything fetched again, which deletes what was cached first.
        TVitrelleDownloader* downloader = Repository->GetDownloader(c.Id);
        ASSERT_TRUE(WaitForMedia(*downloader));
        EXPECT_TRUE(downloader->Update()) << LogText(Log);
        ASSERT_TRUE(WaitForMedia(*downloader));
    }

    QStringList after;
    for (const QString& file : own)
        after << State(file);
    EXPECT_EQ(after, before);
    if (!own.contains(target)) {
        EXPECT_FALSE(QFile::exists(target));
    }
    EXPECT_EQ(Server.Requests(c.Request), 0);
    EXPECT_FALSE(ErrorLines(Log).filter(QString::fromLatin1(c.Logged)).isEmpty()) << LogText(Log);
}

void CacheInTheApplicationFolder(ServerNames&, TVitrelleCenterSettings& settings, TTempFolder& app,
                                 TTestContentServer&)
{
    settings.SetRepositoryPath(app.Path());
}

// A vitrelle m whose one slide, of the type, shows the media.
void MediaOfType(TTestContentServer& server, const char* type, const char* media)
{
    server.SetFile("/vitrelles/m.xml", QByteArray("<Vitrelle name=\"M\"><Diapositive id=\"s\" type=\"") +
                                           type + "\"><image id=\"" + media +
                                           "\"/></Diapositive></Vitrelle>");
    server.SetFile(QString("/media/") + media, Hostile);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NamesAimingAtOwnFiles,
    ::testing::Values(
        TOwnFileCase{"vitrelle VitrelleCenter with the cache in the application folder",
                     CacheInTheApplicationFolder, "VitrelleCenter", "VitrelleCenter.xml",
                     "/vitrelles/VitrelleCenter.xml", "Vitrelle ID 'VitrelleCenter' would write"},
        TOwnFileCase{"vitrelle Schedule with the cache in the application folder",
                     CacheInTheApplicationFolder, "Schedule", "Schedule.xml", "/vitrelles/Schedule.xml",
                     "Vitrelle ID 'Schedule' would write"},
        TOwnFileCase{"vitrelle ScheduleState with the cache in the application folder",
                     CacheInTheApplicationFolder, "ScheduleState", "ScheduleState.xml",
                     "/vitrelles/ScheduleState.xml", "Vitrelle ID 'ScheduleState' would write"},
        TOwnFileCase{"vitrelle ../x", [](auto&...) {}, "../x", "x.xml", "/vitrelles/../x.xml",
                     "Vitrelle ID '../x' is not a plain file name"},
        TOwnFileCase{"a media file into the device folder",
                     [](ServerNames&, TVitrelleCenterSettings& settings, TTempFolder& app,
                        TTestContentServer& server) {
                         settings.SetDevicePath(
                             QFileInfo(app.Write("Cache/Devices/DEVICE2.xml", "<kept/>")).path());
                         MediaOfType(server, "Dev", "DEVICE2.xml");
                     },
                     "m", "Cache/Devices/DEVICE2.xml", "/media/DEVICE2.xml",
                     "Media file 'DEVICE2.xml' of vitrelle ID = 'm': it would be"},
        TOwnFileCase{
            "a media file named after a cached vitrelle file",
            [](ServerNames&, TVitrelleCenterSettings&, TTempFolder& app, TTestContentServer& server) {
                app.Write("Cache/17.xml", ReadFileBytes(TestDataPath("repository/17.xml")));
                MediaOfType(server, "Up", "17.xml");
            },
            "m", "Cache/17.xml", "/media/17.xml",
            "Media file '17.xml' of vitrelle ID = 'm': it would take the place of a vitrelle file"},
        TOwnFileCase{"a media file named after the list file",
                     [](ServerNames&, TVitrelleCenterSettings&, TTempFolder&, TTestContentServer& server) {
                         MediaOfType(server, "Up", "VitrelleList.xml");
                     },
                     "m", "Cache/VitrelleList.xml", "/media/VitrelleList.xml",
                     "Media file 'VitrelleList.xml' of vitrelle ID = 'm': it would take the place of the "
                     "vitrelle list file"}),
    [](const auto& info) { return CaseName(info.index, info.param.Why); });

// With the cache in the application folder (an operator's slip the settings refuse, met here as if it had
// got through), the server's list is not fetched there either: it would lie beside the settings.
TEST_F(ServerNames, TheListIsNotFetchedIntoTheApplicationFolder)
{
    Settings->SetRepositoryPath(App.Path());
    try {
        Repository->DownloadList();
        FAIL() << "the list was fetched";
    } catch (const EVitrelleError& error) {
        EXPECT_TRUE(error.Message().startsWith("The vitrelle list is not downloaded into " + App.Path() +
                                               "/VitrelleList.xml: it lies in the application folder"))
            << error.Message().toStdString();
    }
    EXPECT_EQ(Server.TotalRequests(), 0);
    EXPECT_FALSE(QFile::exists(App.File("VitrelleList.xml")));
}

} // namespace
