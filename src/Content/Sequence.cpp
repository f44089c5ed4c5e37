#include "Sequence.h"

#include "ContentXml.h"
#include "Enumerators.h"
#include "XmlHelpers.h"

using namespace ContentXml;

namespace {

qint32 IntAttribute(TXmlNode element, const QString& name, qint32 fallback)
{
    return TextToInt(GetAttributeValue(element, name)).value_or(fallback);
}

} // namespace

TSequenceItem::~TSequenceItem() = default;

TEnumerator* TSequenceItem::GetEnumerator(TVitrelle* vitrelle)
{
    if (FEnumerator && FEnumerator->Owner != vitrelle)
        FEnumerator.reset();
    if (!FEnumerator)
        FEnumerator = CreateEnumerator(vitrelle);
    return FEnumerator.get();
}

std::unique_ptr<TEnumerator> TDiapositiveSequenceItem::CreateEnumerator(TVitrelle* vitrelle)
{
    return std::make_unique<TDiapositiveEnumerator>(vitrelle, this);
}

std::unique_ptr<TEnumerator> TVitrelleSequenceItem::CreateEnumerator(TVitrelle* vitrelle)
{
    return std::make_unique<TVitrelleEnumerator>(vitrelle, this);
}

TSequence::~TSequence() = default;

void TSequence::Clear()
{
    FItems.clear();
    Duration = -1;
}

void TSequence::LoadFromNode(TXmlNode element)
{
    if (element.IsNull())
        return;
    Duration = IntAttribute(element, DurationAttribute, -1);
    for (const TXmlNode& child : element.ChildElements()) {
        const QString name = child.Name();
        if (SameTextAscii(name, PlayDiapositiveElement)) {
            auto item = std::make_unique<TDiapositiveSequenceItem>();
            item->TypeName = GetAttributeValue(child, TypeAttribute);
            item->Id = GetAttributeValue(child, IdAttribute);
            item->Count = std::max(1, IntAttribute(child, NbDiapositiveAttribute, 1));
            FItems.push_back(std::move(item));
        } else if (SameTextAscii(name, PlayVitrelleElement)) {
            auto item = std::make_unique<TVitrelleSequenceItem>();
            item->Name = GetAttributeValue(child, NameAttribute);
            item->Count = std::max(1, IntAttribute(child, NbDiapositiveAttribute, 1));
            item->Duration = IntAttribute(child, DurationAttribute, -1);
            item->Order = GetAttributeValue(child, OrderAttribute) == RandomOrder ? soRandom : soInOrder;
            FItems.push_back(std::move(item));
        }
    }
}
