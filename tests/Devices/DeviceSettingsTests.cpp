#include "Errors.h"
#include "TestFiles.h"
#include "VitrelleDeviceSettings.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct TFileCase
{
    const char* Name;
    QByteArray Content;
    bool Loads;
    QString DeviceName;
    quint32 Width;
    bool FullScreen;
    qint32 TimeOutConstant;
};

const TFileCase FileCases[] = {
    {"LowerCaseRoot", "<vitrelledevice><Name>Lobby</Name></vitrelledevice>", true, "Lobby", 0, false, 250},
    {"OnlyTheRoot", "<VitrelleDevice/>", true, "", 0, false, 250},
    {"FullScreenTrueWord", "<VitrelleDevice><FullScreen>True</FullScreen></VitrelleDevice>", true, "", 0,
     true, 250},
    {"FullScreenYes", "<VitrelleDevice><FullScreen>yes</FullScreen></VitrelleDevice>", true, "", 0, false,
     250},
    {"NumbersThatAreNotNumbers",
     "<VitrelleDevice><DisplayMode><Width>wide</Width></DisplayMode><ComPort><TimeOut><Constant>soon</"
     "Constant>"
     "</TimeOut></ComPort></VitrelleDevice>",
     true, "", 0, false, 250},
    {"Values",
     "<VitrelleDevice><Name>Hall</Name><DisplayMode><Width>1920</Width></DisplayMode><FullScreen>-1</"
     "FullScreen>"
     "<ComPort><TimeOut><Constant>400</Constant></TimeOut></ComPort></VitrelleDevice>",
     true, "Hall", 1920, true, 400},
    // Refused files leave the fields as they were (a new object has the usual time-outs, 250 and 20).
    {"NotWellFormed", "<VitrelleDevice><Name>Hall</VitrelleDevice>", false, "kept", 0, false, 250},
    {"ForeignRoot", "<VitrelleCenter><Name>Hall</Name></VitrelleCenter>", false, "kept", 0, false, 250},
};

class DeviceSettingsFile : public ::testing::TestWithParam<TFileCase>
{
};

} // namespace

TEST_P(DeviceSettingsFile, LoadsWithDefaultsOrRefuses)
{
    const TFileCase& c = GetParam();
    TTempFolder folder;
    const QString path = folder.Write("screen.xml", c.Content);
    TVitrelleDeviceSettings settings;
    settings.Name = "kept";
    EXPECT_EQ(settings.LoadFromFile(path), c.Loads);
    EXPECT_EQ(settings.FileName, "screen.xml") << "the name comes from the file, also when it is broken";
    EXPECT_EQ(settings.Name, c.DeviceName);
    EXPECT_EQ(settings.DisplayMode().GetWidth(), c.Width);
    EXPECT_EQ(settings.FullScreen, c.FullScreen);
    EXPECT_EQ(settings.ControlSettings().ComSettings.TimeOutConstant, c.TimeOutConstant);
}

INSTANTIATE_TEST_SUITE_P(Files, DeviceSettingsFile, ::testing::ValuesIn(FileCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(DeviceSettings, AMissingFileIsAnErrorAndChangesNothing)
{
    TTempFolder folder;
    TVitrelleDeviceSettings settings;
    try {
        settings.LoadFromFile(folder.File("DEVICE1.xml"));
        FAIL() << "a missing file loads";
    } catch (const EVitrelleError& error) {
        EXPECT_EQ(error.Message(), "Cannot find configuration file " + folder.File("DEVICE1.xml"));
    }
    EXPECT_TRUE(settings.FileName.isEmpty());
}

TEST(DeviceSettings, EffectiveFileName)
{
    TVitrelleDeviceSettings settings;
    EXPECT_EQ(settings.GetFileName(), "");
    settings.Name = "Lobby";
    EXPECT_EQ(settings.GetFileName(), "Lobby.xml");
    settings.FileName = "screen.cfg";
    EXPECT_EQ(settings.GetFileName(), "screen.xml");
    settings.FileName = "A.XML";
    EXPECT_EQ(settings.GetFileName(), "A.XML");
}

TEST(DeviceSettings, SavedAndLoadedBackIsEqualAndCopiesTakeTheEffectiveName)
{
    TTempFolder folder;
    TVitrelleDeviceSettings settings;
    settings.Name = "Shop window";
    settings.FileName = "DEVICE2.xml";
    settings.FullScreen = true;
    settings.DisplayMode() = TDisplayMode(1280, 720, 60, 32);
    settings.DeviceInfo().SetModel("LG TV");
    settings.ControlSettings().ComSettings.Port = "/dev/ttyUSB0";
    settings.ControlSettings().PowerOn = "ka 01 01#13";
    const QString path = folder.File("DEVICE2.xml");
    ASSERT_TRUE(settings.SaveToFile(path));
    EXPECT_TRUE(
        ReadFileBytes(path).startsWith("<VitrelleDevice><Name>Shop window</Name><DeviceInfo><Model>LG TV"));

    TVitrelleDeviceSettings loaded;
    ASSERT_TRUE(loaded.LoadFromFile(path));
    EXPECT_EQ(loaded, settings);
    EXPECT_EQ(loaded.DeviceInfo().GetModel(), "LG TV");
    EXPECT_EQ(loaded.ControlSettings().PowerOn, "ka 01 01#13");

    // A copy is the same value; every field counts, the identity and the letter case of the name included.
    TVitrelleDeviceSettings copy = loaded;
    EXPECT_EQ(copy, settings);
    for (const auto& change : std::initializer_list<std::function<void(TVitrelleDeviceSettings&)>>{
             [](TVitrelleDeviceSettings& s) { s.Name = "shop window"; },
             [](TVitrelleDeviceSettings& s) { s.FileName = "DEVICE3.xml"; },
             [](TVitrelleDeviceSettings& s) { s.FullScreen = false; },
             [](TVitrelleDeviceSettings& s) { s.DisplayMode() = TDisplayMode(1280, 720, 50, 32); },
             [](TVitrelleDeviceSettings& s) { s.DeviceInfo().SetSerial("123"); },
             [](TVitrelleDeviceSettings& s) { s.ControlSettings().ComSettings.TimeOutPerChar = 21; },
             [](TVitrelleDeviceSettings& s) { s.ControlSettings().PowerOff = "off"; }}) {
        copy = loaded;
        change(copy);
        EXPECT_NE(copy, loaded);
        EXPECT_EQ(loaded, settings) << "the copy shares nothing with its original";
    }
}
