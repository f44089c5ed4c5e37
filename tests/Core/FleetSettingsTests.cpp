#include "FleetSettings.h"
#include "TestFiles.h"
#include "VitrelleCenterSettings.h"

#include <gtest/gtest.h>

namespace {

const QByteArray WithoutFleet =
    "<VitrelleCenter><DevicePath>/srv/devices</DevicePath><RepositoryPath/><TemplatePath/>"
    "<VitrelleListFilePath/><TypeFilePath/><HttpSettings><AuthentificationURL/><VitrelleListURL/>"
    "<VitrelleURL/><MediaURL/><Login/><Password/></HttpSettings><VitrelleAutoUpdate>0</VitrelleAutoUpdate>"
    "<VitrelleUpdateTime Periodicity=\"3\" Time=\"00:00:00\"/><MetricsFile>/run/m.prom</MetricsFile>"
    "</VitrelleCenter>";

const QByteArray FleetElement =
    "<Fleet><Host>broker.example</Host><Port>8884</Port><Site>lyon</Site><KioskId>k-7</KioskId>"
    "<User>k-7</User><Password>p&amp;w</Password><CaFile>/etc/ca.pem</CaFile><CertFile>/etc/k.pem</CertFile>"
    "<KeyFile>/etc/k.key</KeyFile><AllowInsecure>0</AllowInsecure></Fleet>";

QByteArray WithFleet()
{
    QByteArray file = WithoutFleet;
    file.insert(file.indexOf("</VitrelleCenter>"), FleetElement);
    return file;
}

} // namespace

// A file without the element loads and saves as before; with it, every child is read and written in its order
// after the other elements.
TEST(FleetSettings, TheElementComesAfterTheOthersAndOnlyWhenSet)
{
    TTempFolder folder;
    for (const QByteArray& content : {WithoutFleet, WithFleet()}) {
        const QString file = folder.Write("VitrelleCenter.xml", content);
        TVitrelleCenterSettings settings(folder.Path());
        ASSERT_TRUE(settings.LoadFromFile(file));
        ASSERT_TRUE(settings.SaveToFile(folder.File("copy.xml")));
        EXPECT_EQ(ReadFileBytes(folder.File("copy.xml")), content);
    }
    TVitrelleCenterSettings settings(folder.Path());
    ASSERT_TRUE(settings.LoadFromFile(folder.File("VitrelleCenter.xml")));
    const TFleetSettings& fleet = settings.Fleet;
    EXPECT_EQ(fleet.Host, "broker.example");
    EXPECT_EQ(fleet.EffectivePort(), 8884);
    EXPECT_EQ(fleet.EffectiveSite(), "lyon");
    EXPECT_EQ(fleet.EffectiveKioskId(), "k-7");
    EXPECT_EQ(fleet.Password, "p&w");
    EXPECT_TRUE(fleet.UsesTls());
    auto copy = settings.Clone();
    EXPECT_TRUE(copy->Equals(&settings));
    copy->Fleet.Site = "paris";
    EXPECT_FALSE(copy->Equals(&settings));

    // Loading a file without the element again forgets the link.
    ASSERT_TRUE(settings.LoadFromFile(folder.Write("other.xml", WithoutFleet)));
    EXPECT_FALSE(settings.Fleet.Enabled());
}

TEST(FleetSettings, PlainMqttToAnotherMachineIsRefusedUnlessAllowed)
{
    struct TCase
    {
        const char* Host;
        const char* CaFile;
        bool AllowInsecure;
        const char* KioskId;
        const char* Problem; // a fragment; empty: accepted
    };
    const TCase cases[] = {
        {"", "", false, "", ""},
        {"127.0.0.1", "", false, "k1", ""},
        {"localhost", "", false, "k1", ""},
        {"::1", "", false, "k1", ""},
        {"broker.example", "", false, "k1", "Plain MQTT to broker.example is refused"},
        {"127.0.0.1.example", "", false, "k1", "Plain MQTT"},
        {"10.0.0.5", "", true, "k1", ""},
        {"broker.example", "/etc/ca.pem", false, "k1", ""},
        {"127.0.0.1", "", false, "shop/7", "cannot be part of a topic"},
        {"127.0.0.1", "", false, "k#", "cannot be part of a topic"},
    };
    for (const TCase& c : cases) {
        TFleetSettings settings;
        settings.Host = c.Host;
        settings.CaFile = c.CaFile;
        settings.AllowInsecure = c.AllowInsecure;
        settings.KioskId = c.KioskId;
        const QString problem = settings.Problem();
        if (QByteArray(c.Problem).isEmpty())
            EXPECT_TRUE(problem.isEmpty()) << c.Host << ": " << problem.toStdString();
        else
            EXPECT_TRUE(problem.contains(QLatin1String(c.Problem)))
                << c.Host << ": " << problem.toStdString();
    }
}
