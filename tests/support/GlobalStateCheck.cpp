#include "GlobalStateCheck.h"

#include "ContentRandom.h"
#include "DiapositiveType.h"
#include "Log.h"
#include "PlayRecords.h"
#include "XmlDocument.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

class TGlobalStateListener : public ::testing::EmptyTestEventListener
{
public:
    explicit TGlobalStateListener(std::vector<TStateCheck> checks) : FChecks(std::move(checks)) {}

    void OnTestStart(const ::testing::TestInfo&) override
    {
        FCurrentFolder = QDir::currentPath();
        FTemplateFolder = TDiapositiveType::TemplateFolder();
    }

    void OnTestEnd(const ::testing::TestInfo&) override
    {
        QStringList left;
        if (!TDiapositiveType::Types().empty()) {
            TDiapositiveType::FreeTypes();
            left << QStringLiteral("slide types registered");
        }
        if (TDiapositiveType::TemplateFolder() != FTemplateFolder) {
            TDiapositiveType::SetTemplateFolder(FTemplateFolder);
            left << QStringLiteral("template folder changed");
        }
        if (!XmlReadableFolders().isEmpty()) {
            SetXmlReadableFolders({});
            left << QStringLiteral("XML readable folders set");
        }
        if (RandomSourceReplaced()) {
            SetRandomSource(nullptr);
            left << QStringLiteral("random source replaced");
        }
        if (LogInitialized()) {
            FinalizeLog();
            left << QStringLiteral("log left initialised");
        }
        if (LogSinkOverridden()) {
            SetLogSinkOverride(nullptr);
            left << QStringLiteral("log sink replaced");
        }
        if (PlayRecorder()) {
            SetPlayRecorder(nullptr);
            left << QStringLiteral("play recorder installed");
        }
        if (QDir::currentPath() != FCurrentFolder) {
            QDir::setCurrent(FCurrentFolder);
            left << QStringLiteral("current folder changed");
        }
        for (const TStateCheck& check : FChecks) {
            const QString what = check();
            if (!what.isEmpty())
                left << what;
        }
        EXPECT_TRUE(left.isEmpty()) << "The test left process-wide state changed: "
                                    << left.join(QStringLiteral(", ")).toStdString();
    }

private:
    std::vector<TStateCheck> FChecks;
    QString FCurrentFolder;
    QString FTemplateFolder;
};

} // namespace

void InstallGlobalStateCheck(std::vector<TStateCheck> extraChecks)
{
    ::testing::UnitTest::GetInstance()->listeners().Append(new TGlobalStateListener(std::move(extraChecks)));
}
