#include "Edid.h"
#include "LogCapture.h"
#include "MonitorIds.h"
#include "SimulatedDisplaySystem.h"
#include "TestFiles.h"
#include "VitrelleDeviceInfo.h"
#include "VitrelleDeviceSettings.h"

#include <gtest/gtest.h>

namespace {

QByteArray EdidFile(const char* name)
{
    return ReadFileBytes(TestDataPath(QStringLiteral("edid/") + QString::fromUtf8(name)));
}

// Identity of the displays in tests/data/edid, read end to end through the simulated system.
struct TEdidFileCase
{
    const char* File;
    int Size;
    const char* VesaID;
    const char* Manufacturer;
    const char* Model; // as GetModel gives it
    const char* Serial;
};

const TEdidFileCase EdidFileCases[] = {
    {"office-monitor.bin", 128, "VTR2415", "VTR", "LOBBY 24", "7HX42A1"},
    {"no-serial.bin", 128, "KQM0A2F", "KQM", "KQ2700", ""},
    {"no-descriptors.bin", 128, "PXN0001", "PXN", "Generic display device", ""},
    {"tv-256.bin", 256, "TVW5501", "TVW", "WALL TV 55", "SN0001234567"},
    // Extension blocks beyond the first: no read error, the first 256 bytes decide.
    {"tv-384.bin", 384, "HLT6502", "HLT", "HALL TV 65", "HT65-0099"},
    {"tv-512.bin", 512, "HLT7503", "HLT", "HALL TV 75", ""},
};

class EdidFileCase : public ::testing::TestWithParam<TEdidFileCase>
{
protected:
    TLogCapture Log;
};

} // namespace

TEST_P(EdidFileCase, IdentifiesTheDisplay)
{
    const TEdidFileCase& c = GetParam();
    const QByteArray edid = EdidFile(c.File);
    ASSERT_EQ(edid.size(), c.Size);

    TSimulatedDisplaySystem system;
    system.AddOutput("DP-1").Connected = false;
    system.AddOutput("HDMI-1", edid);

    EXPECT_EQ(ListMonitorIds(system, "HDMI-1"),
              QStringList{QStringLiteral("MONITOR\\%1\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001")
                              .arg(QString::fromUtf8(c.VesaID))});
    TVitrelleDeviceInfo info;
    ASSERT_TRUE(info.ReadFromSystem(system, "HDMI-1"));
    EXPECT_EQ(info.GetVesaID(), QString::fromUtf8(c.VesaID));
    EXPECT_EQ(info.GetPnpID(), "HDMI-1");
    EXPECT_EQ(info.GetManufacturer(), QString::fromUtf8(c.Manufacturer));
    EXPECT_EQ(info.GetModel(), QString::fromUtf8(c.Model));
    EXPECT_EQ(info.GetSerial(), QString::fromUtf8(c.Serial));

    const QStringList lines = Log.Lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1],
              QStringLiteral("[3] TVitrelleDeviceInfo: Device HDMI-1 (VesaID=%1, PnpID=HDMI-1), EDID=%2")
                  .arg(QString::fromUtf8(c.VesaID), EDIDToHex(edid.left(EDIDSize))));
}

INSTANTIATE_TEST_SUITE_P(Displays, EdidFileCase, ::testing::ValuesIn(EdidFileCases),
                         [](const auto& info) { return CaseName(info.index, info.param.File); });

namespace {

// Descriptor texts at the byte level: a zero buffer with the given bytes written at their offsets.
struct TDescriptorCase
{
    const char* Name;
    std::vector<std::pair<int, QByteArray>> Writes;
    QByteArray ExpectedModel;
};

QByteArray Tagged(char tag, const QByteArray& text)
{
    return QByteArray("\0\0\0", 3) + tag + QByteArray(1, '\0') + text;
}

const QByteArray ModelTag("\0\0\0\xFC", 4);

const TDescriptorCase DescriptorCases[] = {
    {"line feed and spaces after the text", {{54, Tagged('\xFC', "ABC\n         ")}}, "ABC"},
    {"padded with NULs", {{54, Tagged('\xFC', QByteArray("ABC\0\0\0\0\0\0\0\0\0\0", 13))}}, "ABC"},
    {"padded with spaces only", {{54, Tagged('\xFC', "ABC          ")}}, "ABC"},
    {"only a line feed and spaces", {{54, Tagged('\xFC', "\n            ")}}, ""},
    {"all thirteen characters", {{54, Tagged('\xFC', "ABCDEFGHIJKLM")}}, "ABCDEFGHIJKLM"},
    {"inner spaces kept", {{54, Tagged('\xFC', "TV 55 LOBBY\n ")}}, "TV 55 LOBBY"},
    {"one leading NUL removed, not two",
     {{54, Tagged('\xFC', QByteArray("\0XY\n", 4))}},
     QByteArray("\0XY", 3)},
    {"second block after a timing descriptor",
     {{54, QByteArray::fromHex("023a801871382d40582c4500132b2100001e")}, {72, Tagged('\xFC', "SECOND\n")}},
     "SECOND"},
    {"lower offset wins", {{90, Tagged('\xFC', "THIRD\n")}, {108, Tagged('\xFC', "FOURTH\n")}}, "THIRD"},
    {"tag inside the block, not at its start",
     {{56, QByteArray::fromHex("000000FC") + "LATE\n"}},
     "\xFC"
     "LATE"},
    {"tag outside the descriptor blocks", {{30, Tagged('\xFC', "HEADER\n")}}, ""},
    {"serial tag is not a model", {{54, Tagged('\xFF', "12345\n")}}, ""},
};

void PrintTo(const TDescriptorCase& c, std::ostream* os)
{
    *os << c.Name;
}

class DescriptorText : public ::testing::TestWithParam<TDescriptorCase>
{
};

} // namespace

TEST_P(DescriptorText, Decodes)
{
    QByteArray edid(EDIDSize, '\0');
    for (const auto& [offset, bytes] : GetParam().Writes)
        edid.replace(offset, bytes.size(), bytes);
    EXPECT_EQ(EDIDDescriptorText(edid, ModelTag).toLatin1(), GetParam().ExpectedModel);
}

INSTANTIATE_TEST_SUITE_P(Blocks, DescriptorText, ::testing::ValuesIn(DescriptorCases),
                         [](const auto& info) { return CaseName(info.index, info.param.Name); });

TEST(Edid, ManufacturerLettersAsWritten)
{
    QByteArray edid(EDIDSize, '\0');
    EXPECT_EQ(EDIDManufacturer(edid), "@@@");
    edid[8] = 0x04;
    edid[9] = 0x43;
    EXPECT_EQ(EDIDManufacturer(edid), "ABC");
    edid[8] = char(0xFF); // the reserved top bit is not masked
    edid[9] = char(0xFF);
    EXPECT_EQ(EDIDManufacturer(edid), QString::fromLatin1("\x7F\x5F\x5F"));
}

TEST(Edid, DamagedBlocksDecodeWithoutError)
{
    TVitrelleDeviceInfo info;
    info.ParseEDID(QByteArray(EDIDSize, '\0'));
    EXPECT_EQ(info.GetManufacturer(), "@@@");
    EXPECT_EQ(info.GetModel(), "Generic display device");
    EXPECT_EQ(info.GetSerial(), "");

    // Cut inside the name descriptor: what is there is read, the rest counts as zero.
    info.ParseEDID(EdidFile("office-monitor.bin").left(97));
    EXPECT_EQ(info.GetManufacturer(), "VTR");
    EXPECT_EQ(info.GetModel(), "LO");
    EXPECT_EQ(info.GetSerial(), "");
    info.ParseEDID(QByteArray());
    EXPECT_EQ(info.GetManufacturer(), "@@@");

    // Header, checksum and version are not looked at.
    QByteArray edid = EdidFile("office-monitor.bin");
    edid[0] = 'X';
    edid[18] = 9;
    edid[127] = 0;
    info.ParseEDID(edid);
    EXPECT_EQ(info.GetModel(), "LOBBY 24");
}

TEST(Edid, HexHasSixteenDigitsPerByte)
{
    QByteArray edid(EDIDSize, '\0');
    edid[0] = char(0xAB);
    edid[255] = 0x01;
    const QString hex = EDIDToHex(edid);
    ASSERT_EQ(hex.size(), 4096);
    EXPECT_EQ(hex.left(32), "00000000000000AB0000000000000000");
    EXPECT_EQ(hex.right(16), "0000000000000001");
}

TEST(Edid, ReadGivesTwoHundredFiftySixBytes)
{
    TSimulatedDisplaySystem system;
    system.AddOutput("HDMI-1", EdidFile("tv-512.bin"));
    system.AddOutput("HDMI-2", EdidFile("office-monitor.bin"));
    system.AddOutput("VGA-1");

    EXPECT_EQ(ReadEDID(system, "HLT7503", "HDMI-1"), EdidFile("tv-512.bin").left(256));
    EXPECT_EQ(ReadEDID(system, "VTR2415", "HDMI-2"), EdidFile("office-monitor.bin") + QByteArray(128, '\0'));
    EXPECT_EQ(ReadEDID(system, "Default_Monitor", "VGA-1"), QByteArray(256, '\0'));
    EXPECT_EQ(ReadEDID(system, "VTR2415", "HDMI-1"), QByteArray(256, '\0'));
}

TEST(Edid, VesaIdNeedsThreeLetters)
{
    EXPECT_EQ(VesaIdFromEDID(EdidFile("no-serial.bin")), "KQM0A2F");
    EXPECT_EQ(VesaIdFromEDID(QByteArray()), "Default_Monitor");
    EXPECT_EQ(VesaIdFromEDID(QByteArray(256, '\0')), "Default_Monitor");
    // A letter field of 28 would put a backslash into the monitor id and break its splitting.
    QByteArray edid = EdidFile("no-serial.bin");
    edid[8] = char(0x70);
    EXPECT_EQ(VesaIdFromEDID(edid), "Default_Monitor");
}

namespace {

// Descriptor texts with bytes that a settings file cannot hold (XML has no NUL and no control characters
// but tab, line feed and carriage return).
struct TStoredIdentityCase
{
    const char* Name;
    QByteArray Model;  // the 13 text bytes of the model descriptor
    QByteArray Serial; // the 13 text bytes of the serial descriptor
    const char* ExpectedModel;
    const char* ExpectedSerial;
};

const TStoredIdentityCase StoredIdentityCases[] = {
    {"NUL inside the model",
     QByteArray("\0KQ\0"
                "2700\n    ",
                13),
     "SN1\n         ", "KQ2700", "SN1"},
    {"control bytes in both",
     QByteArray("A\x01"
                "B\x1b"
                "C\n       ",
                13),
     QByteArray("\x7\x10"
                "77\n        ",
                13),
     "ABC", "77"},
    {"tab and carriage return kept", "A\tB\rC\n       ", "S\tN\n         ", "A\tB\rC", "S\tN"},
};

void PrintTo(const TStoredIdentityCase& c, std::ostream* os)
{
    *os << c.Name;
}

class StoredIdentity : public ::testing::TestWithParam<TStoredIdentityCase>
{
protected:
    TTempFolder Folder;
};

} // namespace

// The identity decoded from a display's EDID is written to its settings file and compared with the display's
// identity at every start: what is read back must be what was decoded, or the display no longer matches its
// own settings.
TEST_P(StoredIdentity, ReadsBackAsDecoded)
{
    const TStoredIdentityCase& c = GetParam();
    QByteArray edid(EDIDSize, '\0');
    edid.replace(54, 18, Tagged('\xFC', c.Model));
    edid.replace(72, 18, Tagged('\xFF', c.Serial));
    TVitrelleDeviceSettings settings;
    settings.Name = "Hall";
    settings.DeviceInfo().ParseEDID(edid);
    EXPECT_EQ(settings.DeviceInfo().Model(), QString::fromLatin1(c.ExpectedModel));
    EXPECT_EQ(settings.DeviceInfo().GetSerial(), QString::fromLatin1(c.ExpectedSerial));

    const QString path = Folder.File("Hall.xml");
    ASSERT_TRUE(settings.SaveToFile(path));
    TVitrelleDeviceSettings loaded;
    ASSERT_TRUE(loaded.LoadFromFile(path));
    EXPECT_EQ(loaded.DeviceInfo().Model(), settings.DeviceInfo().Model());
    EXPECT_EQ(loaded.DeviceInfo().GetSerial(), settings.DeviceInfo().GetSerial());
    EXPECT_EQ(loaded.DeviceInfo().MatchScore(settings.DeviceInfo()), 3) << "model, manufacturer and serial";
}

INSTANTIATE_TEST_SUITE_P(Texts, StoredIdentity, ::testing::ValuesIn(StoredIdentityCases),
                         [](const auto& info) { return CaseName(info.index, info.param.Name); });
