#include "ActionPeriodicity.h"

#include "XmlHelpers.h"

namespace {
const QString PeriodicityAttribute = QStringLiteral("Periodicity");
const QString TimeAttribute = QStringLiteral("Time");
} // namespace

TActionPeriodicity::TActionPeriodicity(quint8 kind, QTime time)
    : Kind(kind), Time(time.isValid() ? time : QTime(0, 0))
{
}

QString TActionPeriodicity::TimeText(TXmlNode element)
{
    return GetAttributeValue(element, TimeAttribute);
}

bool TActionPeriodicity::TimeReadable(TXmlNode element)
{
    return TextToTimeOfDay(TimeText(element)).has_value();
}

void TActionPeriodicity::LoadFromXML(TXmlNode element)
{
    if (element.IsNull())
        return;
    // A number outside a byte is as unreadable as no number: it must not wrap round into a valid kind.
    const std::optional<int> kind = TextToInt(GetAttributeValue(element, PeriodicityAttribute));
    Kind = (kind && *kind >= 0 && *kind <= 255) ? static_cast<quint8>(*kind) : Unset;
    Time = TextToTimeOfDay(GetAttributeValue(element, TimeAttribute)).value_or(QTime(0, 0));
}

void TActionPeriodicity::SaveToXML(TXmlDocument* document, TXmlNode element) const
{
    if (element.IsNull())
        return;
    SetAttributeValue(document, element, PeriodicityAttribute, QString::number(Kind));
    SetAttributeValue(document, element, TimeAttribute, TimeOfDayToText(Time));
}

std::unique_ptr<TActionPeriodicity> TActionPeriodicity::CreateFromXML(TXmlNode element)
{
    if (element.IsNull())
        return nullptr;
    auto periodicity = std::make_unique<TActionPeriodicity>(Unset, QTime(0, 0));
    periodicity->LoadFromXML(element);
    return periodicity;
}

bool TActionPeriodicity::Equals(const TActionPeriodicity* other) const
{
    return other != nullptr && other->Kind == Kind && other->Time.hour() == Time.hour() &&
           other->Time.minute() == Time.minute();
}

void TActionPeriodicity::Assign(const TActionPeriodicity* source)
{
    if (source == nullptr)
        return;
    Kind = source->Kind;
    Time = source->Time;
}
