#include "TestFiles.h"
#include "XmlHelpers.h"

#include <gtest/gtest.h>

namespace {

class XmlHelpers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Document.LoadFromBytes("<Root><A>alpha</A><B><C>gamma</C></B><Empty/><Flag>-1</Flag>"
                                           "<Item k=\"v\" e=\"\"/></Root>"));
        Root = Document.DocumentElement();
    }
    TXmlDocument Document;
    TXmlNode Root;
};

} // namespace

TEST_F(XmlHelpers, GetNodeValueFollowsPathsAndDefaults)
{
    EXPECT_EQ(GetNodeValue(Root, "A", "d"), "alpha");
    EXPECT_EQ(GetNodeValue(Root, "B/C", "d"), "gamma");
    EXPECT_EQ(GetNodeValue(Root, "Empty", "d"), "");
    EXPECT_EQ(GetNodeValue(Root, "Missing", "d"), "d");
    EXPECT_EQ(GetNodeValue(Root, "", "d"), "");
    EXPECT_EQ(GetNodeValue(TXmlNode(), "A", "d"), "");
}

TEST_F(XmlHelpers, AttributesReadAndReplace)
{
    const TXmlNode item = Root.SelectSingleNode("Item");
    EXPECT_EQ(GetAttributeValue(item, "k"), "v");
    EXPECT_EQ(GetAttributeValue(item, "e"), "");
    EXPECT_EQ(GetAttributeValue(item, "missing"), "");
    EXPECT_EQ(GetAttributeValue(item, ""), "");
    EXPECT_EQ(GetAttributeValue(TXmlNode(), "k"), "");
    EXPECT_EQ(GetAttributeValue(item, "K"), ""); // attribute names are case-sensitive

    SetAttributeValue(&Document, item, "k", "w");
    SetAttributeValue(&Document, item, "n", "new");
    SetAttributeValue(&Document, item, "", "ignored");
    SetAttributeValue(&Document, TXmlNode(), "k", "ignored");
    EXPECT_EQ(GetAttributeValue(item, "k"), "w");
    EXPECT_EQ(GetAttributeValue(item, "n"), "new");
}

TEST_F(XmlHelpers, AddNodeValueAppendsLastOrNothing)
{
    AddNodeValue(&Document, Root, "Last", "text");
    EXPECT_EQ(Root.ChildElements().last().Name(), "Last");
    EXPECT_EQ(Root.ChildElements().last().Text(), "text");
    const int count = Root.ChildElements().size();
    EXPECT_TRUE(AddNodeValue(nullptr, Root, "X", "x").IsNull());
    EXPECT_TRUE(AddNodeValue(&Document, TXmlNode(), "X", "x").IsNull());
    EXPECT_TRUE(AddNodeValue(&Document, Root, "", "x").IsNull());
    EXPECT_EQ(Root.ChildElements().size(), count);
}

struct TBoolCase
{
    const char* Text;
    bool Default;
    bool Expected;
};

class NodeBoolValue : public ::testing::TestWithParam<TBoolCase>
{
};

TEST_P(NodeBoolValue, Converts)
{
    TXmlDocument document;
    TXmlNode root = document.CreateDocumentElement("Root");
    AddNodeValue(&document, root, "V", QString::fromUtf8(GetParam().Text));
    EXPECT_EQ(GetNodeBoolValue(root, "V", GetParam().Default), GetParam().Expected) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(Texts, NodeBoolValue,
                         ::testing::Values(TBoolCase{"", true, false}, TBoolCase{"1", false, true},
                                           TBoolCase{"-1", false, true}, TBoolCase{"0", true, false},
                                           TBoolCase{"True", false, true}, TBoolCase{"true", false, true},
                                           TBoolCase{"TRUE", false, true}, TBoolCase{"False", true, false},
                                           TBoolCase{"2.5", false, true}, TBoolCase{"yes", false, false},
                                           TBoolCase{"yes", true, true}, TBoolCase{"on", false, false}),
                         [](const auto& info) { return CaseName(info.index, info.param.Text); });

TEST(XmlHelpersMissing, BoolOfMissingNodeIsFalse)
{
    TXmlDocument document;
    TXmlNode root = document.CreateDocumentElement("Root");
    EXPECT_FALSE(GetNodeBoolValue(root, "Missing", true));
}

class ForceXmlExtensionCase : public ::testing::TestWithParam<std::pair<const char*, const char*>>
{
};

TEST_P(ForceXmlExtensionCase, Gives)
{
    EXPECT_EQ(ForceXmlExtension(QString::fromUtf8(GetParam().first)), QString::fromUtf8(GetParam().second));
}

INSTANTIATE_TEST_SUITE_P(Names, ForceXmlExtensionCase,
                         ::testing::Values(std::pair{"list", "list.xml"}, std::pair{"list.txt", "list.xml"},
                                           std::pair{"list.xml", "list.xml"},
                                           std::pair{"LIST.XML", "LIST.XML"},
                                           std::pair{"a.b/list", "a.b/list.xml"},
                                           std::pair{"/data/v1.2/Types", "/data/v1.2/Types.xml"},
                                           std::pair{"archive.tar.gz", "archive.tar.xml"},
                                           std::pair{"file.", "file.xml"}, std::pair{"", ".xml"}),
                         [](const auto& info) { return CaseName(info.index, info.param.first); });

TEST(SamePath, IgnoresTrailingSeparatorButNotCase)
{
    EXPECT_TRUE(SamePath("/data/Cache", "/data/Cache/"));
    EXPECT_TRUE(SamePath("/data/Cache/", "/data/Cache/"));
    EXPECT_TRUE(SamePath("", ""));
    EXPECT_FALSE(SamePath("/data/Cache", "/data/cache/"));
    EXPECT_FALSE(SamePath("/data/Cache", "/data/Cache2"));
}

TEST(FileValues, TimesOfDay)
{
    EXPECT_EQ(TextToTimeOfDay("08:05:00"), QTime(8, 5));
    EXPECT_EQ(TextToTimeOfDay("8:05"), QTime(8, 5));
    EXPECT_EQ(TextToTimeOfDay("23:59:59"), QTime(23, 59, 59));
    EXPECT_EQ(TextToTimeOfDay(" 7:30:15 "), QTime(7, 30, 15));
    for (const char* bad : {"", "24:00", "12:60", "8", "8:5", "noon", "08-05", "-1:00"})
        EXPECT_FALSE(TextToTimeOfDay(QString::fromUtf8(bad)).has_value()) << bad;
    EXPECT_EQ(TimeOfDayToText(QTime(8, 5)), "08:05:00");
    EXPECT_EQ(TimeOfDayToText(QTime()), "00:00:00");
}

namespace {

struct TTimeCase
{
    const char* Text;
    QTime Expected; // invalid: unreadable
};

class TimeOfDayText : public ::testing::TestWithParam<TTimeCase>
{
};

} // namespace

// Files written on other systems carry their long time format; what cannot be read must say so (no value)
// rather than pass for midnight.
TEST_P(TimeOfDayText, ReadsTheFormatsOfOtherSystems)
{
    const std::optional<QTime> read = TextToTimeOfDay(QString::fromUtf8(GetParam().Text));
    if (GetParam().Expected.isValid())
        EXPECT_EQ(read, GetParam().Expected);
    else
        EXPECT_FALSE(read.has_value()) << read->toString().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    FileValues, TimeOfDayText,
    ::testing::Values(TTimeCase{"8:05:00 PM", QTime(20, 5)}, TTimeCase{"8:05:00 pm", QTime(20, 5)},
                      TTimeCase{"8:05:00PM", QTime(20, 5)}, TTimeCase{"08:05 AM", QTime(8, 5)},
                      TTimeCase{"12:05:00 AM", QTime(0, 5)}, TTimeCase{"12:05 PM", QTime(12, 5)},
                      TTimeCase{"12:00:30 am", QTime(0, 0, 30)}, TTimeCase{"11:59:59 Pm", QTime(23, 59, 59)},
                      TTimeCase{"20.05.00", QTime(20, 5)}, TTimeCase{"8.05", QTime(8, 5)},
                      TTimeCase{"8.05.30 PM", QTime(20, 5, 30)}, TTimeCase{" 7:30\t", QTime(7, 30)},
                      TTimeCase{"13:00 PM", QTime()}, TTimeCase{"0:30 AM", QTime()},
                      TTimeCase{"8:05.00", QTime()}, TTimeCase{"8:05:00 P", QTime()},
                      TTimeCase{"8:05:00 PMX", QTime()}, TTimeCase{"PM", QTime()},
                      TTimeCase{"20.05.60", QTime()}, TTimeCase{"\u0668:\u0660\u0665", QTime()}),
    [](const auto& info) { return CaseName(info.index, info.param.Text); });

TEST(FileValues, IntegersAndBooleans)
{
    EXPECT_EQ(TextToInt("42"), 42);
    EXPECT_EQ(TextToInt("-7"), -7);
    EXPECT_EQ(TextToInt(" 3 "), 3);
    EXPECT_FALSE(TextToInt("").has_value());
    EXPECT_FALSE(TextToInt("4x").has_value());
    EXPECT_FALSE(TextToInt("99999999999").has_value());
    EXPECT_EQ(BoolToText(true), "-1");
    EXPECT_EQ(BoolToText(false), "0");
}
