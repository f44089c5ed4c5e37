#include "ContentFixture.h"
#include "Errors.h"
#include "Sequence.h"

#include <QFile>

#include <sys/stat.h>

using VitrelleFile = ContentTest;

namespace {
QStringList Ids(const std::vector<TDiapositive*>& slides)
{
    QStringList ids;
    for (const TDiapositive* slide : slides)
        ids << slide->Id;
    return ids;
}
} // namespace

TEST_F(VitrelleFile, ChildrenAreNumberedAmongSlidesAndNestedVitrelles)
{
    RegisterTypesAB();
    auto vitrelle =
        Load("<vitrelle name=\"Shop\"><Diapositive id=\"s0\" type=\"a\"/>"
             "<Sequence duration=\"5000\"/><Other/><VITRELLE/><diapositive id=\"s2\" type=\"Unknown\"/>"
             "</vitrelle>",
             "42.xml");
    EXPECT_EQ(vitrelle->Id, "42") << "the id comes from the file name";
    EXPECT_EQ(vitrelle->Name, "Shop");
    ASSERT_EQ(vitrelle->EntryCount(), 3);
    EXPECT_EQ(vitrelle->Entities().at(0)->Index, 0);
    EXPECT_EQ(vitrelle->Entities().at(1)->Index, 1);
    EXPECT_EQ(vitrelle->Entities().at(2)->Index, 2);
    ASSERT_EQ(vitrelle->Diapositives().size(), 2u);
    EXPECT_EQ(vitrelle->DiapositiveAt(0)->DiapositiveType, TDiapositiveType::FindType("A"));
    EXPECT_EQ(vitrelle->DiapositiveAt(1)->DiapositiveType, nullptr) << "kept without a type";
    EXPECT_EQ(vitrelle->DiapositiveAt(1)->TypeName, "Unknown");
    EXPECT_EQ(vitrelle->NestedVitrelles().Count(), 1);
    EXPECT_FALSE(vitrelle->NestedVitrelles().At(0)->HasContent());
    ASSERT_NE(vitrelle->Sequence(), nullptr);
    EXPECT_EQ(vitrelle->Sequence()->Duration, 5000);
    EXPECT_THROW(vitrelle->DiapositiveAt(2), EOutOfRange);
    EXPECT_THROW(vitrelle->DiapositiveAt(-1), EOutOfRange);
    // The slide's element is the whole slide: what the template reads.
    EXPECT_EQ(vitrelle->DiapositiveAt(0)->Node.Attribute("id"), "s0");
}

TEST_F(VitrelleFile, MediaElementsBecomeResources)
{
    RegisterTypes(
        "<DiapositiveType><Name>Photo</Name><URL>http://s/t/%s</URL><MediaURL>http://s/m/%s</MediaURL>"
        "<MediaDir>media</MediaDir></DiapositiveType>"
        "<DiapositiveType><Name>Text</Name><URL>http://s/text/%s</URL><MediaMark>picture</MediaMark>"
        "</DiapositiveType>");
    auto vitrelle =
        Load("<Vitrelle><Diapositive id=\"p\" type=\"photo\"><image id=\"a.jpg\"/><Image id=\"b.jpg\" "
             "src=\"http://cdn/%s\"/><picture id=\"not-a-mark.jpg\"/><caption>x</caption></Diapositive>"
             "<Diapositive id=\"t\" type=\"Text\"><Picture id=\"c.png\"/><image id=\"d.png\"/></Diapositive>"
             "<Diapositive id=\"u\" type=\"none\"><image id=\"e.png\"/></Diapositive></Vitrelle>");
    const auto& photo = vitrelle->DiapositiveAt(0)->Resources;
    ASSERT_EQ(photo.size(), 2u);
    EXPECT_EQ(photo[0]->Id, "a.jpg");
    EXPECT_EQ(photo[0]->Src, "http://s/m/%s");
    EXPECT_EQ(photo[0]->Folder, "Photo/media");
    EXPECT_EQ(photo[0]->Status, TVitrelleResource::NotExamined);
    EXPECT_EQ(photo[1]->Src, "http://cdn/%s");
    const auto& text = vitrelle->DiapositiveAt(1)->Resources;
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(text[0]->Id, "c.png");
    EXPECT_EQ(text[0]->Src, "http://s/text/%s") << "no media URL: the type's URL";
    EXPECT_TRUE(vitrelle->DiapositiveAt(2)->Resources.empty()) << "no registered type, no resources";
}

TEST_F(VitrelleFile, ReloadingInPlaceGivesTheSameContentAndKeepsTheSequenceObject)
{
    RegisterTypesAB();
    const QByteArray content =
        "<Vitrelle name=\"n\"><Diapositive id=\"a\" type=\"A\"/><Diapositive id=\"b\" type=\"B\"/>"
        "<Sequence><playDiapositive type=\"A\"/></Sequence>"
        "<Sequence><playDiapositive type=\"B\"/><playDiapositive type=\"B\"/></Sequence></Vitrelle>";
    auto vitrelle = Load(content);
    TSequence* sequence = vitrelle->Sequence();
    ASSERT_NE(sequence, nullptr);
    EXPECT_EQ(sequence->Items().size(), 1u) << "only the first Sequence counts";
    ASSERT_TRUE(vitrelle->LoadFromFile(Folder.File("v.xml")));
    EXPECT_EQ(vitrelle->Sequence(), sequence);
    EXPECT_EQ(sequence->Items().size(), 1u);
    EXPECT_EQ(Ids(vitrelle->AllDiapositives()), QStringList({"a", "b"}));

    // A reload without a Sequence element empties the sequence but keeps the object.
    WriteVitrelle("v.xml", "<Vitrelle><Diapositive id=\"c\" type=\"A\"/></Vitrelle>");
    ASSERT_TRUE(vitrelle->LoadFromFile(Folder.File("v.xml")));
    EXPECT_EQ(vitrelle->Sequence(), sequence);
    EXPECT_TRUE(sequence->Items().empty());
    EXPECT_EQ(vitrelle->Name, "");
    EXPECT_EQ(Ids(vitrelle->AllDiapositives()), QStringList({"c"}));
}

TEST_F(VitrelleFile, BrokenFilesLeaveTheContentAndSayWhy)
{
    auto vitrelle = Load("<Vitrelle name=\"good\"><Diapositive id=\"a\"/></Vitrelle>", "7.xml");
    Log.Clear();

    EXPECT_FALSE(vitrelle->LoadFromFile(Folder.File("missing.xml")));
    EXPECT_EQ(vitrelle->Id, "7");

    const QString broken = WriteVitrelle("99.xml", "<Vitrelle>\n<Diapositive id=\"x\">\n");
    EXPECT_FALSE(vitrelle->LoadFromFile(broken));
    EXPECT_EQ(vitrelle->Id, "99") << "set before the parse result is looked at";
    EXPECT_EQ(vitrelle->Name, "good");
    EXPECT_EQ(vitrelle->EntryCount(), 1);

    EXPECT_FALSE(vitrelle->LoadFromFile(WriteVitrelle("abc.xml", "<Playlist name=\"x\"/>")));
    EXPECT_EQ(vitrelle->Id, "abc");
    EXPECT_EQ(vitrelle->Name, "good");

    EXPECT_TRUE(vitrelle->LoadFromFile(WriteVitrelle(".xml", "<Vitrelle/>")));
    EXPECT_EQ(vitrelle->Id, "") << "a name of four characters or fewer gives an empty id";

    const QStringList lines = Log.Lines();
    ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.at(0), "[1] TVitrelle: Cannot find vitrelle " + Folder.File("missing.xml"));
    EXPECT_TRUE(
        lines.at(1).startsWith("[1] TVitrelle: Error while parsing vitrelle " + broken + " in line 3: "))
        << lines.at(1).toStdString();
}

TEST_F(VitrelleFile, HostileFilesAreHandled)
{
    // An entity that would read a local file, and an expansion bomb.
    auto vitrelle = std::make_shared<TVitrelle>("x", -1);
    EXPECT_TRUE(vitrelle->LoadFromFile(WriteVitrelle(
        "xxe.xml", "<!DOCTYPE Vitrelle [<!ENTITY s SYSTEM \"file:///etc/passwd\">]>"
                   "<Vitrelle><Diapositive id=\"a\"><Text>&s;</Text></Diapositive></Vitrelle>")));
    EXPECT_FALSE(vitrelle->DiapositiveAt(0)->Node.Text().contains("root:"));
    EXPECT_FALSE(vitrelle->LoadFromFile(TestDataPath("xml/billion_laughs.xml")));
    EXPECT_TRUE(Log.Lines().last().contains("Error while parsing vitrelle"))
        << Log.Lines().last().toStdString();
}

TEST_F(VitrelleFile, NestedVitrellesCountTheirSlidesAndTypes)
{
    RegisterTypesAB();
    WriteVitrelle("inner.xml",
                  "<Vitrelle name=\"Inner\"><Diapositive id=\"i0\" type=\"A\"/>"
                  "<Diapositive id=\"i1\" type=\"A\"/><Diapositive id=\"i2\" type=\"A\"/></Vitrelle>");
    auto vitrelle = Load(
        "<Vitrelle><Diapositive id=\"o0\" type=\"A\"/><Vitrelle xml=\"" + Folder.File("inner.xml").toUtf8() +
        "\"/><Diapositive id=\"o1\" type=\"B\"/><Diapositive id=\"o2\" type=\"A\"/></Vitrelle>");
    EXPECT_EQ(vitrelle->EntryCount(), 4);
    EXPECT_EQ(Ids(vitrelle->AllDiapositives()), QStringList({"o0", "o1", "o2", "i0", "i1", "i2"}));
    const std::vector<TDiapositiveType*> expected = {
        TDiapositiveType::FindType("A"), TDiapositiveType::FindType("B"), TDiapositiveType::FindType("A")};
    EXPECT_EQ(vitrelle->UsedTypes(), expected);
    EXPECT_EQ(vitrelle->FindNested("INNER"), vitrelle->NestedVitrelles().At(0));
    EXPECT_EQ(vitrelle->FindNested("INNER")->Id, "inner");
    EXPECT_EQ(vitrelle->FindNested("other"), nullptr);
}

TEST_F(VitrelleFile, AFileThatNamesItselfIsNotLoadedAgain)
{
    const QString self = Folder.File("self.xml");
    WriteVitrelle("self.xml", "<Vitrelle name=\"Self\"><Diapositive id=\"a\"/><Vitrelle xml=\"" +
                                  self.toUtf8() + "\"/></Vitrelle>");
    WriteVitrelle("ping.xml", "<Vitrelle name=\"Ping\"><Vitrelle xml=\"" + Folder.File("pong.xml").toUtf8() +
                                  "\"/></Vitrelle>");
    WriteVitrelle("pong.xml", "<Vitrelle name=\"Pong\"><Vitrelle xml=\"" + Folder.File("ping.xml").toUtf8() +
                                  "\"/></Vitrelle>");
    auto vitrelle = std::make_shared<TVitrelle>("", -1);
    ASSERT_TRUE(vitrelle->LoadFromFile(self));
    ASSERT_EQ(vitrelle->NestedVitrelles().Count(), 1);
    EXPECT_FALSE(vitrelle->NestedVitrelles().At(0)->HasContent()) << "the nested one stays, empty";
    EXPECT_EQ(Log.Lines().size(), 1);
    EXPECT_TRUE(Log.Lines().at(0).startsWith("[2] TVitrelle: Vitrelle " + self + " is not loaded again"));

    ASSERT_TRUE(vitrelle->LoadFromFile(Folder.File("ping.xml")));
    const TVitrelle* pong = vitrelle->NestedVitrelles().At(0);
    EXPECT_EQ(pong->Name, "Pong");
    EXPECT_FALSE(pong->NestedVitrelles().At(0)->HasContent());
}

TEST_F(VitrelleFile, NestingStopsAtSixteenLevels)
{
    // v0 names v1, ..., v18 names v19: only v0 to v15 are loaded.
    for (int i = 0; i < 20; ++i) {
        const QByteArray next =
            i < 19 ? "<Vitrelle xml=\"" + Folder.File(QStringLiteral("v%1.xml").arg(i + 1)).toUtf8() + "\"/>"
                   : QByteArray();
        WriteVitrelle(QStringLiteral("v%1.xml").arg(i), "<Vitrelle name=\"" + QByteArray::number(i) +
                                                            "\"><Diapositive id=\"d\"/>" + next +
                                                            "</Vitrelle>");
    }
    auto vitrelle = std::make_shared<TVitrelle>("", -1);
    ASSERT_TRUE(vitrelle->LoadFromFile(Folder.File("v0.xml")));
    int depth = 1;
    const TVitrelle* current = vitrelle.get();
    while (current->NestedVitrelles().Count() == 1 && current->NestedVitrelles().At(0)->HasContent()) {
        current = current->NestedVitrelles().At(0);
        ++depth;
    }
    EXPECT_EQ(depth, TVitrelle::MaxNestingDepth);
    EXPECT_EQ(current->Name, "15");
    EXPECT_EQ(vitrelle->AllDiapositives().size(), 16u);
    ASSERT_EQ(Log.Lines().size(), 1);
    EXPECT_TRUE(
        Log.Lines().at(0).startsWith("[2] TVitrelle: Vitrelle " + Folder.File("v16.xml") + " is not loaded"));
}

// ---- nested vitrelle paths come from the server ----

struct TNestedCase
{
    const char* Name;
    const char* Xml;    // the "xml" attribute; {cache} and {folder} stand for those absolute folders
    const char* Loaded; // the nested vitrelle's name once loaded; null when refused
};

class NestedPath : public ContentTest, public ::testing::WithParamInterface<TNestedCase>
{
};

TEST_P(NestedPath, LiesInTheCacheOrTheTemplatesFolder)
{
    const QString cache = Folder.File("Cache");
    SetXmlReadableFolders({Folder.File("Templates"), cache});
    Folder.Write("Cache/inner.xml", "<Vitrelle name=\"Inner\"/>");
    Folder.Write("Cache/sub/deep.xml", "<Vitrelle name=\"Deep\"/>");
    Folder.Write("Templates/shared.xml", "<Vitrelle name=\"Shared\"/>");
    Folder.Write("outside.xml", "<Vitrelle name=\"Outside\"/>");
    ASSERT_TRUE(QFile::link(Folder.File("outside.xml"), Folder.File("Cache/link.xml")));
    const QString xml =
        QString::fromUtf8(GetParam().Xml).replace("{cache}", cache).replace("{folder}", Folder.Path());
    auto vitrelle = std::make_shared<TVitrelle>("outer", -1);
    ASSERT_TRUE(vitrelle->LoadFromFile(
        Folder.Write("Cache/outer.xml", "<Vitrelle><Vitrelle xml=\"" + xml.toUtf8() + "\"/></Vitrelle>")));
    ASSERT_EQ(vitrelle->NestedVitrelles().Count(), 1);
    const TVitrelle* nested = vitrelle->NestedVitrelles().At(0);
    const QStringList errors = Log.Lines().filter("[1] ");
    if (GetParam().Loaded != nullptr) {
        EXPECT_EQ(nested->Name, GetParam().Loaded) << Log.Lines().join('\n').toStdString();
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    } else {
        EXPECT_FALSE(nested->HasContent());
        EXPECT_EQ(nested->Name, "");
        ASSERT_EQ(errors.size(), 1) << Log.Lines().join('\n').toStdString();
        EXPECT_EQ(errors.at(0), "[1] TVitrelle: Nested vitrelle " + xml + " of " + cache +
                                    "/outer.xml lies outside the cache and template folders: refused");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, NestedPath,
    ::testing::Values(TNestedCase{"RelativeNameInTheCache", "inner.xml", "Inner"},
                      TNestedCase{"RelativeSubfolderOfTheCache", "sub/deep.xml", "Deep"},
                      TNestedCase{"AbsoluteInTheCache", "{cache}/inner.xml", "Inner"},
                      TNestedCase{"AbsoluteInTheTemplates", "{folder}/Templates/shared.xml", "Shared"},
                      TNestedCase{"RelativeUpwards", "../outside.xml", nullptr},
                      TNestedCase{"UpwardsAndBackIn", "sub/../../Cache/inner.xml", "Inner"},
                      TNestedCase{"AbsoluteOutside", "{folder}/outside.xml", nullptr},
                      TNestedCase{"LinkInTheCacheToOutside", "link.xml", nullptr}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(VitrelleFile, AMissingNestedFileIsReportedWhereItWasLookedFor)
{
    SetXmlReadableFolders({Folder.File("Cache")});
    auto vitrelle = std::make_shared<TVitrelle>("outer", -1);
    ASSERT_TRUE(vitrelle->LoadFromFile(
        Folder.Write("Cache/outer.xml", "<Vitrelle><Vitrelle xml=\"missing.xml\"/></Vitrelle>")));
    EXPECT_EQ(Log.Lines(),
              QStringList{"[1] TVitrelle: Cannot find vitrelle " + Folder.File("Cache/missing.xml")});
}

TEST_F(VitrelleFile, NestedFilesAreBoundedInNumberForOneVitrelle)
{
    // level0 names level1 ten times, level1 names level2 ten times, and so on: 10 + 100 + 1000 nested files.
    for (int level = 0; level < 3; ++level) {
        QByteArray nested;
        for (int i = 0; i < 10; ++i)
            nested += "<Vitrelle xml=\"level" + QByteArray::number(level + 1) + ".xml\"/>";
        WriteVitrelle(QStringLiteral("level%1.xml").arg(level),
                      "<Vitrelle name=\"" + QByteArray::number(level) + "\"><Diapositive id=\"d\"/>" +
                          nested + "</Vitrelle>");
    }
    WriteVitrelle("level3.xml", "<Vitrelle name=\"3\"><Diapositive id=\"d\"/></Vitrelle>");
    for (int round = 0; round < 2; ++round) { // the bound holds per load, not once for the thread
        auto vitrelle = std::make_shared<TVitrelle>("", -1);
        ASSERT_TRUE(vitrelle->LoadFromFile(Folder.File("level0.xml")));
        EXPECT_EQ(vitrelle->AllDiapositives().size(), 1u + TVitrelle::MaxNestedFiles);
    }
    const QString line = "[2] TVitrelle: Vitrelle " + Folder.File("level0.xml") + " names more than 256 " +
                         "nested vitrelle files: the others are not loaded";
    EXPECT_EQ(Log.Lines(), QStringList({line, line}));
}

TEST_F(VitrelleFile, OnlyRegularFilesAreRead)
{
    // A pipe would block the load until somebody writes to it; a device may never end.
    const QString pipe = Folder.File("pipe.xml");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    auto vitrelle = std::make_shared<TVitrelle>("", -1);
    EXPECT_FALSE(vitrelle->LoadFromFile(pipe));
    auto outer = Load("<Vitrelle><Vitrelle xml=\"pipe.xml\"/></Vitrelle>");
    EXPECT_FALSE(outer->NestedVitrelles().At(0)->HasContent());
    const QString line = "[1] TVitrelle: Vitrelle " + pipe + " is not a regular file: refused";
    EXPECT_EQ(Log.Lines(), QStringList({line, line}));
    TXmlDocument document;
    EXPECT_FALSE(document.LoadFromFile(pipe));
}

TEST_F(VitrelleFile, ListAndVitrelleFilesOverTheSizeLimitAreRefusedUnread)
{
    // Sparse: the size is there without the bytes, and nothing may read them.
    const QByteArray small = "<Vitrelle name=\"Small\"/>";
    const QString big = WriteVitrelle("big.xml", small);
    ASSERT_TRUE(QFile::resize(big, TVitrelle::MaxFileSize + 1));
    auto vitrelle = std::make_shared<TVitrelle>("", -1);
    EXPECT_FALSE(vitrelle->LoadFromFile(big));
    TVitrelleList list;
    EXPECT_THROW(list.LoadFromFile(big), EVitrelleListError);
    const QString size = QString::number(TVitrelle::MaxFileSize + 1);
    const QString limit = QString::number(TVitrelle::MaxFileSize);
    EXPECT_EQ(Log.Lines(), QStringList({"[1] TVitrelle: Vitrelle " + big + " is not read: it has " + size +
                                            " bytes, more than the limit of " + limit,
                                        "[1] TVitrelleList: Vitrelle list " + big + " is not read: it has " +
                                            size + " bytes, more than the limit of " + limit}));
    ASSERT_TRUE(QFile::resize(big, small.size()));
    EXPECT_TRUE(vitrelle->LoadFromFile(big));
    EXPECT_EQ(vitrelle->Name, "Small");
}
