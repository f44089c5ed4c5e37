#include "ContentFixture.h"
#include "Errors.h"

using VitrelleList = ContentTest;

TEST_F(VitrelleList, LoadsEntriesInFileOrder)
{
    const QString path =
        Folder.Write("VitrelleList.xml",
                     "<VITRELLES><Vitrelle id=\"abc\" name=\"Lobby\"/><Other id=\"x\"/>text"
                     "<vitrelle id=\"dup\"/><Vitrelle id=\"dup\" name=\"second\"/><!-- c --></VITRELLES>");
    TVitrelleList list;
    ASSERT_TRUE(list.LoadFromFile(path));
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.At(0)->Id, "abc");
    EXPECT_EQ(list.At(0)->Name, "Lobby");
    EXPECT_EQ(list.At(0)->Index, -1);
    EXPECT_EQ(list.At(1)->Name, "") << "no name attribute";
    EXPECT_EQ(list.FindById("dup"), list.At(1)) << "the first of two equal ids";
    EXPECT_EQ(list.FindById("ABC"), list.At(0));
    EXPECT_EQ(list.IndexOfId("ABC"), -1);
    EXPECT_EQ(list.IndexOfId("abc"), 0);
    EXPECT_EQ(list.FindByName("LOBBY"), list.At(0));
    EXPECT_EQ(list.FindById("missing"), nullptr);
    EXPECT_THROW(list.At(3), EOutOfRange);
    EXPECT_TRUE(Log.Events().empty());
}

TEST_F(VitrelleList, ForeignRootLeavesTheListAsItWas)
{
    TVitrelleList list;
    ASSERT_TRUE(list.LoadFromFile(Folder.Write("a.xml", "<Vitrelles><Vitrelle id=\"kept\"/></Vitrelles>")));
    EXPECT_FALSE(list.LoadFromFile(Folder.Write("b.xml", "<Playlists><Vitrelle id=\"x\"/></Playlists>")));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.At(0)->Id, "kept");
    EXPECT_TRUE(Log.Events().empty());
}

TEST_F(VitrelleList, FailuresAreLoggedAndRaised)
{
    TVitrelleList list;
    ASSERT_TRUE(list.LoadFromFile(Folder.Write("a.xml", "<Vitrelles><Vitrelle id=\"kept\"/></Vitrelles>")));
    const QString missing = Folder.File("missing.xml");
    EXPECT_THROW(
        {
            try {
                list.LoadFromFile(missing);
            } catch (const EVitrelleError& error) {
                EXPECT_EQ(error.Message(), "Cannot find vitrelle " + missing);
                throw;
            }
        },
        EVitrelleError);
    const QString broken = Folder.Write("broken.xml", "<Vitrelles>\n<Vitrelle id=\"x\">\n</Vitrelles>");
    EXPECT_THROW(list.LoadFromFile(broken), EVitrelleError);
    ASSERT_EQ(Log.Lines().size(), 2);
    EXPECT_EQ(Log.Lines().at(0), "[1] TVitrelleList: Cannot find vitrelle " + missing);
    EXPECT_TRUE(Log.Lines().at(1).startsWith("[1] TVitrelleList: Error while parsing vitrelle list " +
                                             broken + " in line 3: "))
        << Log.Lines().at(1).toStdString();
    EXPECT_EQ(list.Count(), 1);
}

TEST_F(VitrelleList, AParseErrorNamesTheLineOfTheDamage)
{
    const QString path =
        Folder.Write("VitrelleList.xml", ReadFileBytes(TestDataPath("xml/wrong_end_tag.xml")));
    TVitrelleList list;
    EXPECT_THROW(list.LoadFromFile(path), EVitrelleListError);
    ASSERT_EQ(Log.Lines().size(), 1);
    EXPECT_EQ(Log.Lines().at(0),
              "[1] TVitrelleList: Error while parsing vitrelle list " + path +
                  " in line 5: Opening and ending tag mismatch: Vitrelle line 4 and Vitrelles");
}

TEST_F(VitrelleList, ListedVitrellesStayAliveWhileHeld)
{
    TVitrelleList list;
    ASSERT_TRUE(
        list.LoadFromFile(Folder.Write("a.xml", "<Vitrelles><Vitrelle id=\"a\" name=\"n\"/></Vitrelles>")));
    std::shared_ptr<TVitrelle> held = list.SharedById("A");
    ASSERT_TRUE(list.LoadFromFile(Folder.Write("b.xml", "<Vitrelles><Vitrelle id=\"b\"/></Vitrelles>")));
    EXPECT_EQ(list.FindById("a"), nullptr);
    EXPECT_EQ(held->Name, "n");
}
