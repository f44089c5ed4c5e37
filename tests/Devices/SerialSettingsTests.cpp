#include "DeviceControl.h"
#include "LogCapture.h"
#include "TestFiles.h"
#include "VitrelleDeviceSettings.h"
#include "XmlDocument.h"

#include <gtest/gtest.h>

namespace {

struct TDecodeCase
{
    const char* Code;
    QString Decoded;
};

class DecodeControlCodeTest : public ::testing::TestWithParam<TDecodeCase>
{
};

TEST_P(DecodeControlCodeTest, GivesTheCharactersOfTheNotation)
{
    EXPECT_EQ(DecodeControlCode(QString::fromUtf8(GetParam().Code)), GetParam().Decoded);
}

QString Chars(std::initializer_list<char16_t> codes)
{
    QString text;
    for (const char16_t code : codes)
        text += QChar(code);
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Notation, DecodeControlCodeTest,
    ::testing::Values(TDecodeCase{"A#13", Chars({u'A', 13})}, TDecodeCase{"#1234", Chars({123, u'4'})},
                      TDecodeCase{"##13", QStringLiteral("#13")}, TDecodeCase{"#x", QStringLiteral("x")},
                      TDecodeCase{"#", QString()}, TDecodeCase{"##", QStringLiteral("#")},
                      TDecodeCase{"ab#", QStringLiteral("ab")}, TDecodeCase{"#0#255", Chars({0, 255})},
                      TDecodeCase{"#7a", Chars({7, u'a'})}, TDecodeCase{"#999", Chars({999})},
                      TDecodeCase{"###65", Chars({u'#', 65})},
                      TDecodeCase{"ka 01 01#13", QStringLiteral("ka 01 01\r")}),
    [](const auto& info) { return CaseName(info.index, info.param.Code); });

TEST(EncodeControlCodeTest, EscapesControlCharactersAndSpaceOnly)
{
    EXPECT_EQ(EncodeControlCode(QStringLiteral("A B")), QStringLiteral("A#32B"));
    EXPECT_EQ(EncodeControlCode(QStringLiteral("\r\n")), QStringLiteral("#13#10"));
    EXPECT_EQ(EncodeControlCode(Chars({0, u'#', 33, 255})), Chars({u'#', u'0', u'#', 33, 255}));
}

// Each enumeration: every value written and read back is the same value; empty and unknown texts give the
// port default.
TEST(PortTextTest, ValuesSurviveTheirTextAndUnknownTextGivesThePortDefault)
{
    for (int v = brCustom; v <= br256000; ++v)
        EXPECT_EQ(StrToBaudRate(BaudRateToStr(TBaudRate(v))), v);
    for (int v = dbFive; v <= dbEight; ++v)
        EXPECT_EQ(StrToDataBits(DataBitsToStr(TDataBits(v))), v);
    for (int v = prNone; v <= prSpace; ++v)
        EXPECT_EQ(StrToParity(ParityToStr(TParityBits(v))), v);
    for (int v = sbOneStopBit; v <= sbTwoStopBits; ++v)
        EXPECT_EQ(StrToStopBits(StopBitsToStr(TStopBits(v))), v);
    for (int v = fcHardware; v <= fcCustom; ++v)
        EXPECT_EQ(StrToFlowControl(FlowControlToStr(TFlowControl(v))), v);
    EXPECT_EQ(BaudRateToStr(br56000), QStringLiteral("56000"));
    EXPECT_EQ(StopBitsToStr(sbOne5StopBits), QStringLiteral("1.5"));
    for (const QString& text : {QString(), QStringLiteral("fast"), QStringLiteral("9")}) {
        EXPECT_EQ(StrToBaudRate(text), br9600);
        EXPECT_EQ(StrToDataBits(text), dbEight);
        EXPECT_EQ(StrToParity(text), prNone);
        EXPECT_EQ(StrToStopBits(text), sbOneStopBit);
        EXPECT_EQ(StrToFlowControl(text), fcNone);
    }
    EXPECT_EQ(StrToParity(QStringLiteral(" even ")), prEven);
}

TXmlNode Parse(TXmlDocument& document, const char* xml)
{
    EXPECT_TRUE(document.LoadFromBytes(QByteArray(xml)));
    return document.DocumentElement();
}

TEST(DeviceControlSettingsTest, FileValuesAndDefaults)
{
    TXmlDocument document;
    TDeviceControlSettings settings;
    ASSERT_TRUE(settings.LoadFromXML(Parse(document, R"(<VitrelleDevice><ComPort><Port>/dev/ttyS1</Port>
        <BaudsRate>19200</BaudsRate><DataBits>7</DataBits><ParityBits>Even</ParityBits><StopBits>2</StopBits>
        <FlowControl>Hardware</FlowControl></ComPort>
        <CommandCodes><PowerOn>ka 01 01#13</PowerOn><PowerStatusOff>x</PowerStatusOff></CommandCodes>
        </VitrelleDevice>)")));
    const TComSettings& com = settings.ComSettings;
    EXPECT_EQ(com.Port, QStringLiteral("/dev/ttyS1"));
    EXPECT_EQ(com.BaudRate, br19200);
    EXPECT_EQ(com.DataBits, dbSeven);
    EXPECT_EQ(com.Parity, prEven);
    EXPECT_EQ(com.StopBits, sbTwoStopBits);
    EXPECT_EQ(com.FlowControl, fcHardware);
    // No "TimeOut" element: the defaults.
    EXPECT_EQ(com.TimeOutConstant, 250);
    EXPECT_EQ(com.TimeOutPerChar, 20);
    EXPECT_EQ(settings.PowerOn, QStringLiteral("ka 01 01#13"));
    EXPECT_EQ(settings.PowerStatusOff, QStringLiteral("x"));
    EXPECT_TRUE(settings.PowerOff.isEmpty());

    // Numbers that are not numbers, and a root alone.
    TXmlDocument other;
    ASSERT_TRUE(
        settings.LoadFromXML(Parse(other, "<VitrelleDevice><ComPort><TimeOut><Constant>abc</Constant>"
                                          "<PerChar></PerChar></TimeOut></ComPort></VitrelleDevice>")));
    EXPECT_EQ(com.TimeOutConstant, 250);
    EXPECT_EQ(com.TimeOutPerChar, 20);
    EXPECT_TRUE(settings.PowerOn.isEmpty());
    EXPECT_EQ(com.BaudRate, br9600);
    EXPECT_FALSE(settings.LoadFromXML(TXmlNode()));
}

TEST(DeviceControlSettingsTest, SavedSettingsLoadBackEqualAndOnlyThePortDiffers)
{
    TDeviceControlSettings settings;
    settings.ComSettings.Port = QStringLiteral("/dev/ttyUSB0");
    settings.ComSettings.BaudRate = brCustom;
    settings.ComSettings.Parity = prSpace;
    settings.ComSettings.StopBits = sbOne5StopBits;
    settings.ComSettings.FlowControl = fcCustom;
    settings.ComSettings.TimeOutConstant = 0;
    settings.ComSettings.TimeOutPerChar = 7;
    settings.PowerOn = QStringLiteral("#170#1#17#19#0#255");
    settings.PowerStatusOn = QStringLiteral("A#32B");
    TXmlDocument document;
    const TXmlNode root = document.CreateDocumentElement(QStringLiteral("VitrelleDevice"));
    ASSERT_TRUE(settings.SaveToXML(&document, root));
    EXPECT_EQ(
        document.SaveToBytes(),
        QByteArray("<VitrelleDevice><ComPort><Port>/dev/ttyUSB0</Port><BaudsRate>Custom</BaudsRate>"
                   "<DataBits>8</DataBits><ParityBits>Space</ParityBits><StopBits>1.5</StopBits>"
                   "<FlowControl>Custom</FlowControl><TimeOut><Constant>0</Constant><PerChar>7</PerChar>"
                   "</TimeOut></ComPort><CommandCodes><PowerOn>#170#1#17#19#0#255</PowerOn><PowerOnOK/>"
                   "<PowerOff/><PowerOffOK/><PowerStatus/><PowerStatusOn>A#32B</PowerStatusOn>"
                   "<PowerStatusOff/></CommandCodes></VitrelleDevice>"));

    TXmlDocument reread;
    ASSERT_TRUE(reread.LoadFromBytes(document.SaveToBytes()));
    TDeviceControlSettings loaded;
    ASSERT_TRUE(loaded.LoadFromXML(reread.DocumentElement()));
    EXPECT_EQ(loaded, settings);
    loaded.ComSettings.Port = QStringLiteral("/dev/ttyUSB1");
    EXPECT_NE(loaded, settings);
    loaded.ComSettings.Port = settings.ComSettings.Port;
    loaded.PowerStatusOn = QStringLiteral("a#32B");
    EXPECT_NE(loaded, settings);
}

struct TTimeOutCase
{
    const char* Name;
    const char* Constant; // as the file holds them
    const char* PerChar;
    qint32 LoadedConstant;
    qint32 LoadedPerChar;
    QStringList Logged; // "<what> <value>" of each out-of-bounds value
};

class TimeOutBoundsTest : public ::testing::TestWithParam<TTimeOutCase>
{
};

// A time-out from a file that would hold a display's port for hours is bounded, and the operator learns it
// once, with the file and the value.
TEST_P(TimeOutBoundsTest, OutOfBoundsTimeOutsAreBoundedAndLoggedOnce)
{
    const TTimeOutCase& c = GetParam();
    TTempFolder folder;
    const QString path = folder.Write(
        "Hall.xml",
        QStringLiteral("<VitrelleDevice><Name>Hall</Name><ComPort><Port>/dev/ttyS0</Port><TimeOut>"
                       "<Constant>%1</Constant><PerChar>%2</PerChar></TimeOut></ComPort>"
                       "</VitrelleDevice>")
            .arg(QLatin1String(c.Constant), QLatin1String(c.PerChar))
            .toUtf8());
    TLogCapture log;
    TVitrelleDeviceSettings settings;
    ASSERT_TRUE(settings.LoadFromFile(path));
    const TComSettings& com = settings.ControlSettings().ComSettings;
    EXPECT_EQ(com.TimeOutConstant, c.LoadedConstant);
    EXPECT_EQ(com.TimeOutPerChar, c.LoadedPerChar);
    const QStringList lines = log.Lines().filter("TComSettings");
    ASSERT_EQ(lines.size(), c.Logged.size()) << lines.join('\n').toStdString();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].startsWith("[2] TComSettings: ")) << lines[i].toStdString();
        EXPECT_TRUE(lines[i].contains(path)) << lines[i].toStdString();
        EXPECT_TRUE(lines[i].contains(c.Logged[i] + " ms")) << lines[i].toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, TimeOutBoundsTest,
    ::testing::Values(
        TTimeOutCase{"WithinBounds", "30000", "1000", 30000, 1000, {}},
        TTimeOutCase{"Zero", "0", "0", 0, 0, {}},
        TTimeOutCase{"AnHour", "3600000", "20", 30000, 20, {"Constant of 3600000"}},
        TTimeOutCase{"Huge", "100000000", "5000", 30000, 1000, {"Constant of 100000000", "PerChar of 5000"}},
        TTimeOutCase{"Negative",
                     "-1",
                     "-20",
                     TComSettings::DefaultTimeOutConstant,
                     TComSettings::DefaultTimeOutPerChar,
                     {"Constant of -1", "PerChar of -20"}}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
