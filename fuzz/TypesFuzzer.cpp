// The slide types file: its types registered, each looked up by name, its paths and media mark read, and
// its template compiled (the templates folder holds one real template, Photo.xsl).
#include "FuzzSupport.h"

#include "DiapositiveType.h"
#include "XmlDocument.h"

namespace {

const QByteArray PhotoTemplate =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:output method=\"html\" encoding=\"UTF-8\"/>"
    "<xsl:template match=\"Diapositive\"><html><body><img src=\"{image/@id}\"/></body></html></xsl:template>"
    "</xsl:stylesheet>";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInitialize();
    const QString templates = FuzzFolder() + QStringLiteral("/Templates");
    TDiapositiveType::SetTemplateFolder(templates);
    SetXmlReadableFolders({templates});
    FuzzWriteFile(QStringLiteral("Templates/Photo.xsl"), PhotoTemplate);
    const QString path =
        FuzzWriteFile(QStringLiteral("Templates/Types.xml"),
                      QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (TDiapositiveType::LoadTypes(path)) {
        int loaded = 0;
        for (const auto& type : TDiapositiveType::Types()) {
            FUZZ_CHECK(TDiapositiveType::FindType(type->Name) != nullptr,
                       QStringLiteral("type %1 is not found by its name").arg(type->Name));
            (void)type->MediaBaseURL();
            (void)type->IsMediaMark(QStringLiteral("image"));
            // Rendering loads the template of each type used; a few are enough per input.
            if (++loaded <= 16)
                type->LoadTemplate();
            (void)type->TemplatePath();
        }
    }
    FuzzResetGlobalState();
    return 0;
}
