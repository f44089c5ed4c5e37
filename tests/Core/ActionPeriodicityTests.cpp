#include "ActionPeriodicity.h"
#include "XmlHelpers.h"

#include <gtest/gtest.h>

namespace {

TActionPeriodicity Load(const char* attributes)
{
    TXmlDocument document;
    EXPECT_TRUE(document.LoadFromBytes(QByteArray("<P ") + attributes + "/>"));
    TActionPeriodicity periodicity(0, QTime(9, 0));
    periodicity.LoadFromXML(document.DocumentElement());
    return periodicity;
}

} // namespace

TEST(ActionPeriodicity, LoadsKindAndTimeWithFallbacks)
{
    EXPECT_EQ(Load("Periodicity=\"2\" Time=\"08:05:00\"").Kind, 2);
    EXPECT_EQ(Load("Periodicity=\"2\" Time=\"08:05:00\"").Time, QTime(8, 5));
    EXPECT_EQ(Load("Periodicity=\"3\" Time=\"7:30\"").Time, QTime(7, 30));
    EXPECT_EQ(Load("Time=\"08:05:00\"").Kind, TActionPeriodicity::Unset);
    EXPECT_EQ(Load("Periodicity=\"x\"").Kind, TActionPeriodicity::Unset);
    EXPECT_EQ(Load("Periodicity=\"-1\"").Kind, TActionPeriodicity::Unset);
    EXPECT_EQ(Load("Periodicity=\"7\"").Kind, 7);
    // Out of a byte: unreadable, never wrapped round into a valid kind (259 would otherwise be 3).
    EXPECT_EQ(Load("Periodicity=\"259\"").Kind, TActionPeriodicity::Unset);
    EXPECT_EQ(Load("Periodicity=\"1\"").Time, QTime(0, 0));
    EXPECT_EQ(Load("Periodicity=\"1\" Time=\"25:00\"").Time, QTime(0, 0));
    EXPECT_FALSE(Load("Periodicity=\"7\"").IsValidKind());
}

TEST(ActionPeriodicity, NullElementChangesNothing)
{
    TActionPeriodicity periodicity(1, QTime(6, 0));
    periodicity.LoadFromXML(TXmlNode());
    EXPECT_EQ(periodicity.Kind, 1);
    EXPECT_EQ(periodicity.Time, QTime(6, 0));
    EXPECT_EQ(TActionPeriodicity::CreateFromXML(TXmlNode()), nullptr);
}

TEST(ActionPeriodicity, SavesAndLoadsBack)
{
    TXmlDocument document;
    TXmlNode element = document.CreateDocumentElement("VitrelleUpdateTime");
    TActionPeriodicity(1, QTime(8, 5, 30)).SaveToXML(&document, element);
    EXPECT_EQ(document.SaveToBytes(), "<VitrelleUpdateTime Periodicity=\"1\" Time=\"08:05:30\"/>");
    const auto loaded = TActionPeriodicity::CreateFromXML(element);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->Kind, 1);
    EXPECT_EQ(loaded->Time, QTime(8, 5, 30));
}

TEST(ActionPeriodicity, EqualsIgnoresSeconds)
{
    const TActionPeriodicity a(0, QTime(8, 5, 0));
    const TActionPeriodicity b(0, QTime(8, 5, 59));
    const TActionPeriodicity c(0, QTime(8, 6, 0));
    const TActionPeriodicity d(3, QTime(8, 5, 0));
    EXPECT_TRUE(a.Equals(&b));
    EXPECT_FALSE(a.Equals(&c));
    EXPECT_FALSE(a.Equals(&d));
    EXPECT_FALSE(a.Equals(nullptr));
}
