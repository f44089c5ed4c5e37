// Rendering one slide through the compiled template against a bare libxslt transform of the same element with
// the same precompiled stylesheet; and loading a large vitrelle file with a sequence.
#include "Diapositive.h"
#include "DiapositiveType.h"
#include "Log.h"
#include "Vitrelle.h"
#include "XmlDocument.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <cstring>
#include <libxml/parser.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>
#include <malloc.h>
#include <sys/resource.h>

namespace {

const char* const SlideTemplate =
    R"XSL(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" encoding="UTF-8"/>
<xsl:template match="/">
<html><head><title><xsl:value-of select="Diapositive/Title"/></title><link rel="stylesheet" href="style.css"/></head>
<body class="{Diapositive/@type}">
<h1><xsl:value-of select="Diapositive/Title"/></h1>
<img src="media/{Diapositive/image/@id}"/>
<ul><xsl:for-each select="Diapositive/Item"><li><xsl:value-of select="."/></li></xsl:for-each></ul>
<p class="price"><xsl:value-of select="format-number(Diapositive/Price, '#,##0.00')"/></p>
</body></html>
</xsl:template>
</xsl:stylesheet>)XSL";

QByteArray SlideElement(int index)
{
    QByteArray slide = "<Diapositive id=\"s" + QByteArray::number(index) +
                       "\" type=\"Offer\"><Title>Offer of the week " + QByteArray::number(index) +
                       "</Title><image id=\"photo" + QByteArray::number(index % 50) + ".jpg\"/>";
    for (int i = 0; i < 6; ++i)
        slide += "<Item>Line " + QByteArray::number(i) + " of the offer, with some words</Item>";
    return slide + "<Price>1234.5</Price></Diapositive>";
}

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Templates folder, types file and a one-slide vitrelle, made once.
struct TFixture
{
    TFixture()
    {
        const QString templates = Folder.filePath("Templates");
        QDir().mkpath(templates);
        WriteFile(templates + "/Offer.xsl", SlideTemplate);
        WriteFile(templates + "/Types.xml",
                  "<DiapositiveTypes><DiapositiveType><Name>Offer</Name><MediaDir>media"
                  "</MediaDir></DiapositiveType></DiapositiveTypes>");
        TDiapositiveType::SetTemplateFolder(templates);
        TDiapositiveType::LoadTypes(templates + "/Types.xml");
        WriteFile(Folder.filePath("one.xml"), "<Vitrelle>" + SlideElement(1) + "</Vitrelle>");
        One = std::make_shared<TVitrelle>("one", -1);
        One->LoadFromFile(Folder.filePath("one.xml"));

        QByteArray big = "<Vitrelle name=\"Big\">";
        for (int i = 0; i < LargeSlides; ++i)
            big += SlideElement(i);
        big += "<Sequence duration=\"8000\"><playDiapositive type=\"Offer\" nbDiapositive=\"5\"/>"
               "<playDiapositive id=\"s7\"/></Sequence></Vitrelle>";
        WriteFile(Folder.filePath("big.xml"), big);
    }

    static constexpr int LargeSlides = 2000;
    QTemporaryDir Folder;
    std::shared_ptr<TVitrelle> One;
};

TFixture& Fixture()
{
    static TFixture fixture;
    return fixture;
}

void BM_RenderSlide(benchmark::State& state)
{
    const TDiapositive* slide = Fixture().One->DiapositiveAt(0);
    QByteArray page;
    for (auto _ : state) {
        page.clear();
        QBuffer buffer(&page);
        buffer.open(QIODevice::WriteOnly);
        if (!slide->Render(buffer))
            state.SkipWithError("render failed");
        benchmark::DoNotOptimize(page.data());
    }
    state.counters["page_bytes"] = static_cast<double>(page.size());
}
BENCHMARK(BM_RenderSlide);

void BM_BareLibxsltTransform(benchmark::State& state)
{
    TFixture& fixture = Fixture();
    // From memory: the process-wide entity loader of the XML layer only lets its readable folders through.
    xmlDocPtr sheetDoc =
        xmlReadMemory(SlideTemplate, static_cast<int>(strlen(SlideTemplate)),
                      qPrintable(fixture.Folder.filePath("Templates/Offer.xsl")), nullptr, 0);
    xsltStylesheetPtr sheet = xsltParseStylesheetDoc(sheetDoc);
    const QByteArray element = SlideElement(1);
    xmlDocPtr input =
        xmlReadMemory(element.constData(), static_cast<int>(element.size()), "slide.xml", nullptr, 0);
    size_t bytes = 0;
    for (auto _ : state) {
        xmlDocPtr result = xsltApplyStylesheet(sheet, input, nullptr);
        xmlChar* text = nullptr;
        int length = 0;
        xsltSaveResultToString(&text, &length, result, sheet);
        bytes = static_cast<size_t>(length);
        QByteArray page(reinterpret_cast<const char*>(text), length);
        benchmark::DoNotOptimize(page.data());
        xmlFree(text);
        xmlFreeDoc(result);
    }
    state.counters["page_bytes"] = static_cast<double>(bytes);
    xmlFreeDoc(input);
    xsltFreeStylesheet(sheet);
}
BENCHMARK(BM_BareLibxsltTransform);

void BM_LoadLargeVitrelle(benchmark::State& state)
{
    TFixture& fixture = Fixture();
    const QString path = fixture.Folder.filePath("big.xml");
    malloc_trim(0);
    const size_t heapBefore = mallinfo2().uordblks;
    size_t heapLoaded = 0;
    for (auto _ : state) {
        auto vitrelle = std::make_shared<TVitrelle>("big", -1);
        if (!vitrelle->LoadFromFile(path) || vitrelle->Diapositives().size() != TFixture::LargeSlides)
            state.SkipWithError("load failed");
        heapLoaded = std::max(heapLoaded, mallinfo2().uordblks - heapBefore);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.SetItemsProcessed(state.iterations() * TFixture::LargeSlides);
    state.counters["heap_MiB_per_loaded_vitrelle"] = static_cast<double>(heapLoaded) / (1024.0 * 1024.0);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["file_KiB"] = static_cast<double>(QFileInfo(path).size()) / 1024.0;
}
BENCHMARK(BM_LoadLargeVitrelle)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    TDiapositiveType::FreeTypes();
    return 0;
}
