#pragma once

#include <QString>

#include "VitrelleEntity.h"
#include "VitrelleResource.h"
#include "XmlDocument.h"

#include <QIODevice>

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
    // was produced (false: nothing written).
    bool Render(QIODevice& stream) const;

    QString TypeName;
    TDiapositiveType* DiapositiveType = nullptr; // into the type registry, not owned
    TXmlNode Node;
    std::vector<std::unique_ptr<TVitrelleResource>> Resources;

private:
    std::shared_ptr<const TXmlDocument> FDocument;
};
