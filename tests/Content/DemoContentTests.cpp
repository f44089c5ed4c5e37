#include "ContentFixture.h"

#include <QBuffer>

// The content that scripts/demo.sh lays out must load and render.
TEST(DemoContent, LoadsAndEverySlideRenders)
{
    TLogCapture log;
    const QString demo = TestDataPath("../../scripts/demo");
    TDiapositiveType::SetTemplateFolder(demo + "/Templates");
    ASSERT_TRUE(TDiapositiveType::LoadTypes(demo + "/Templates/Types.xml"));
    // Made with ffmpeg when the demo is laid out (scripts/demo-folder.sh), never kept in the repository.
    const auto present = [&](const QString& file) {
        return QFileInfo::exists(demo + "/Cache/" + file) ||
               file == QLatin1String("Video/media/testcard.mp4");
    };
    TVitrelleList list;
    ASSERT_TRUE(list.LoadFromFile(demo + "/Cache/VitrelleList.xml"));
    ASSERT_EQ(list.Count(), 2);
    int media = 0;
    for (const auto& vitrelle : list) {
        ASSERT_TRUE(vitrelle->LoadFromFile(demo + "/Cache/" + vitrelle->Id + ".xml"));
        for (const TDiapositive* slide : vitrelle->AllDiapositives()) {
            QBuffer page;
            page.open(QIODevice::WriteOnly);
            EXPECT_TRUE(slide->Render(page)) << slide->Id.toStdString();
            EXPECT_TRUE(page.data().contains("<html>")) << slide->Id.toStdString();
            for (const auto& resource : slide->Resources) {
                EXPECT_TRUE(present(resource->Folder + "/" + resource->Id)) << resource->Id.toStdString();
                ++media;
            }
        }
    }
    EXPECT_GT(media, 0);
    for (const auto& type : TDiapositiveType::Types())
        for (const auto& resource : type->Resources)
            EXPECT_TRUE(present(resource->Folder + "/" + resource->Id)) << resource->Id.toStdString();
    EXPECT_TRUE(log.Events().empty()) << log.Lines().join('\n').toStdString();
    TDiapositiveType::FreeTypes();
    TDiapositiveType::SetTemplateFolder(QString());
}
