#include "ContentFixture.h"

using DiapositiveTypes = ContentTest;

TEST_F(DiapositiveTypes, LoadsFieldsDefaultsAndResources)
{
    RegisterTypes(
        "<DiapositiveType><Name>Photo</Name><URL>http://s/photo/%s</URL><MediaDir>pics</MediaDir>"
        "<Resource id=\"style.css\"/><resource id=\"logo.png\" src=\"http://cdn/%s\"/>"
        "<Name>Ignored second name</Name></DiapositiveType>"
        "<DiapositiveType><name>lower</name><MediaMark>picture</MediaMark><MediaURL>http://m/%s</MediaURL>"
        "</DiapositiveType>"
        "<Other><Name>NotAType</Name></Other>");
    ASSERT_EQ(TDiapositiveType::Types().size(), 2u);
    const TDiapositiveType* photo = TDiapositiveType::FindType("PHOTO");
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(photo->Name, "Photo");
    EXPECT_EQ(photo->MediaMark, "image");
    EXPECT_EQ(photo->MediaBaseURL(), "http://s/photo/%s") << "no media URL: the type's URL";
    EXPECT_EQ(photo->MediaDir, "pics");
    ASSERT_EQ(photo->Resources.size(), 2u);
    EXPECT_EQ(photo->Resources[0]->Id, "style.css");
    EXPECT_EQ(photo->Resources[0]->Src, "http://s/photo/%s");
    EXPECT_EQ(photo->Resources[0]->Folder, "Photo");
    EXPECT_EQ(photo->Resources[1]->Src, "http://cdn/%s");
    EXPECT_TRUE(photo->IsMediaMark("IMAGE"));

    const TDiapositiveType* unnamed = TDiapositiveType::Types()[1].get();
    EXPECT_EQ(unnamed->Name, "") << "a lower-case name element is not read";
    EXPECT_EQ(unnamed->MediaBaseURL(), "http://m/%s");
    EXPECT_EQ(unnamed->TemplateFileName(), "");
    EXPECT_EQ(unnamed->TemplatePath(), Folder.File("Templates") + "/") << "the folder itself";
    EXPECT_EQ(photo->TemplatePath(), Folder.File("Templates/Photo.xsl"));
    EXPECT_EQ(TDiapositiveType::FindType("NotAType"), nullptr);
}

TEST_F(DiapositiveTypes, LoadingTwiceRegistersTwiceAndTheFirstIsFound)
{
    RegisterTypes("<DiapositiveType><Name>Photo</Name><URL>first</URL></DiapositiveType>");
    ASSERT_TRUE(TDiapositiveType::LoadTypes(Folder.File("Templates/Types.xml")));
    ASSERT_EQ(TDiapositiveType::Types().size(), 2u);
    EXPECT_EQ(TDiapositiveType::FindType("photo"), TDiapositiveType::Types()[0].get());
    TDiapositiveType::FreeTypes();
    EXPECT_EQ(TDiapositiveType::FindType("photo"), nullptr);
}

TEST_F(DiapositiveTypes, BadTypeFilesAreLoggedAndKeepTheRegistry)
{
    RegisterTypes("<DiapositiveType><Name>Kept</Name></DiapositiveType>");
    const QString missing = Folder.File("Templates/Missing.xml");
    EXPECT_FALSE(TDiapositiveType::LoadTypes(missing));
    const QString broken = Folder.Write("Templates/Broken.xml", "<DiapositiveTypes><DiapositiveType>");
    EXPECT_FALSE(TDiapositiveType::LoadTypes(broken));
    EXPECT_EQ(TDiapositiveType::Types().size(), 1u);
    const QStringList lines = Log.Lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines.at(0), "[1] TDiapositiveType: Cannot find type file " + missing);
    EXPECT_TRUE(
        lines.at(1).startsWith("[1] TDiapositiveType: Error while parsing file type " + broken + " : "))
        << lines.at(1).toStdString();
    // Elements missing from a type leave its defaults.
    ASSERT_TRUE(TDiapositiveType::LoadTypes(
        Folder.Write("Templates/Empty.xml", "<DiapositiveTypes><DiapositiveType/></DiapositiveTypes>")));
    const TDiapositiveType* empty = TDiapositiveType::Types().back().get();
    EXPECT_EQ(empty->Name, "");
    EXPECT_EQ(empty->MediaMark, "image");
    EXPECT_TRUE(empty->Resources.empty());
}

// The lookup by name ignores ASCII letter case only, and the first type registered under a name wins; a
// faster lookup must find exactly what a comparison of each name would.
TEST_F(DiapositiveTypes, LookupIgnoresAsciiCaseOnlyAndFindsTheFirstOfAName)
{
    RegisterTypes("<DiapositiveType><Name>Photo</Name><URL>first</URL></DiapositiveType>"
                  "<DiapositiveType><Name>PHOTO</Name><URL>second</URL></DiapositiveType>"
                  "<DiapositiveType><Name>\xc3\x89t\xc3\xa9</Name><URL>summer</URL></DiapositiveType>"
                  "<DiapositiveType><Name>Stra\xc3\x9f"
                  "e</Name><URL>street</URL></DiapositiveType>"
                  "<DiapositiveType><URL>unnamed</URL></DiapositiveType>");
    const struct
    {
        const char* Name;
        const char* Found; // the type's URL; null: none
    } cases[] = {{"photo", "first"},
                 {"pHoTo", "first"},
                 {"\xc3\x89t\xc3\xa9", "summer"},
                 {"\xc3\xa9t\xc3\xa9", nullptr}, // not ASCII: case counts
                 {"strasse", nullptr},
                 {"STRA\xc3\x9f"
                  "E",
                  "street"},
                 {"", "unnamed"},
                 {"Photo ", nullptr}};
    for (const auto& c : cases) {
        const TDiapositiveType* type = TDiapositiveType::FindType(QString::fromUtf8(c.Name));
        EXPECT_EQ(type != nullptr ? type->URL.toStdString() : std::string("none"),
                  c.Found != nullptr ? std::string(c.Found) : std::string("none"))
            << c.Name;
    }
}
