#pragma once

#include <QString>

#include "VitrelleEntity.h"
#include "VitrelleResource.h"
#include "XmlDocument.h"
#include "XsltTemplate.h"

#include <QIODevice>

#include <functional>
#include <memory>
#include <vector>

class TDiapositiveType;

// One slide: its own element of the parsed vitrelle file (the input of its type's template), its type and
// the media its content refers to.
class TDiapositive : public TVitrelleEntity
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TDiapositive"};

    explicit TDiapositive(qint32 index) : TVitrelleEntity(QString(), index) {}

    // Fills the slide from its Diapositive element; the document is kept alive as long as the slide.
    void LoadFromNode(const std::shared_ptr<const TXmlDocument>& document, TXmlNode element);

    // Writes the slide's HTML page into the stream. Never raises: failures are logged. True when the page
    // was produced (false: nothing written). Main thread (TDiapositiveRender renders elsewhere).
    bool Render(QIODevice& stream) const;
    // The parsed vitrelle file the slide comes from; a reload of the content lets it go.
    const std::shared_ptr<const TXmlDocument>& Document() const { return FDocument; }

    QString TypeName;
    TDiapositiveType* DiapositiveType = nullptr; // into the type registry, not owned
    TXmlNode Node;
    std::vector<std::unique_ptr<TVitrelleResource>> Resources;

private:
    std::shared_ptr<const TXmlDocument> FDocument;
};

// What rendering one slide needs, taken from the content model on the main thread and independent of it from
// then on: the slide's element copied, its type's compiled template shared (read-only), the type's bounds.
// An update may replace or free the content while the page is rendered on a worker. Render may be called on
// any thread, and on several at once.
class TDiapositiveRender
{
public:
    // Main thread: compiles the type's template on its first use. Null when the slide has no element or no
    // type, or its type's template does not compile (logged).
    static std::unique_ptr<TDiapositiveRender> Take(const TDiapositive& slide);

    // Writes the page into the stream; never raises, failures are logged (as TDiapositive::Render does). A
    // render abandoned because stop holds (see TTransformLimits::Stop) logs nothing. True when the page was
    // produced (false: nothing written).
    bool Render(QIODevice& stream, const std::function<bool()>& stop = {}) const;

    const QString& Id() const { return FId; }

private:
    TDiapositiveRender(const TDiapositive& slide, std::shared_ptr<const TXsltTemplate> compiled);

    const QString FId;
    const QString FTypeName;
    const TXsltInput FInput;
    const std::shared_ptr<const TXsltTemplate> FTemplate;
    const TTransformLimits FLimits;
};
