#include "Errors.h"
#include "LogCapture.h"
#include "TestFiles.h"
#include "VitrelleCenterAgent.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

class Agent : public ::testing::Test
{
protected:
    TAgentPlatform Platform(bool remote = false, bool xmlAvailable = true)
    {
        TAgentPlatform platform;
        platform.IsRemoteDesktop = [remote] { return remote; };
        platform.XmlLibraryAvailable = [xmlAvailable] { return xmlAvailable; };
        platform.ShowError = [this](const QString& message) { Shown << message; };
        return platform;
    }

    TTempFolder Folder;
    TLogCapture Log{3, false}; // the agent initialises the log itself
    QStringList Shown;
};

// Runs a test body with another current folder, restoring it afterwards.
class TCurrentFolder
{
public:
    explicit TCurrentFolder(const QString& path) : FSaved(QDir::currentPath()) { QDir::setCurrent(path); }
    ~TCurrentFolder() { QDir::setCurrent(FSaved); }

private:
    QString FSaved;
};

} // namespace

TEST_F(Agent, StartsInAnEmptyFolderWithDefaults)
{
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    EXPECT_TRUE(Shown.isEmpty());
    EXPECT_EQ(Log.Lines(),
              QStringList({"[1] TVitrelleCenterSettings: Cannot find configuration file " + Folder.Path() +
                               "/VitrelleCenter.xml",
                           "[3] TVitrelleCenterAgent: VitrelleCenter successfully initialized"}));
    EXPECT_EQ(Log.Events().at(0).Type, etError);
    EXPECT_EQ(Log.Events().at(1).Type, etInformation);
    EXPECT_EQ(agent->Settings().GetRepositoryPath(), Folder.Path() + "/Cache/");
}

TEST_F(Agent, NotesARemoteDesktopFirst)
{
    Folder.Write("VitrelleCenter.xml", "<VitrelleCenter/>");
    auto agent = CreateAgent(Folder.Path(), Platform(true));
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(Log.Lines(), QStringList({"[3] TVitrelleCenterAgent: Remote desktop detected",
                                        "[3] TVitrelleCenterAgent: VitrelleCenter successfully initialized"}));
}

TEST_F(Agent, LoadsTheSettingsFileAndIgnoresAnUnparsableOne)
{
    Folder.Write("VitrelleCenter.xml", "<VitrelleCenter><HttpSettings><Login>kiosk</Login></HttpSettings>"
                                       "</VitrelleCenter>");
    auto agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(agent->Settings().HttpSettings().Login, "kiosk");
    agent.reset();
    Log.Clear();

    Folder.Write("VitrelleCenter.xml", "<VitrelleCenter><HttpSettings>");
    agent = CreateAgent(Folder.Path(), Platform());
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(agent->Settings().HttpSettings().Login, "");
    EXPECT_EQ(Log.Lines(), QStringList{"[3] TVitrelleCenterAgent: VitrelleCenter successfully initialized"});
}

TEST_F(Agent, MissingXmlLibraryEndsTheStartUpWithItsMessage)
{
    auto agent = CreateAgent(Folder.Path(), Platform(false, false));
    EXPECT_EQ(agent, nullptr);
    EXPECT_EQ(Shown, QStringList{"VitrelleCenter needs the libxml2 and libxslt libraries to be installed.\r\n"
                                 "Please run the setup again to install these libraries."});
    EXPECT_TRUE(Log.Events().empty()) << "the check runs before the log exists";
}

TEST_F(Agent, FoldersAreMadeAbsoluteAndCreated)
{
    TVitrelleCenterAgent agent(Folder.Path(), Platform());
    EXPECT_EQ(agent.GetDeviceFolder(), Folder.Path() + "/Devices/");
    EXPECT_TRUE(QFileInfo(Folder.File("Devices")).isDir());
    EXPECT_EQ(agent.GetTemplateFolder(), Folder.Path() + "/Templates/");
    EXPECT_TRUE(QFileInfo(Folder.File("Templates")).isDir());

    // A relative configured folder counts against the current folder.
    TTempFolder current;
    QDir().mkpath(current.File("devs"));
    TCurrentFolder inCurrent(current.Path());
    agent.Settings().SetDevicePath("devs");
    EXPECT_EQ(agent.GetDeviceFolder(), current.Path() + "/devs/");

    // A relative application folder as well, with its missing parents.
    TVitrelleCenterAgent relative("app/nested", Platform());
    EXPECT_EQ(relative.GetTemplateFolder(), current.Path() + "/app/nested/Templates/");
    EXPECT_TRUE(QFileInfo(current.File("app/nested/Templates")).isDir());
}

TEST_F(Agent, AFolderThatCannotBeCreatedIsAnError)
{
    Folder.Write("Devices", "a file where the folder should be");
    TVitrelleCenterAgent agent(Folder.Path(), Platform());
    EXPECT_THROW(agent.GetDeviceFolder(), EFileError);
}
