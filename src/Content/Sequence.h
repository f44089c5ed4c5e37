#pragma once

#include "XmlDocument.h"

#include <QString>

#include <memory>
#include <vector>

class TEnumerator;
class TVitrelle;

// The shortest time a slide plays, in milliseconds: a shorter duration (0, negative) plays this long.
inline constexpr qint32 MinSlideDuration = 1000;
// What a slide duration (milliseconds) plays: at least MinSlideDuration, at most the largest qint32.
qint32 PlayedSlideDuration(qint64 milliseconds);

// One entry of a play sequence: one visit plays Count slides. The item keeps its enumerator between visits,
// which is how it remembers where it stopped.
class TSequenceItem
{
public:
    virtual ~TSequenceItem();

    // The cached enumerator over this vitrelle; one over another vitrelle is replaced.
    TEnumerator* GetEnumerator(TVitrelle* vitrelle);

    qint32 Count = 1; // below 1 acts as 1

protected:
    virtual std::unique_ptr<TEnumerator> CreateEnumerator(TVitrelle* vitrelle) = 0;

private:
    std::unique_ptr<TEnumerator> FEnumerator;
};

// playDiapositive: slides of one type, or the slide of one id.
class TDiapositiveSequenceItem : public TSequenceItem
{
public:
    QString TypeName;
    QString Id;

protected:
    std::unique_ptr<TEnumerator> CreateEnumerator(TVitrelle* vitrelle) override;
};

enum TSequenceOrder : quint8
{
    soInOrder,
    soRandom
};

// playVitrelle: slides of one nested vitrelle (the player also wraps a whole vitrelle in one).
class TVitrelleSequenceItem : public TSequenceItem
{
public:
    QString Name;
    qint32 Duration = -1; // milliseconds, at least MinSlideDuration; -1: not set
    TSequenceOrder Order = soInOrder;

protected:
    std::unique_ptr<TEnumerator> CreateEnumerator(TVitrelle* vitrelle) override;
};

// The play list of one vitrelle, from its Sequence element.
class TSequence
{
public:
    // The name its log lines carry.
    static constexpr QLatin1StringView LogSource{"TSequence"};

    ~TSequence();

    // Appends the items of the element; the caller clears first. A slide duration below MinSlideDuration
    // plays MinSlideDuration: it is logged at level 2 with where (the file) and the value, once for the run
    // (a file is read several times around an update).
    void LoadFromNode(TXmlNode element, const QString& where = {});
    void Clear();

    const std::vector<std::unique_ptr<TSequenceItem>>& Items() const { return FItems; }
    qint32 Duration = -1; // milliseconds, at least MinSlideDuration; -1: not set

private:
    std::vector<std::unique_ptr<TSequenceItem>> FItems;
};
