#include "ContentFixture.h"

#include <QBuffer>
#include <QFileInfo>

#include <array>
#include <thread>
#include <vector>

namespace {

class Render : public ContentTest
{
protected:
    void SetUp() override
    {
        ContentTest::SetUp();
        RegisterTypes("<DiapositiveType><Name>Page</Name></DiapositiveType>");
    }
    std::shared_ptr<TVitrelle> Slides()
    {
        return Load(
            "<Vitrelle><Diapositive id=\"s1\" type=\"Page\"><Text>caf\xc3\xa9 one</Text></Diapositive>"
            "<Diapositive id=\"s2\" type=\"page\"><Text>two</Text></Diapositive></Vitrelle>");
    }
    static QByteArray RenderOf(const TDiapositive* slide, bool* ok = nullptr)
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        const bool rendered = slide->Render(buffer);
        if (ok)
            *ok = rendered;
        return buffer.data();
    }
};

} // namespace

TEST_F(Render, TemplatesMatchingTheRootOrTheSlideBothRender)
{
    WriteTemplate("Page", PageTemplate);
    auto vitrelle = Slides();
    const QByteArray first = RenderOf(vitrelle->DiapositiveAt(0));
    EXPECT_TRUE(first.contains("<h1>s1</h1>")) << first.constData();
    EXPECT_TRUE(first.contains("caf\xc3\xa9 one"));
    // A second slide of the same type gets its own page, nothing of the first.
    const QByteArray second = RenderOf(vitrelle->DiapositiveAt(1));
    EXPECT_TRUE(second.contains("<h1>s2</h1>"));
    EXPECT_FALSE(second.contains("s1"));
    EXPECT_TRUE(TDiapositiveType::FindType("Page")->TemplateLoaded());

    TDiapositiveType::FreeTypes();
    RegisterTypes("<DiapositiveType><Name>Page</Name></DiapositiveType>");
    WriteTemplate("Page",
                  "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                  "<xsl:output method=\"html\"/><xsl:template match=\"Diapositive\"><div id=\"{@id}\">"
                  "<xsl:value-of select=\"Text\"/></div></xsl:template></xsl:stylesheet>");
    vitrelle = Slides();
    EXPECT_EQ(RenderOf(vitrelle->DiapositiveAt(1)).trimmed(), "<div id=\"s2\">two</div>");
    EXPECT_TRUE(Log.Events().empty()) << Log.Lines().join('\n').toStdString();
}

TEST_F(Render, APageTakenFromTheContentRendersOnOtherThreadsAfterTheContentIsGone)
{
    WriteTemplate("Page", PageTemplate);
    auto vitrelle = Slides();
    std::vector<std::unique_ptr<TDiapositiveRender>> renders;
    for (int i = 0; i < 2; ++i)
        renders.push_back(TDiapositiveRender::Take(*vitrelle->DiapositiveAt(i)));
    // An update frees the content and the types while the pages are still to be made.
    vitrelle.reset();
    TDiapositiveType::FreeTypes();

    // Two displays render at once with one compiled template.
    std::array<QByteArray, 2> pages;
    std::array<bool, 2> rendered{};
    std::vector<std::thread> threads;
    for (size_t i = 0; i < 2; ++i)
        threads.emplace_back([&, i] {
            QBuffer buffer(&pages[i]);
            buffer.open(QIODevice::WriteOnly);
            rendered[i] = renders[i]->Render(buffer);
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_TRUE(rendered[0] && rendered[1]);
    EXPECT_TRUE(pages[0].contains("<h1>s1</h1>")) << pages[0].constData();
    EXPECT_TRUE(pages[0].contains("caf\xc3\xa9 one"));
    EXPECT_TRUE(pages[1].contains("<h1>s2</h1>")) << pages[1].constData();
    EXPECT_TRUE(Log.Events().empty()) << Log.Lines().join('\n').toStdString();
}

TEST_F(Render, OutputFollowsTheStylesheetsEncoding)
{
    WriteTemplate(
        "Page", "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                "<xsl:output method=\"xml\" encoding=\"ISO-8859-1\" omit-xml-declaration=\"yes\"/>"
                "<xsl:template match=\"/\"><p><xsl:value-of select=\"Diapositive/Text\"/></p></xsl:template>"
                "</xsl:stylesheet>");
    auto vitrelle = Slides();
    EXPECT_EQ(RenderOf(vitrelle->DiapositiveAt(0)).trimmed(), QByteArray("<p>caf\xe9 one</p>"));

    TDiapositiveType::FreeTypes();
    RegisterTypes("<DiapositiveType><Name>Page</Name></DiapositiveType>");
    WriteTemplate("Page",
                  "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                  "<xsl:output method=\"text\" encoding=\"UTF-16LE\"/>"
                  "<xsl:template match=\"/\"><xsl:value-of select=\"Diapositive/@id\"/></xsl:template>"
                  "</xsl:stylesheet>");
    vitrelle = Slides();
    EXPECT_EQ(RenderOf(vitrelle->DiapositiveAt(0)), QByteArray("s\0"
                                                               "1\0",
                                                               4));
}

TEST_F(Render, MissingTemplateIsReportedAtEveryAttemptAndThenFound)
{
    auto vitrelle = Slides();
    bool ok = true;
    EXPECT_TRUE(RenderOf(vitrelle->DiapositiveAt(0), &ok).isEmpty());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(RenderOf(vitrelle->DiapositiveAt(1)).isEmpty());
    const QString expected =
        "[1] TDiapositiveType: Cannot find template " + Folder.File("Templates/Page.xsl");
    EXPECT_EQ(Log.Lines(), QStringList({expected, expected}));

    WriteTemplate("Page", PageTemplate);
    EXPECT_TRUE(RenderOf(vitrelle->DiapositiveAt(0), &ok).contains("<h1>s1</h1>"));
    EXPECT_TRUE(ok);
}

TEST_F(Render, BrokenTemplatesAreLoggedAndRetried)
{
    WriteTemplate("Page",
                  "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">");
    auto vitrelle = Slides();
    EXPECT_TRUE(RenderOf(vitrelle->DiapositiveAt(0)).isEmpty());
    ASSERT_EQ(Log.Lines().size(), 1);
    EXPECT_TRUE(Log.Lines().at(0).startsWith("[1] TDiapositiveType: Error while parsing template Page : "))
        << Log.Lines().at(0).toStdString();

    Log.Clear();
    WriteTemplate("Page",
                  "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                  "<xsl:template match=\"/\"><xsl:value-of/></xsl:template></xsl:stylesheet>");
    EXPECT_TRUE(RenderOf(vitrelle->DiapositiveAt(0)).isEmpty());
    ASSERT_EQ(Log.Lines().size(), 1);
    EXPECT_TRUE(Log.Lines().at(0).startsWith("[1] TDiapositiveType: ")) << Log.Lines().at(0).toStdString();
    EXPECT_FALSE(TDiapositiveType::FindType("Page")->TemplateLoaded());

    WriteTemplate("Page", PageTemplate);
    EXPECT_TRUE(RenderOf(vitrelle->DiapositiveAt(0)).contains("<h1>s1</h1>"));
}

TEST_F(Render, AFailingTransformSaysWhichSlide)
{
    WriteTemplate(
        "Page",
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"/\"><p>partial</p><xsl:message terminate=\"yes\">stop here</xsl:message>"
        "</xsl:template></xsl:stylesheet>");
    auto vitrelle = Slides();
    bool ok = true;
    EXPECT_TRUE(RenderOf(vitrelle->DiapositiveAt(1), &ok).isEmpty()) << "no half page";
    EXPECT_FALSE(ok);
    EXPECT_EQ(Log.Lines().last(),
              "[1] TDiapositive: The XSL transform (template 'Page') failed on slide ID = s2");
    EXPECT_TRUE(Log.Contains("stop here")) << "the engine's own words are logged too";
}

TEST_F(Render, SlidesWithoutTypeOrElementRenderNothing)
{
    WriteTemplate("Page", PageTemplate);
    auto vitrelle = Load("<Vitrelle><Diapositive id=\"x\" type=\"Nope\"/></Vitrelle>");
    EXPECT_TRUE(RenderOf(vitrelle->DiapositiveAt(0)).isEmpty());
    TDiapositive bare(0);
    EXPECT_TRUE(RenderOf(&bare).isEmpty());
    EXPECT_TRUE(Log.Events().empty());
}

TEST_F(Render, TemplatesCannotReachOutsideTheirFolders)
{
    const QString secret = Folder.Write("outside/secret.xml", "<secret>TOP-SECRET</secret>");
    Folder.Write("Templates/shared.xml", "<shared>ALLOWED</shared>");
    const QString written = Folder.File("Templates/written.html");
    WriteTemplate("Page",
                  "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" "
                  "xmlns:exsl=\"http://exslt.org/common\" extension-element-prefixes=\"exsl\">"
                  "<xsl:template match=\"/\"><out><xsl:value-of select=\"document('" +
                      secret.toUtf8() +
                      "')\"/>|<xsl:value-of select=\"document('/etc/passwd')\"/>|<xsl:value-of "
                      "select=\"document('http://127.0.0.1:9/x.xml')\"/>|<xsl:value-of select=\"document('" +
                      Folder.File("Templates/shared.xml").toUtf8() +
                      "')\"/></out>"
                      "<exsl:document href=\"" +
                      written.toUtf8() +
                      "\"><p>written</p></exsl:document>"
                      "<xsl:document href=\"" +
                      written.toUtf8() +
                      "\"><p>written</p></xsl:document>"
                      "</xsl:template></xsl:stylesheet>");
    auto vitrelle = Slides();
    const QByteArray page = RenderOf(vitrelle->DiapositiveAt(0));
    EXPECT_FALSE(page.contains("TOP-SECRET"));
    EXPECT_FALSE(page.contains("root:"));
    EXPECT_FALSE(QFileInfo::exists(written)) << "a template never writes files";
    if (!page.isEmpty()) {
        EXPECT_TRUE(page.contains("ALLOWED")) << page.constData();
    }
}

TEST_F(Render, MsxslNodeSetIsUnderstood)
{
    WriteTemplate("Page",
                  "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" "
                  "xmlns:msxsl=\"urn:schemas-microsoft-com:xslt\"><xsl:output method=\"text\"/>"
                  "<xsl:variable name=\"v\"><a>1</a><a>2</a></xsl:variable>"
                  "<xsl:template match=\"/\"><xsl:value-of select=\"count(msxsl:node-set($v)/a)\"/>"
                  "</xsl:template></xsl:stylesheet>");
    auto vitrelle = Slides();
    EXPECT_EQ(RenderOf(vitrelle->DiapositiveAt(0)), "2");
}

// A template that would never end, or would take all memory, is stopped at its bound and fails as any
// broken template does: logged, no page.
struct TBoundCase
{
    const char* Name;
    const char* Body;    // templates besides the stylesheet's frame; "main" is called on the slide
    const char* Stopped; // the log line's reason; null: the page is made
    int MsPerReading;    // how far the clock moves each time it is read
};

void PrintTo(const TBoundCase& c, std::ostream* out)
{
    *out << c.Name;
}

class TransformBound : public Render, public ::testing::WithParamInterface<TBoundCase>
{
};

TEST_P(TransformBound, StopsTheTransformAndFailsTheRender)
{
    WriteTemplate("Page", QByteArray("<xsl:stylesheet version=\"1.0\" "
                                     "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                                     "<xsl:output method=\"html\"/><xsl:template match=\"/\"><html>"
                                     "<xsl:call-template name=\"main\"/></html></xsl:template>") +
                              GetParam().Body + "</xsl:stylesheet>");
    TDiapositiveType* type = TDiapositiveType::FindType("Page");
    // Time passes only when it is read.
    auto now = std::make_shared<std::chrono::milliseconds>(0);
    const std::chrono::milliseconds step(GetParam().MsPerReading);
    type->TransformLimits = {std::chrono::seconds(10), 1024 * 1024, [now, step] { return *now += step; }, {}};
    auto vitrelle = Slides();
    bool ok = false;
    const QByteArray page = RenderOf(vitrelle->DiapositiveAt(0), &ok);
    if (GetParam().Stopped == nullptr) {
        EXPECT_TRUE(ok) << Log.Lines().join('\n').toStdString();
        EXPECT_TRUE(page.contains("<p>")) << page.constData();
        return;
    }
    EXPECT_FALSE(ok);
    EXPECT_TRUE(page.isEmpty());
    EXPECT_EQ(Log.Lines().join('\n').toStdString(),
              std::string("[1] TDiapositive: The transform was stopped: ") + GetParam().Stopped +
                  "\n[1] TDiapositive: The XSL transform (template 'Page') failed on slide ID = s1");
    EXPECT_LT(now->count(), 20000) << "the clock is read now and then, not at every step";
}

// A template calling itself twice, n levels deep: 2^n calls.
#define VC_TWICE(leaf)                                                                                       \
    "<xsl:template name=\"twice\"><xsl:param name=\"n\"/><xsl:param name=\"s\"/><xsl:choose>"                \
    "<xsl:when test=\"$n = 0\">" leaf "</xsl:when><xsl:otherwise>"                                           \
    "<xsl:call-template name=\"twice\"><xsl:with-param name=\"n\" select=\"$n - 1\"/>"                       \
    "<xsl:with-param name=\"s\" select=\"$s\"/></xsl:call-template>"                                         \
    "<xsl:call-template name=\"twice\"><xsl:with-param name=\"n\" select=\"$n - 1\"/>"                       \
    "<xsl:with-param name=\"s\" select=\"$s\"/></xsl:call-template></xsl:otherwise></xsl:choose>"            \
    "</xsl:template>"

INSTANTIATE_TEST_SUITE_P(
    Templates, TransformBound,
    ::testing::Values(
        TBoundCase{"ASmallPagePasses",
                   "<xsl:template name=\"main\"><xsl:call-template name=\"twice\"><xsl:with-param name=\"n\" "
                   "select=\"5\"/></xsl:call-template></xsl:template>" VC_TWICE("<p>leaf</p>"),
                   nullptr, 1000},
        TBoundCase{"CallsWithoutEnd",
                   "<xsl:template name=\"main\"><xsl:call-template name=\"twice\"><xsl:with-param name=\"n\" "
                   "select=\"40\"/></xsl:call-template></xsl:template>" VC_TWICE(""),
                   "it ran longer than 10000 ms", 1000},
        TBoundCase{"OutputWithoutEnd",
                   "<xsl:template name=\"main\"><xsl:call-template name=\"twice\"><xsl:with-param name=\"n\" "
                   "select=\"40\"/><xsl:with-param name=\"s\" select=\"'0123456789abcdef0123456789abcdef'\"/>"
                   "</xsl:call-template></xsl:template>" VC_TWICE("<p><xsl:value-of select=\"$s\"/></p>"),
                   "it took more than 1048576 bytes of memory", 1},
        TBoundCase{
            "AStringDoubledWithoutEnd",
            "<xsl:template name=\"main\"><xsl:call-template name=\"double\"><xsl:with-param name=\"n\" "
            "select=\"40\"/><xsl:with-param name=\"s\" select=\"'ab'\"/></xsl:call-template>"
            "</xsl:template><xsl:template name=\"double\"><xsl:param name=\"n\"/><xsl:param name=\"s\"/>"
            "<xsl:choose><xsl:when test=\"$n = 0\"><xsl:value-of select=\"$s\"/></xsl:when>"
            "<xsl:otherwise><xsl:call-template name=\"double\"><xsl:with-param name=\"n\" "
            "select=\"$n - 1\"/><xsl:with-param name=\"s\" select=\"concat($s, $s)\"/>"
            "</xsl:call-template></xsl:otherwise></xsl:choose></xsl:template>",
            "it took more than 1048576 bytes of memory", 1}),
    [](const auto& info) { return std::string(info.param.Name); });
