#include "Sequence.h"

#include "ContentXml.h"
#include "Enumerators.h"
#include "Log.h"
#include "XmlHelpers.h"

#include <QSet>

#include <algorithm>
#include <limits>
#include <mutex>

using namespace ContentXml;

namespace {

qint32 IntAttribute(TXmlNode element, const QString& name, qint32 fallback)
{
    return TextToInt(GetAttributeValue(element, name)).value_or(fallback);
}

// A duration attribute: -1 when absent or not a number, else within range.
qint32 DurationAttributeOf(TXmlNode element, const QString& where)
{
    const std::optional<int> value = TextToInt(GetAttributeValue(element, DurationAttribute));
    if (!value)
        return -1;
    const qint32 played = PlayedSlideDuration(*value);
    if (played != *value) {
        static std::mutex mutex;
        static QSet<QString> reported;
        const QString text = QStringLiteral("%1: a slide duration of %2 ms is below 1 s; slides play %3 ms")
                                 .arg(where, QString::number(*value), QString::number(played));
        const std::lock_guard lock(mutex);
        if (!reported.contains(text)) {
            reported.insert(text);
            WriteLog(TSequence::LogSource, 2, text);
        }
    }
    return played;
}

} // namespace

qint32 PlayedSlideDuration(qint64 milliseconds)
{
    return static_cast<qint32>(
        std::clamp<qint64>(milliseconds, MinSlideDuration, std::numeric_limits<qint32>::max()));
}

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

void TSequence::LoadFromNode(TXmlNode element, const QString& where)
{
    if (element.IsNull())
        return;
    Duration = DurationAttributeOf(element, where);
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
            item->Duration = DurationAttributeOf(child, where);
            item->Order = GetAttributeValue(child, OrderAttribute) == RandomOrder ? soRandom : soInOrder;
            FItems.push_back(std::move(item));
        }
    }
}
