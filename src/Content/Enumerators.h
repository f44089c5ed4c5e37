#pragma once

#include <QtGlobal>

#include <vector>

class TDiapositive;
class TDiapositiveSequenceItem;
class TSequenceItem;
class TVitrelle;
class TVitrelleSequenceItem;

// Produces the slides of a vitrelle, forever: after the last it starts again.
class TEnumerator
{
public:
    explicit TEnumerator(TVitrelle* owner) : Owner(owner) {}
    virtual ~TEnumerator() = default;

    TEnumerator(const TEnumerator&) = delete;
    TEnumerator& operator=(const TEnumerator&) = delete;

    virtual TDiapositive* GetCurrent() = 0;
    virtual bool MoveNext() = 0;

    TVitrelle* Owner; // not owned, may be null
    qint32 Position = -1;
};

// The slides of one playDiapositive item, chosen once when the enumerator is made.
class TDiapositiveEnumerator : public TEnumerator
{
public:
    TDiapositiveEnumerator(TVitrelle* owner, TDiapositiveSequenceItem* item);

    TDiapositive* GetCurrent() override;
    bool MoveNext() override;

    TDiapositiveSequenceItem* Item;
    const std::vector<TDiapositive*>& Selection() const { return FSelection; }

private:
    std::vector<TDiapositive*> FSelection;
};

// A whole vitrelle: through its sequence when it has one, otherwise its own slides in order or at random.
// It reads the vitrelle's current content at every call, so a reload in place shows at the next step.
class TVitrelleEnumerator : public TEnumerator
{
public:
    TVitrelleEnumerator(TVitrelle* owner, TVitrelleSequenceItem* item) : TEnumerator(owner), Item(item) {}

    TDiapositive* GetCurrent() override;
    bool MoveNext() override;
    // Milliseconds for each slide: the item's when it sets one, else the owner's sequence's, else -1.
    qint32 Duration() const;

    TVitrelleSequenceItem* Item; // may be null
    qint32 Visits = 0;

private:
    bool HasContent() const;
    bool HasSequence() const;
    TVitrelle* Target(TSequenceItem* item) const;
};
