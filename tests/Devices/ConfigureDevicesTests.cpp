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
