#include "Errors.h"
#include "PeakMemory.h"
#include "TestFiles.h"
#include "XmlDocument.h"

#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QByteArray Bytes(const char* text)
{
    return QByteArray(text);
}

} // namespace

TEST(XmlDocument, ReadsElementsAttributesAndPaths)
{
    TXmlDocument document;
    ASSERT_TRUE(document.LoadFromBytes(Bytes("<Root a=\"1\">\n  <Item id=\"x\">first</Item>\n"
                                             "  <Group><Item id=\"y\">second</Item></Group>\n"
                                             "  <Item id=\"z\">th<b>ir</b>d</Item>\n</Root>")));
    const TXmlNode root = document.DocumentElement();
    EXPECT_EQ(root.Name(), "Root");
    EXPECT_EQ(root.Attribute("a"), "1");
    EXPECT_FALSE(root.HasAttribute("b"));
    EXPECT_EQ(root.SelectSingleNode("Item").Text(), "first");
    EXPECT_EQ(root.SelectSingleNode("Group/Item").Attribute("id"), "y");
    // Text content takes the text of every descendant.
    EXPECT_EQ(root.SelectNodes("Item").at(1).Text(), "third");
    const QList<TXmlNode> all = root.SelectNodes(".//Item");
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all.at(0).Attribute("id"), "x");
    EXPECT_EQ(all.at(1).Attribute("id"), "y");
    EXPECT_EQ(all.at(2).Attribute("id"), "z");
    // Whitespace between elements is not content.
    EXPECT_EQ(root.ChildElements().size(), 3);
    EXPECT_EQ(all.at(1).Line(), 3);
    EXPECT_TRUE(root.SelectSingleNode("Missing").IsNull());
    EXPECT_EQ(root.SelectSingleNode("@a").Text(), "1");
}

TEST(XmlDocument, InvalidXPathIsAnError)
{
    TXmlDocument document;
    ASSERT_TRUE(document.LoadFromBytes(Bytes("<Root/>")));
    EXPECT_THROW(document.DocumentElement().SelectSingleNode("Item[["), EXmlError);
    EXPECT_TRUE(TXmlNode().SelectSingleNode("Item").IsNull());
}

struct TBrokenFile
{
    const char* Name;
    int Line;                // of the first error: where the damage is, not where the parser gave up
    const char* Reason = ""; // a part of the reason
};

class XmlBrokenFiles : public ::testing::TestWithParam<TBrokenFile>
{
};

TEST_P(XmlBrokenFiles, GiveCodeLineAndReasonAndAnEmptyDocument)
{
    TXmlDocument document;
    ASSERT_TRUE(document.LoadFromBytes(Bytes("<Old/>")));
    EXPECT_FALSE(
        document.LoadFromFile(TestDataPath(QStringLiteral("xml/") + QString::fromLatin1(GetParam().Name))));
    const TXmlParseError& error = document.ParseError();
    EXPECT_NE(error.Code, 0);
    EXPECT_EQ(error.Line, GetParam().Line) << error.Reason.toStdString();
    EXPECT_FALSE(error.Reason.isEmpty());
    EXPECT_TRUE(error.Reason.contains(QString::fromUtf8(GetParam().Reason))) << error.Reason.toStdString();
    EXPECT_FALSE(error.Reason.endsWith('\n'));
    EXPECT_TRUE(document.DocumentElement().IsNull());
}

INSTANTIATE_TEST_SUITE_P(
    Files, XmlBrokenFiles,
    ::testing::Values(TBrokenFile{"unclosed_tag.xml", 4, "tag mismatch: DevicePath"},
                      TBrokenFile{"wrong_end_tag.xml", 5, "tag mismatch: Vitrelle line 4"},
                      TBrokenFile{"two_roots.xml", 2}, TBrokenFile{"empty.xml", 1},
                      TBrokenFile{"unescaped_ampersand.xml", 2}, TBrokenFile{"invalid_utf8.xml", 2},
                      TBrokenFile{"duplicate_attribute.xml", 2}, TBrokenFile{"not_xml.xml", 1}),
    [](const auto& info) {
        std::string name = info.param.Name;
        return name.substr(0, name.find('.'));
    });

TEST(XmlDocument, MissingFileIsAParseErrorNotACrash)
{
    TXmlDocument document;
    EXPECT_FALSE(document.LoadFromFile(QStringLiteral("/nonexistent/folder/file.xml")));
    EXPECT_NE(document.ParseError().Code, 0);
    EXPECT_TRUE(document.ParseError().Reason.contains("/nonexistent/folder/file.xml"));
}

TEST(XmlSecurity, ExternalEntitiesAreNeverRead)
{
    TTempFolder folder;
    const QString secret = folder.Write("secret.txt", "TOP-SECRET-CONTENT");
    // Even inside a readable folder: a document never reads anything besides itself.
    SetXmlReadableFolders({folder.Path()});
    const QByteArray documents[] = {
        "<!DOCTYPE r [<!ENTITY s SYSTEM \"file://" + secret.toUtf8() + "\">]><r>&s;</r>",
        "<!DOCTYPE r [<!ENTITY s SYSTEM \"" + secret.toUtf8() + "\">]><r>&s;</r>",
        "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + secret.toUtf8() + "\"> %p;]><r>x</r>",
        "<!DOCTYPE r SYSTEM \"" + secret.toUtf8() + "\"><r>x</r>",
        "<r xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"" + secret.toUtf8() +
            "\" parse=\"text\"/></r>",
    };
    for (const QByteArray& text : documents) {
        TXmlDocument document;
        document.LoadFromBytes(text, folder.File("doc.xml"));
        EXPECT_FALSE(document.SaveToBytes().contains("TOP-SECRET")) << text.constData();
        EXPECT_FALSE(document.DocumentElement().Text().contains("TOP-SECRET")) << text.constData();
    }
    SetXmlReadableFolders({});
    TXmlDocument fromFile;
    fromFile.LoadFromFile(TestDataPath("xml/external_entity.xml"));
    EXPECT_FALSE(fromFile.SaveToBytes().contains("root:"));
}

TEST(XmlSecurity, ExternalDtdIsNotFetched)
{
    TXmlDocument document;
    ASSERT_TRUE(document.LoadFromFile(TestDataPath("xml/external_dtd.xml")));
    EXPECT_EQ(document.DocumentElement().SelectSingleNode("Name").Text(), "plain");
}

TEST(XmlSecurity, EntityExpansionBombIsBounded)
{
    QElapsedTimer clock;
    clock.start();
    TXmlDocument document;
    const bool loaded = document.LoadFromFile(TestDataPath("xml/billion_laughs.xml"));
    if (loaded) {
        EXPECT_LT(document.DocumentElement().Text().size(), 10 * 1024 * 1024);
    } else {
        EXPECT_NE(document.ParseError().Code, 0);
    }
    EXPECT_LT(clock.elapsed(), 10000);

    // Quadratic blow-up: one large entity referenced many times.
    QByteArray quadratic = "<!DOCTYPE r [<!ENTITY a \"" + QByteArray(50000, 'a') + "\">]><r>";
    for (int i = 0; i < 50000; ++i)
        quadratic += "&a;";
    quadratic += "</r>";
    TXmlDocument second;
    if (second.LoadFromBytes(quadratic)) {
        EXPECT_LT(second.DocumentElement().Text().size(), 100 * 1024 * 1024);
    }
    EXPECT_LT(clock.elapsed(), 20000);
}

TEST(XmlDocument, SavesUtf8WithoutDeclarationOrIndentation)
{
    TXmlDocument document;
    TXmlNode root = document.CreateDocumentElement("Root");
    TXmlNode child = document.AppendElement(root, "Child");
    child.SetText(QStringLiteral("caf\u00e9 & <tags> \"quoted\""));
    child.SetAttribute("name", QStringLiteral("a&b<c>\"d\""));
    document.AppendElement(root, "Empty");
    const QByteArray saved = document.SaveToBytes();
    EXPECT_EQ(saved, QByteArray("<Root><Child name=\"a&amp;b&lt;c&gt;&quot;d&quot;\">caf\xc3\xa9 &amp; "
                                "&lt;tags&gt; \"quoted\"</Child><Empty/></Root>"));

    TXmlDocument reread;
    ASSERT_TRUE(reread.LoadFromBytes(saved));
    EXPECT_EQ(reread.DocumentElement().SelectSingleNode("Child").Text(),
              QStringLiteral("caf\u00e9 & <tags> \"quoted\""));
    EXPECT_EQ(reread.DocumentElement().SelectSingleNode("Child").Attribute("name"),
              QStringLiteral("a&b<c>\"d\""));
}

TEST(XmlDocument, CharactersXmlCannotCarryAreLeftOutSoTheFileStaysReadable)
{
    TXmlDocument document;
    TXmlNode root = document.CreateDocumentElement("Root");
    QString text = QStringLiteral("a");
    text += QChar(0x01);
    text += QLatin1Char('b');
    text += QChar(0x00);
    text += QStringLiteral("c\tline\nend");
    text += QChar(0xFFFF);
    text += QChar(0xD800); // a lone surrogate
    root.SetText(text);
    root.SetAttribute("v", QStringLiteral("x") + QChar(0x1B) + QStringLiteral("y"));
    TXmlDocument reread;
    ASSERT_TRUE(reread.LoadFromBytes(document.SaveToBytes()));
    EXPECT_EQ(reread.DocumentElement().Text(), QStringLiteral("abc\tline\nend"));
    EXPECT_EQ(reread.DocumentElement().Attribute("v"), "xy");
}

TEST(XmlDocument, InvalidNamesAreRefused)
{
    TXmlDocument document;
    TXmlNode root = document.CreateDocumentElement("Root");
    EXPECT_THROW(document.AppendElement(root, "two words"), EXmlError);
    EXPECT_THROW(document.AppendElement(root, "1abc"), EXmlError);
    EXPECT_THROW(document.AppendElement(root, ""), EXmlError);
    EXPECT_THROW(root.SetAttribute("a<b", "x"), EXmlError);
    EXPECT_THROW(document.AppendElement(TXmlNode(), "Child"), EXmlError);
    EXPECT_EQ(document.SaveToBytes(), "<Root/>");
}

TEST(XmlDocument, SaveToFileReplacesWholeOrNotAtAll)
{
    TTempFolder folder;
    const QString target = folder.Write("doc.xml", "<Old/>");
    TXmlDocument document;
    document.CreateDocumentElement("New");
    document.SaveToFile(target);
    EXPECT_EQ(ReadFileBytes(target), "<New/>");
    EXPECT_EQ(folder.Entries(), QStringList{"doc.xml"});

    EXPECT_THROW(document.SaveToFile(folder.File("missing/doc.xml")), EFileError);
    EXPECT_EQ(folder.Entries(), QStringList{"doc.xml"});
}

TEST(XmlDocument, LibraryIsAvailable)
{
    EXPECT_TRUE(XmlLibraryAvailable());
}

TEST(XmlSecurity, ReadableFoldersAreCheckedOnCanonicalPaths)
{
    TTempFolder folder;
    folder.Write("allowed/inside.xsl", "x");
    folder.Write("outside.txt", "x");
    SetXmlReadableFolders({folder.File("allowed")});
    EXPECT_TRUE(IsXmlReadablePath(folder.File("allowed/inside.xsl")));
    EXPECT_FALSE(IsXmlReadablePath(folder.File("allowed/../outside.txt")));
    EXPECT_FALSE(IsXmlReadablePath(folder.File("outside.txt")));
    EXPECT_FALSE(IsXmlReadablePath(folder.File("allowed/missing.xsl")));
    ASSERT_TRUE(QFile::link(folder.File("outside.txt"), folder.File("allowed/link.txt")));
    EXPECT_FALSE(IsXmlReadablePath(folder.File("allowed/link.txt")));
    SetXmlReadableFolders({});
    EXPECT_FALSE(IsXmlReadablePath(folder.File("allowed/inside.xsl")));
}

TEST(XmlDocument, AFileBeyondTheParsersLimitIsRefusedBeforeItIsRead)
{
    TTempFolder folder;
    QFile file(folder.File("huge.xml"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(TXmlDocument::MaxDocumentSize + 1)); // sparse: no disk space taken
    file.close();
    ResetPeakMemory();
    const qint64 before = PeakMemoryKiB();
    QElapsedTimer clock;
    clock.start();
    TXmlDocument document;
    EXPECT_FALSE(document.LoadFromFile(file.fileName()));
    EXPECT_LT(PeakMemoryKiB() - before, 64 * 1024) << "the file was read whole";
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_NE(document.ParseError().Code, 0);
    EXPECT_EQ(document.ParseError().Reason,
              file.fileName() + " is too large to be parsed: 2147483648 bytes, at most 2147483647");
}
