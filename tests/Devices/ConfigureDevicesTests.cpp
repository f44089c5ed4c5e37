#include "ConfigureDevices.h"
#include "TestFiles.h"
#include "VitrelleDeviceInfo.h"

#include <gtest/gtest.h>

namespace {

// A settings file: its name, and how many of the device's five identity fields it matches (the device's
// identity is model M, manufacturer MMM, serial S, VESA id V, PnP id P; the file matches the first n of
// them).
struct TFile
{
    const char* Name;
    int Matches;
};

struct TConfigureCase
{
    const char* Name;
    int DeviceNumber;
    std::vector<TFile> Files;
    qsizetype Chosen;
    const char* Lines; // the "configuration files" list, "" when no line is logged
};

const TConfigureCase ConfigureCases[] = {
    {"own file listed last, reached without beating the best",
     1,
     {{"A.xml", 2}, {"B.xml", 4}, {"DEVICE1.xml", 0}},
     2,
     "\r\nA.xml (2)\r\nB.xml (4)\r\nDEVICE1.xml (has priority)"},
    {"own file listed first ends the search at once",
     1,
     {{"DEVICE1.xml", 0}, {"A.xml", 2}, {"B.xml", 4}},
     0,
     "\r\nDEVICE1.xml (has priority)"},
    {"nothing scores and no own file", 1, {{"A.xml", 0}, {"DEVICE2.xml", 0}}, -1, ""},
    {"no files", 1, {}, -1, ""},
    {"ties go to the earlier file", 1, {{"A.xml", 3}, {"B.xml", 3}, {"C.xml", 1}}, 0, "\r\nA.xml (3)"},
    {"own file beating the best is an ordinary choice",
     2,
     {{"A.xml", 1}, {"DEVICE2.xml", 3}, {"B.xml", 3}, {"C.xml", 5}},
     3,
     "\r\nA.xml (1)\r\nDEVICE2.xml (3)\r\nC.xml (5)"},
    {"own file name is case-sensitive", 1, {{"device1.xml", 0}, {"DEVICE1.XML", 0}}, -1, ""},
    {"own file of another device is no own file",
     2,
     {{"DEVICE1.xml", 0}, {"DEVICE2.xml", 0}},
     1,
     "\r\nDEVICE2.xml (has priority)"},
    {"own file with a lower score than the best",
     1,
     {{"A.xml", 5}, {"DEVICE1.xml", 2}, {"B.xml", 5}},
     1,
     "\r\nA.xml (5)\r\nDEVICE1.xml (has priority)"},
};

TVitrelleDeviceInfo Identity(int matches)
{
    const char* fields[] = {"M", "MMM", "S", "V", "P"};
    TVitrelleDeviceInfo info;
    info.SetModel(matches > 0 ? fields[0] : "other");
    info.SetManufacturer(matches > 1 ? fields[1] : "XXX");
    info.SetSerial(matches > 2 ? fields[2] : "x");
    info.SetVesaID(matches > 3 ? fields[3] : "x");
    info.SetPnpID(matches > 4 ? fields[4] : "x");
    return info;
}

void PrintTo(const TConfigureCase& c, std::ostream* os)
{
    *os << c.Name;
}

class Configure : public ::testing::TestWithParam<TConfigureCase>
{
};

} // namespace

TEST_P(Configure, ChoosesAndLogs)
{
    const TConfigureCase& c = GetParam();
    const TVitrelleDeviceInfo detected = Identity(5);
    std::vector<TVitrelleDeviceInfo> identities;
    for (const TFile& file : c.Files)
        identities.push_back(Identity(file.Matches));
    QList<TSettingsCandidate> candidates;
    for (size_t i = 0; i < c.Files.size(); ++i)
        candidates << TSettingsCandidate{&identities[i], QString::fromUtf8(c.Files[i].Name)};

    const QString name = QStringLiteral("Device %1").arg(c.DeviceNumber);
    const TDeviceConfiguration result = ConfigureDevices({{c.DeviceNumber, name, &detected}}, candidates);

    EXPECT_EQ(result.Chosen, QList<qsizetype>{c.Chosen});
    QStringList expected{"Configure the display devices"};
    if (*c.Lines)
        expected
            << QStringLiteral("Device '%1' configuration files: %2").arg(name, QString::fromUtf8(c.Lines));
    EXPECT_EQ(result.LogLines, expected);
}

INSTANTIATE_TEST_SUITE_P(Examples, Configure, ::testing::ValuesIn(ConfigureCases),
                         [](const auto& info) { return CaseName(info.index, info.param.Name); });

TEST(ConfigureSeveral, EachDeviceChoosesFromAllFiles)
{
    TVitrelleDeviceInfo first;
    first.SetPnpID("HDMI-1");
    TVitrelleDeviceInfo second;
    second.SetPnpID("HDMI-2");
    // The settings' own empty model reads as the generic one and must not match a device without model.
    TVitrelleDeviceInfo fileA;
    fileA.SetPnpID("HDMI-2");
    TVitrelleDeviceInfo fileB;
    fileB.SetPnpID("HDMI-1");

    const TDeviceConfiguration result =
        ConfigureDevices({{1, "Lobby", &first}, {2, "Device 2", &second}, {3, "Device 3", nullptr}},
                         {{&fileA, "A.xml"}, {&fileB, "B.xml"}});
    EXPECT_EQ(result.Chosen, (QList<qsizetype>{1, 0, -1}));
    EXPECT_EQ(result.LogLines, (QStringList{"Configure the display devices",
                                            "Device 'Lobby' configuration files: \r\nB.xml (1)",
                                            "Device 'Device 2' configuration files: \r\nA.xml (1)"}));
}

namespace {

// Displays of one model without serial number (model, manufacturer and VESA id alike), told apart only by
// the output they are connected to. A file written on an output matches a display there with 4, a display
// of that model elsewhere with 3; a file without an output matches nothing.
struct TWallDisplay
{
    int Number;
    const char* Output;
};

struct TWallFile
{
    const char* Name;
    const char* Output; // nullptr: another model
    const char* HeldBy = "";
};

struct TWallCase
{
    const char* Name;
    std::vector<TWallDisplay> Displays;
    std::vector<TWallFile> Files;
    QList<qsizetype> Chosen;
    QStringList Lines; // after "Configure the display devices"
};

TVitrelleDeviceInfo WallIdentity(const char* output)
{
    TVitrelleDeviceInfo info;
    info.SetModel(output != nullptr ? "TV55" : "Other");
    info.SetManufacturer(output != nullptr ? "SAM" : "XYZ");
    info.SetVesaID(output != nullptr ? "SAM1234" : "XYZ1");
    info.SetPnpID(output != nullptr ? output : "");
    return info;
}

const TWallCase WallCases[] = {
    {"one file written on the first output goes to that display only",
     {{1, "HDMI-1"}, {2, "HDMI-2"}},
     {{"Lobby.xml", "HDMI-1"}},
     {0, -1},
     {"Device 'Device 1' configuration files: \r\nLobby.xml (4)",
      "Device 'Device 2' is not given Lobby.xml (3): taken by display 'Device 1'"}},
    {"each display gets the file written on its own output",
     {{1, "HDMI-1"}, {2, "HDMI-2"}},
     {{"A.xml", "HDMI-2"}, {"B.xml", "HDMI-1"}},
     {1, 0},
     {"Device 'Device 1' configuration files: \r\nB.xml (4)",
      "Device 'Device 2' configuration files: \r\nA.xml (4)"}},
    {"a file written on a third output identifies neither",
     {{1, "HDMI-1"}, {2, "HDMI-2"}},
     {{"A.xml", "HDMI-3"}},
     {-1, -1},
     {"Device 'Device 1' is not given A.xml (3): display 'Device 2' matches it just as well",
      "Device 'Device 2' is not given A.xml (3): display 'Device 1' matches it just as well"}},
    {"a display plugged in later does not take a file a live display holds",
     {{2, "HDMI-2"}},
     {{"A.xml", "HDMI-2", "Lobby"}, {"B.xml", nullptr}},
     {-1},
     {"Device 'Device 2' is not given A.xml (4): taken by display 'Lobby'"}},
    {"own files keep their priority over a file both displays match",
     {{1, "HDMI-1"}, {2, "HDMI-2"}},
     {{"A.xml", "HDMI-3"}, {"DEVICE1.xml", nullptr}, {"DEVICE2.xml", nullptr}},
     {1, 2},
     {"Device 'Device 1' configuration files: \r\nA.xml (3)\r\nDEVICE1.xml (has priority)",
      "Device 'Device 2' configuration files: \r\nA.xml (3)\r\nDEVICE2.xml (has priority)"}},
};

void PrintTo(const TWallCase& c, std::ostream* os)
{
    *os << c.Name;
}

class ConfigureWall : public ::testing::TestWithParam<TWallCase>
{
};

} // namespace

TEST_P(ConfigureWall, GivesEachFileToOneDisplayAtMost)
{
    const TWallCase& c = GetParam();
    std::vector<TVitrelleDeviceInfo> displays;
    for (const TWallDisplay& display : c.Displays)
        displays.push_back(WallIdentity(display.Output));
    std::vector<TVitrelleDeviceInfo> files;
    for (const TWallFile& file : c.Files)
        files.push_back(WallIdentity(file.Output));
    QList<TDetectedDevice> detected;
    for (size_t i = 0; i < displays.size(); ++i)
        detected << TDetectedDevice{c.Displays[i].Number,
                                    QStringLiteral("Device %1").arg(c.Displays[i].Number), &displays[i]};
    QList<TSettingsCandidate> candidates;
    for (size_t i = 0; i < files.size(); ++i)
        candidates << TSettingsCandidate{&files[i], QString::fromUtf8(c.Files[i].Name),
                                         QString::fromUtf8(c.Files[i].HeldBy)};

    const TDeviceConfiguration result = ConfigureDevices(detected, candidates);
    EXPECT_EQ(result.Chosen, c.Chosen);
    EXPECT_EQ(result.LogLines, QStringList{"Configure the display devices"} + c.Lines);
}

INSTANTIATE_TEST_SUITE_P(IdenticalDisplays, ConfigureWall, ::testing::ValuesIn(WallCases),
                         [](const auto& info) { return CaseName(info.index, info.param.Name); });
