// A slide type's XSL template compiled and applied to slides. The input is the template, a NUL byte, and a
// vitrelle file whose slides (of any type) are rendered with it.
#include "FuzzSupport.h"

#include "DiapositiveType.h"
#include "Vitrelle.h"
#include "XmlDocument.h"

#include <QBuffer>

namespace {

constexpr int MaxRenderedSlides = 8;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInitialize();
    const TFuzzParts parts = FuzzSplit(data, size);
    const QString templates = FuzzFolder() + QStringLiteral("/Templates");
    const QString cache = FuzzFolder() + QStringLiteral("/Cache");
    TDiapositiveType::SetTemplateFolder(templates);
    SetXmlReadableFolders({templates, cache});
    FuzzWriteFile(QStringLiteral("Templates/T.xsl"), parts.First);
    TDiapositiveType::LoadTypes(FuzzWriteFile(QStringLiteral("Templates/Types.xml"),
                                              "<DiapositiveTypes><DiapositiveType><Name>T</Name>"
                                              "</DiapositiveType></DiapositiveTypes>"));
    TDiapositiveType* type = TDiapositiveType::FindType(QStringLiteral("T"));
    const QString path = FuzzWriteFile(QStringLiteral("Cache/v.xml"), parts.Second);
    {
        auto vitrelle = std::make_shared<TVitrelle>(QStringLiteral("v"), -1);
        if (vitrelle->LoadFromFile(path)) {
            int rendered = 0;
            for (TDiapositive* slide : vitrelle->AllDiapositives()) {
                if (++rendered > MaxRenderedSlides)
                    break;
                // Every slide goes through the fuzzed template, whatever type it names.
                slide->DiapositiveType = type;
                QBuffer page;
                page.open(QIODevice::WriteOnly);
                if (!slide->Render(page))
                    FUZZ_CHECK(page.data().isEmpty(), QStringLiteral("a failed render wrote part of a page"));
            }
        }
    }
    FuzzResetGlobalState();
    return 0;
}
