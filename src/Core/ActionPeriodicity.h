#pragma once

#include "XmlDocument.h"

#include <QTime>

#include <memory>

// When a scheduled action runs: a kind (0 every day, 1 Monday to Friday, 2 Monday to Saturday, 3 every hour;
// any other value, 255 when unset or unreadable, is no valid kind) and a time of day.
class TActionPeriodicity
{
public:
    static constexpr quint8 EveryDay = 0;
    static constexpr quint8 MondayToFriday = 1;
    static constexpr quint8 MondayToSaturday = 2;
    static constexpr quint8 EveryHour = 3;
    static constexpr quint8 Unset = 255;

    TActionPeriodicity(quint8 kind = Unset, QTime time = QTime(0, 0));

    // The element's time of day as written, and whether it can be read (LoadFromXML takes 00:00 when not).
    static QString TimeText(TXmlNode element);
    static bool TimeReadable(TXmlNode element);

    quint8 Kind = Unset;
    QTime Time;

    bool IsValidKind() const { return Kind <= EveryHour; }

    // Attributes "Periodicity" and "Time" of the element; nothing for a null element.
    void LoadFromXML(TXmlNode element);
    void SaveToXML(TXmlDocument* document, TXmlNode element) const;
    // A new periodicity (unset kind, midnight) loaded from the element; null for a null element.
    static std::unique_ptr<TActionPeriodicity> CreateFromXML(TXmlNode element);

    // Same kind and the same hour and minute (seconds are ignored).
    bool Equals(const TActionPeriodicity* other) const;
    void Assign(const TActionPeriodicity* source);
};
