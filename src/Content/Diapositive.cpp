#include "Diapositive.h"

#include "ContentXml.h"
#include "DiapositiveType.h"
#include "Errors.h"
#include "Log.h"
#include "LogErrors.h"
#include "MainThread.h"
#include "XmlHelpers.h"

using namespace ContentXml;

void TDiapositive::LoadFromNode(const std::shared_ptr<const TXmlDocument>& document, TXmlNode element)
{
    FDocument = document;
    Node = element;
    Id = GetAttributeValue(element, IdAttribute);
    TypeName = GetAttributeValue(element, TypeAttribute);
    DiapositiveType = TDiapositiveType::FindType(TypeName);
    Resources.clear();
    if (element.IsNull() || DiapositiveType == nullptr)
        return;
    const QString folder = DiapositiveType->Name + QLatin1Char('/') + DiapositiveType->MediaDir;
    for (const TXmlNode& child : element.ChildElements()) {
        if (!DiapositiveType->IsMediaMark(child.Name()))
            continue;
        auto resource =
            std::make_unique<TVitrelleResource>(QString(), DiapositiveType->MediaBaseURL(), folder);
        resource->LoadFromNode(child);
        Resources.push_back(std::move(resource));
    }
}

bool TDiapositive::Render(QIODevice& stream) const
{
    VC_ASSERT_MAIN_THREAD(); // loads the type's template on first use
    if (Node.IsNull() || DiapositiveType == nullptr)
        return false;
    if (!DiapositiveType->TemplateLoaded())
        DiapositiveType->LoadTemplate();
    const std::shared_ptr<const TXsltTemplate> compiled = DiapositiveType->Template();
    if (!compiled)
        return false;
    return LogErrors(LogSource, [&] {
        QByteArray page;
        QString engineErrors;
        if (!compiled->Transform(Node, page, engineErrors, DiapositiveType->TransformLimits)) {
            if (!engineErrors.isEmpty())
                WriteLog(LogSource, 1, engineErrors);
            throw EVitrelleError(QStringLiteral("The XSL transform (template '%1') failed on slide ID = %2")
                                     .arg(DiapositiveType->Name, Id));
        }
        if (stream.write(page) != page.size())
            throw EVitrelleError(
                QStringLiteral("Cannot write the page of slide ID = %1: %2").arg(Id, stream.errorString()));
    });
}
