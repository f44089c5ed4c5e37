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
    const std::unique_ptr<TDiapositiveRender> render = TDiapositiveRender::Take(*this);
    return render != nullptr && render->Render(stream);
}

TDiapositiveRender::TDiapositiveRender(const TDiapositive& slide,
                                       std::shared_ptr<const TXsltTemplate> compiled)
    : FId(slide.Id), FTypeName(slide.DiapositiveType->Name), FInput(slide.Node),
      FTemplate(std::move(compiled)), FLimits(slide.DiapositiveType->TransformLimits)
{
}

std::unique_ptr<TDiapositiveRender> TDiapositiveRender::Take(const TDiapositive& slide)
{
    VC_ASSERT_MAIN_THREAD(); // reads the content model and the type registry
    if (slide.Node.IsNull() || slide.DiapositiveType == nullptr)
        return nullptr;
    if (!slide.DiapositiveType->TemplateLoaded())
        slide.DiapositiveType->LoadTemplate();
    std::shared_ptr<const TXsltTemplate> compiled = slide.DiapositiveType->Template();
    if (!compiled)
        return nullptr;
    std::unique_ptr<TDiapositiveRender> render;
    LogErrors(TDiapositive::LogSource,
              [&] { render.reset(new TDiapositiveRender(slide, std::move(compiled))); });
    return render;
}

bool TDiapositiveRender::Render(QIODevice& stream, const std::function<bool()>& stop) const
{
    TTransformLimits limits = FLimits;
    limits.Stop = stop;
    QByteArray page;
    QString engineErrors;
    if (!FTemplate->Transform(FInput, page, engineErrors, limits)) {
        if (stop && stop())
            return false; // nobody waits for this page any more
        return LogErrors(TDiapositive::LogSource, [&] {
            if (!engineErrors.isEmpty())
                WriteLog(TDiapositive::LogSource, 1, engineErrors);
            throw EVitrelleError(QStringLiteral("The XSL transform (template '%1') failed on slide ID = %2")
                                     .arg(FTypeName, FId));
        });
    }
    return LogErrors(TDiapositive::LogSource, [&] {
        if (stream.write(page) != page.size())
            throw EVitrelleError(
                QStringLiteral("Cannot write the page of slide ID = %1: %2").arg(FId, stream.errorString()));
    });
}
