#include "Edid.h"
#include "LogCapture.h"
#include "MonitorIds.h"
#include "SimulatedDisplaySystem.h"
#include "TestFiles.h"
#include "VitrelleDeviceInfo.h"

#include <gtest/gtest.h>

#include <array>

namespace {

QByteArray OfficeMonitor()
{
    return ReadFileBytes(TestDataPath(QStringLiteral("edid/office-monitor.bin")));
}

const QString ZeroEdidHex = QString(4096, QLatin1Char('0'));

struct TSplitCase
{
    const char* Id;
    bool Valid;
    const char* VesaID;
    const char* DriverKey;
};

const TSplitCase SplitCases[] = {
    {"MONITOR\\VTR2415\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001", true, "VTR2415",
     "{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001"},
    {"MONITOR\\Default_Monitor\\{x}\\0000", true, "Default_Monitor", "{x}\\0000"},
    {"MONITOR\\\\rest", true, "", "rest"},
    {"MONITOR\\VTR2415\\", true, "VTR2415", ""},
    // The first character is not searched: a leading backslash is part of the class word.
    {"\\MONITOR\\VTR2415\\tail", true, "VTR2415", "tail"},
    {"\\VTR2415\\tail", false, "", ""},
    {"MONITOR\\VTR2415", false, "", ""},
    {"MONITOR", false, "", ""},
    {"", false, "", ""},
    {"MONITOR/VTR2415/{guid}/0001", false, "", ""},
};

class SplitMonitorIdCase : public ::testing::TestWithParam<TSplitCase>
{
};

} // namespace

TEST_P(SplitMonitorIdCase, Splits)
{
    const TSplitCase& c = GetParam();
    const std::optional<TMonitorIdParts> parts = SplitMonitorId(QString::fromUtf8(c.Id));
    ASSERT_EQ(parts.has_value(), c.Valid);
    if (parts) {
        EXPECT_EQ(parts->VesaID, QString::fromUtf8(c.VesaID));
        EXPECT_EQ(parts->DriverKey, QString::fromUtf8(c.DriverKey));
    }
}

INSTANTIATE_TEST_SUITE_P(Ids, SplitMonitorIdCase, ::testing::ValuesIn(SplitCases),
                         [](const auto& info) { return CaseName(info.index, info.param.Id); });

namespace {

struct TAdapterCase
{
    const char* Name;
    bool Attached, Mirroring, Primary;
    bool Active;
    const char* Flags;
};

const TAdapterCase AdapterCases[] = {
    {"attached", true, false, false, true, "1"},
    {"attached primary", true, false, true, true, "5"},
    {"attached mirroring", true, true, false, false, "9"},
    {"detached", false, false, false, false, "0"},
};

class AdapterActivity : public ::testing::TestWithParam<TAdapterCase>
{
protected:
    TLogCapture Log;
};

} // namespace

TEST_P(AdapterActivity, AttachedAndNotMirroring)
{
    const TAdapterCase& c = GetParam();
    TSimulatedDisplaySystem system;
    {
        auto& o = system.AddOutput("HDMI-1");
        o.Attached = c.Attached;
        o.Mirroring = c.Mirroring;
        o.Primary = c.Primary;
    }
    // A later adapter of the same name does not decide.
    system.AddOutput("HDMI-1").Attached = !c.Active;
    EXPECT_EQ(TVitrelleDeviceInfo::IsAdapterActive(system, "HDMI-1"), c.Active);
    EXPECT_EQ(Log.Lines(), QStringList{QStringLiteral("[3] TVitrelleDeviceInfo: Device 'HDMI-1' flags: %1")
                                           .arg(QString::fromUtf8(c.Flags))});
}

INSTANTIATE_TEST_SUITE_P(States, AdapterActivity, ::testing::ValuesIn(AdapterCases),
                         [](const auto& info) { return CaseName(info.index, info.param.Name); });

TEST(AdapterActivityUnknown, IsInactiveAndSilent)
{
    TLogCapture log;
    TSimulatedDisplaySystem system;
    system.AddOutput("HDMI-1");
    EXPECT_FALSE(TVitrelleDeviceInfo::IsAdapterActive(system, "hdmi-1"));
    EXPECT_FALSE(TVitrelleDeviceInfo::IsAdapterActive(system, ""));
    EXPECT_TRUE(log.Lines().isEmpty());
}

namespace {

class ReadFromSystem : public ::testing::Test
{
protected:
    // An identity read earlier, to see what a failed read keeps.
    void SetUp() override
    {
        Info.SetModel("Old model");
        Info.SetManufacturer("OLD");
        Info.SetSerial("0001");
        Info.SetVesaID("OLD0001");
        Info.SetPnpID("DP-9");
    }
    void ExpectOldIdentityWithoutIds()
    {
        EXPECT_EQ(Info.GetModel(), "Old model");
        EXPECT_EQ(Info.GetManufacturer(), "OLD");
        EXPECT_EQ(Info.GetSerial(), "0001");
        EXPECT_EQ(Info.GetVesaID(), "");
        EXPECT_EQ(Info.GetPnpID(), "");
    }
    TLogCapture Log;
    TSimulatedDisplaySystem System;
    TVitrelleDeviceInfo Info;
};

} // namespace

TEST_F(ReadFromSystem, AdapterWithoutActiveMonitorWarnsWithZeroEdid)
{
    System.AddOutput("HDMI-1", OfficeMonitor()).Connected = false;
    EXPECT_FALSE(Info.ReadFromSystem(System, "HDMI-1"));
    ExpectOldIdentityWithoutIds();
    EXPECT_EQ(Log.Lines(),
              (QStringList{"[3] TVitrelleDeviceInfo: Device HDMI-1, ID(s): ",
                           "[2] TVitrelleDeviceInfo: Device HDMI-1 (VesaID=, PnpID=), EDID=" + ZeroEdidHex}));
}

TEST_F(ReadFromSystem, EmptyAdapterNameReadsNothing)
{
    EXPECT_FALSE(Info.ReadFromSystem(System, ""));
    ExpectOldIdentityWithoutIds();
    EXPECT_TRUE(Log.Lines().isEmpty());
}

TEST_F(ReadFromSystem, MonitorWithoutEdidIsDefaultMonitor)
{
    System.AddOutput("VGA-1");
    ASSERT_TRUE(Info.ReadFromSystem(System, "VGA-1"));
    EXPECT_EQ(Info.GetVesaID(), "Default_Monitor");
    EXPECT_EQ(Info.GetPnpID(), "VGA-1");
    EXPECT_EQ(Info.GetManufacturer(), "@@@");
    EXPECT_EQ(Info.GetModel(), "Generic display device");
    EXPECT_EQ(Log.Lines().last(),
              "[3] TVitrelleDeviceInfo: Device VGA-1 (VesaID=Default_Monitor, PnpID=VGA-1), EDID=" +
                  ZeroEdidHex);
}

namespace {

// A monitor that the system lists on the adapter but that does not qualify, and what is logged for it.
struct TUnqualifiedCase
{
    const char* Name;
    std::optional<QString> DeviceID;
    std::optional<TSystemValue> HardwareID;
    const char* ErrorLine; // empty: nothing logged at level 1
};

const TUnqualifiedCase UnqualifiedCases[] = {
    {"id without backslashes", QString("MONITOR-VTR2415"), std::nullopt, ""},
    {"id with one backslash", QString("MONITOR\\VTR2415"), std::nullopt, ""},
    {"id of an unknown VESA id", QString("MONITOR\\XYZ0000\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0000"),
     std::nullopt, ""},
    {"driver key of another instance",
     QString("MONITOR\\VTR2415\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0007"), std::nullopt, ""},
    {"no HardwareID", std::nullopt, TSystemValue{TSystemValue::vsMissing, {}}, ""},
    {"HardwareID of another class", std::nullopt, TSystemValue{TSystemValue::vsStrings, {"DISPLAY\\VTR2415"}},
     ""},
    {"empty HardwareID", std::nullopt, TSystemValue{TSystemValue::vsStrings, {"", "MONITOR\\VTR2415"}}, ""},
    {"unreadable HardwareID", std::nullopt, TSystemValue{TSystemValue::vsUnreadable, {}},
     "[1] TVitrelleDeviceInfo: Error while reading EDID value"},
    {"HardwareID of another type", std::nullopt, TSystemValue{TSystemValue::vsOtherType, {}},
     "[1] TVitrelleDeviceInfo: EDID value type is not MULTI_SZ"},
};

void PrintTo(const TUnqualifiedCase& c, std::ostream* os)
{
    *os << c.Name;
}

class UnqualifiedMonitor : public ::testing::TestWithParam<TUnqualifiedCase>
{
};

} // namespace

TEST_P(UnqualifiedMonitor, LeavesTheIdsEmptyAndTheStartUpGoing)
{
    const TUnqualifiedCase& c = GetParam();
    TLogCapture log;
    TSimulatedDisplaySystem system;
    {
        auto& o = system.AddOutput("HDMI-1", OfficeMonitor());
        o.DeviceID = c.DeviceID;
        o.HardwareID = c.HardwareID;
    }
    TVitrelleDeviceInfo info;
    info.SetModel("Kept");

    EXPECT_FALSE(info.ReadFromSystem(system, "HDMI-1"));
    EXPECT_EQ(info.GetVesaID(), "");
    EXPECT_EQ(info.GetModel(), "Kept");
    QStringList expected{"[3] TVitrelleDeviceInfo: Device HDMI-1, ID(s): " +
                         CommaText(ListMonitorIds(system, "HDMI-1"))};
    if (*c.ErrorLine)
        expected << QString::fromUtf8(c.ErrorLine);
    expected << "[2] TVitrelleDeviceInfo: Device HDMI-1 (VesaID=, PnpID=), EDID=" + ZeroEdidHex;
    EXPECT_EQ(log.Lines(), expected);
}

INSTANTIATE_TEST_SUITE_P(Monitors, UnqualifiedMonitor, ::testing::ValuesIn(UnqualifiedCases),
                         [](const auto& info) { return CaseName(info.index, info.param.Name); });

TEST(ReadMultiStringErrors, NameNoValue)
{
    TSimulatedDisplaySystem system;
    system.AddOutput("HDMI-1").HardwareID = TSystemValue{TSystemValue::vsOtherType, {}};
    system.AddOutput("HDMI-2").HardwareID = TSystemValue{TSystemValue::vsUnreadable, {}};
    system.AddOutput("HDMI-3").HardwareID = TSystemValue{TSystemValue::vsStrings, {"A", "B", "", "C"}};
    try {
        ReadMultiString(system, "Default_Monitor", "HDMI-1");
        ADD_FAILURE() << "no error";
    } catch (const EDisplaySystemError& error) {
        EXPECT_EQ(error.Message(), "EDID value type is not MULTI_SZ");
    }
    EXPECT_THROW(ReadMultiString(system, "Default_Monitor", "HDMI-2"), EDisplaySystemError);
    EXPECT_EQ(ReadMultiString(system, "Default_Monitor", "HDMI-3"), (QStringList{"A", "B"}));
    EXPECT_EQ(ReadMultiString(system, "Default_Monitor", "DP-1"), QStringList());
    EXPECT_EQ(ReadMultiString(system, "VTR2415", "HDMI-3"), QStringList());
}

TEST(ReadFromSystemSeveral, LastPresentMonitorWinsAndIdsAreQuoted)
{
    TLogCapture log;
    // Two monitors on one adapter: the adapter lists both ids; a malformed one with a space is quoted.
    class TTwoMonitors : public TSimulatedDisplaySystem
    {
    public:
        QList<TMonitorDevice> AdapterMonitors(const QString& adapterName) const override
        {
            QList<TMonitorDevice> monitors = TSimulatedDisplaySystem::AdapterMonitors("DP-1");
            monitors << TMonitorDevice{"bad id, \"x\"", true}
                     << TSimulatedDisplaySystem::AdapterMonitors("DP-2")
                     << TMonitorDevice{MonitorDeviceId("VTR2415", 0), false};
            return adapterName == "DP-1" ? monitors : QList<TMonitorDevice>();
        }
    } system;
    QByteArray second = OfficeMonitor();
    second.replace(95, 8, "SECOND\n ");
    system.AddOutput("DP-1", OfficeMonitor());
    system.AddOutput("DP-2", second);

    TVitrelleDeviceInfo info;
    ASSERT_TRUE(info.ReadFromSystem(system, "DP-1"));
    EXPECT_EQ(info.GetPnpID(), "DP-2");
    EXPECT_EQ(info.GetModel(), "SECOND");
    EXPECT_EQ(log.Lines().first(),
              "[3] TVitrelleDeviceInfo: Device DP-1, ID(s): "
              "MONITOR\\VTR2415\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0000,\"bad id, \"\"x\"\"\","
              "MONITOR\\VTR2415\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001");
}

namespace {

struct TScoreCase
{
    const char* Name;
    std::array<const char*, 5> Own;   // Model, Manufacturer, Serial, VesaID, PnpID
    std::array<const char*, 5> Other; // as stored in the other info
    int Score;
};

const TScoreCase ScoreCases[] = {
    {"ids only", {"", "", "", "VTR2415", "HDMI-1"}, {"M", "VTR", "S", "VTR2415", "HDMI-1"}, 2},
    {"VESA id in other case", {"", "", "", "VTR2415", "HDMI-1"}, {"", "", "", "vtr2415", "HDMI-1"}, 1},
    {"everything",
     {"Lobby 24", "VTR", "7HX", "VTR2415", "HDMI-1"},
     {"LOBBY 24", "vtr", "7HX", "VTR2415", "HDMI-1"},
     5},
    {"serial case counts", {"", "", "7hx", "", ""}, {"", "", "7HX", "", ""}, 0},
    {"empty own fields add nothing", {"", "", "", "", ""}, {"", "", "", "", ""}, 0},
    // The other's empty model reads as the generic model.
    {"generic model", {"Generic display device", "", "", "", ""}, {"", "", "", "", ""}, 1},
};

TVitrelleDeviceInfo MakeInfo(const std::array<const char*, 5>& fields)
{
    TVitrelleDeviceInfo info;
    info.SetModel(fields[0]);
    info.SetManufacturer(fields[1]);
    info.SetSerial(fields[2]);
    info.SetVesaID(fields[3]);
    info.SetPnpID(fields[4]);
    return info;
}

class MatchScoreCase : public ::testing::TestWithParam<TScoreCase>
{
};

} // namespace

TEST_P(MatchScoreCase, Scores)
{
    const TVitrelleDeviceInfo own = MakeInfo(GetParam().Own);
    const TVitrelleDeviceInfo other = MakeInfo(GetParam().Other);
    EXPECT_EQ(own.MatchScore(other), GetParam().Score);
}

INSTANTIATE_TEST_SUITE_P(Identities, MatchScoreCase, ::testing::ValuesIn(ScoreCases),
                         [](const auto& info) { return CaseName(info.index, info.param.Name); });

TEST(DeviceInfo, TheStoredIdentityNamesTheGenericModelAndEqualityComparesFieldsAsHeld)
{
    const TVitrelleDeviceInfo read = MakeInfo({"", "VTR", "7HX", "VTR2415", "HDMI-1"});
    const TVitrelleDeviceInfo named = read.WithModelNamed();
    EXPECT_EQ(named.Model(), "Generic display device");
    EXPECT_EQ(named.GetSerial(), "7HX");
    EXPECT_NE(named, read) << "an empty model is not the generic one";
    EXPECT_EQ(named.WithModelNamed(), named);
    EXPECT_EQ(read.MatchScore(named), 4) << "an empty own model scores nothing";
    EXPECT_EQ(named.MatchScore(read), 5) << "the other's empty model reads as the generic one";

    TVitrelleDeviceInfo other = named;
    EXPECT_EQ(other, named);
    other.SetManufacturer("vtr");
    EXPECT_NE(other, named) << "a stored identity compares as written";
    EXPECT_EQ(other.MatchScore(named), 5) << "the match ignores letter case";
}

TEST(DeviceInfo, XmlKeepsFieldsInOrder)
{
    TXmlDocument document;
    const TXmlNode root = document.CreateDocumentElement("VitrelleDevice");
    const TVitrelleDeviceInfo info = MakeInfo({"", "VTR", "S <1>", "VTR2415", "HDMI-1"});
    ASSERT_TRUE(info.SaveToXML(&document, root));
    EXPECT_FALSE(info.SaveToXML(&document, TXmlNode()));
    EXPECT_EQ(document.SaveToBytes().trimmed().toStdString(),
              "<VitrelleDevice><DeviceInfo><Model/><Manufacturer>VTR</Manufacturer><Serial>S "
              "&lt;1&gt;</Serial>"
              "<VesaID>VTR2415</VesaID><PnpID>HDMI-1</PnpID></DeviceInfo></VitrelleDevice>");

    TVitrelleDeviceInfo loaded = MakeInfo({"x", "x", "x", "x", "x"});
    ASSERT_TRUE(loaded.LoadFromXML(root));
    EXPECT_EQ(loaded.Model(), "");
    EXPECT_EQ(loaded.GetSerial(), "S <1>");
    EXPECT_EQ(loaded.GetPnpID(), "HDMI-1");

    TXmlDocument bare;
    ASSERT_TRUE(bare.LoadFromBytes("<VitrelleDevice/>"));
    ASSERT_TRUE(loaded.LoadFromXML(bare.DocumentElement()));
    EXPECT_EQ(loaded.GetVesaID(), "");
    EXPECT_FALSE(loaded.LoadFromXML(TXmlNode()));
}
