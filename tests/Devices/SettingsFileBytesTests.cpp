// The settings files as the program writes them, byte for byte: every file of tests/data/settings is loaded
// and saved, directly and through a copy (as the pages' Apply and Save copy them), and must come out as the
// file of the same name in tests/data/settings/saved, which holds what earlier builds wrote. An installer's
// files and tools compare and patch these files; a change of form is a change of format.
#include "LogCapture.h"
#include "TestFiles.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleDeviceSettings.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <memory>

namespace {

enum class TKind
{
    Device,
    Center
};

struct TBytesCase
{
    const char* File;
    TKind Kind;
};

const TBytesCase BytesCases[] = {
    {"device-full.xml", TKind::Device},         {"device-odd-values.xml", TKind::Device},
    {"device-hand-written.xml", TKind::Device}, {"device-only-root.xml", TKind::Device},
    {"center-full.xml", TKind::Center},         {"center-relative-paths.xml", TKind::Center},
};

// Loads the file and saves it to target, through a copy when copied; false when the file does not load.
bool LoadAndSave(TKind kind, const QString& file, const QString& target, bool copied)
{
    if (kind == TKind::Device) {
        TVitrelleDeviceSettings settings;
        if (!settings.LoadFromFile(file))
            return false;
        if (!copied)
            return settings.SaveToFile(target);
        const TVitrelleDeviceSettings copy = settings;
        return copy == settings && copy.SaveToFile(target);
    }
    TVitrelleCenterSettings settings(QFileInfo(file).absolutePath());
    if (!settings.LoadFromFile(file))
        return false;
    if (!copied)
        return settings.SaveToFile(target);
    const std::unique_ptr<TVitrelleCenterSettings> copy = settings.Clone();
    return copy->Equals(&settings) && copy->SaveToFile(target);
}

class SettingsFileBytes : public ::testing::TestWithParam<TBytesCase>
{
protected:
    TLogCapture Log; // out-of-range values are logged; the bytes are what counts here
    TTempFolder Folder;
};

} // namespace

TEST_P(SettingsFileBytes, SaveWritesWhatEarlierBuildsWrote)
{
    const TBytesCase& c = GetParam();
    const QString input = TestDataPath(QStringLiteral("settings/") + QLatin1String(c.File));
    const QString expectedPath = TestDataPath(QStringLiteral("settings/saved/") + QLatin1String(c.File));
    // VC_WRITE_SAVED_SETTINGS=1 records the files anew (only for a deliberate change of format).
    if (qEnvironmentVariableIsSet("VC_WRITE_SAVED_SETTINGS")) {
        ASSERT_TRUE(LoadAndSave(c.Kind, input, expectedPath, false));
    }
    const QByteArray expected = ReadFileBytes(expectedPath);
    ASSERT_FALSE(expected.isEmpty()) << expectedPath.toStdString();

    const QString direct = Folder.File("direct.xml");
    ASSERT_TRUE(LoadAndSave(c.Kind, input, direct, false));
    EXPECT_EQ(ReadFileBytes(direct), expected) << "loaded and saved";

    const QString copied = Folder.File("copied.xml");
    ASSERT_TRUE(LoadAndSave(c.Kind, input, copied, true));
    EXPECT_EQ(ReadFileBytes(copied), expected) << "loaded, copied and saved";

    const QString again = Folder.File("again.xml");
    ASSERT_TRUE(LoadAndSave(c.Kind, expectedPath, again, false));
    EXPECT_EQ(ReadFileBytes(again), expected) << "a saved file saves unchanged";
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsFileBytes, ::testing::ValuesIn(BytesCases),
                         [](const auto& info) { return CaseName(info.index, info.param.File); });
