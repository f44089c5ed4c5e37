#include "DisplayMode.h"
#include "DisplaySystem.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

struct TModeXmlCase
{
    const char* Name;
    const char* Xml;
    const char* Text; // ToString of what was read
};

const TModeXmlCase ModeXmlCases[] = {
    {"full",
     "<D><DisplayMode><Width>1920</Width><Height>1080</Height><Frequency>60</Frequency>"
     "<BitsPerPixel>32</BitsPerPixel></DisplayMode></D>",
     "1920x1080, 60 Hz, 32 bits"},
    {"no element", "<D/>", "0x0, 0 Hz, 0 bits"},
    {"not numbers",
     "<D><DisplayMode><Width>wide</Width><Height>1e3</Height><Frequency>60Hz</Frequency>"
     "<BitsPerPixel></BitsPerPixel></DisplayMode></D>",
     "0x0, 0 Hz, 0 bits"},
    // Low bits kept, as files written elsewhere read.
    {"wide values",
     "<D><DisplayMode><Width>70000</Width><Height>-1</Height><Frequency>300</Frequency>"
     "<BitsPerPixel> 288 </BitsPerPixel></DisplayMode></D>",
     "4464x65535, 44 Hz, 32 bits"},
    {"beyond int", "<D><DisplayMode><Width>99999999999</Width></DisplayMode></D>", "0x0, 0 Hz, 0 bits"},
};

class ModeXml : public ::testing::TestWithParam<TModeXmlCase>
{
};

} // namespace

TEST_P(ModeXml, Reads)
{
    TXmlDocument document;
    ASSERT_TRUE(document.LoadFromBytes(GetParam().Xml));
    TDisplayMode mode(1, 2, 3, 4);
    ASSERT_TRUE(mode.LoadFromXML(document.DocumentElement()));
    EXPECT_EQ(mode.ToString(), QString::fromUtf8(GetParam().Text));
}

INSTANTIATE_TEST_SUITE_P(Files, ModeXml, ::testing::ValuesIn(ModeXmlCases),
                         [](const auto& info) { return CaseName(info.index, info.param.Name); });

TEST(DisplayMode, SavesInOrderAndReadsBack)
{
    TXmlDocument document;
    const TXmlNode root = document.CreateDocumentElement("VitrelleDevice");
    const TDisplayMode mode(800, 600, 75, 16);
    EXPECT_EQ(mode.ToString(), "800x600, 75 Hz, 16 bits");
    ASSERT_TRUE(mode.SaveToXML(&document, root));
    EXPECT_FALSE(mode.SaveToXML(&document, TXmlNode()));
    EXPECT_EQ(document.SaveToBytes().trimmed().toStdString(),
              "<VitrelleDevice><DisplayMode><Width>800</Width><Height>600</Height><Frequency>75</Frequency>"
              "<BitsPerPixel>16</BitsPerPixel></DisplayMode></VitrelleDevice>");
    TDisplayMode loaded;
    ASSERT_TRUE(loaded.LoadFromXML(root));
    EXPECT_EQ(loaded, mode);
    EXPECT_FALSE(loaded.LoadFromXML(TXmlNode()));
}

TEST(DisplayMode, EqualsAllFourAndKeepsLowBitsOfSystemModes)
{
    const TDisplayMode mode(TSystemDisplayMode{1920 + 65536, 1080, 60 + 256, 32});
    EXPECT_EQ(mode, TDisplayMode(1920, 1080, 60, 32));
    for (const TDisplayMode& other : {TDisplayMode(1921, 1080, 60, 32), TDisplayMode(1920, 1081, 60, 32),
                                      TDisplayMode(1920, 1080, 59, 32), TDisplayMode(1920, 1080, 60, 16)})
        EXPECT_NE(mode, other) << other.ToString().toStdString();
    const TDisplayMode copy = mode;
    EXPECT_EQ(copy.ToSystem(), (TSystemDisplayMode{1920, 1080, 60, 32}));
}
