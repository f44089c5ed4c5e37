#include "Enumerators.h"

#include "ContentRandom.h"
#include "DiapositiveType.h"
#include "Sequence.h"
#include "Vitrelle.h"
#include "XmlHelpers.h"

namespace {

qint32 VisitLength(const TSequenceItem& item)
{
    return std::max<qint32>(1, item.Count);
}

} // namespace

// ---- TDiapositiveEnumerator ----

TDiapositiveEnumerator::TDiapositiveEnumerator(TVitrelle* owner, TDiapositiveSequenceItem* item)
    : TEnumerator(owner), Item(item)
{
    if (owner == nullptr || item == nullptr)
        return;
    for (TDiapositive* slide : owner->Diapositives()) {
        if (!item->TypeName.isEmpty()) {
            if (slide->DiapositiveType != nullptr &&
                SameTextAscii(slide->DiapositiveType->Name, item->TypeName))
                FSelection.push_back(slide);
        } else if (!item->Id.isEmpty()) {
            if (SameTextAscii(slide->Id, item->Id))
                FSelection.push_back(slide);
        }
    }
}

TDiapositive* TDiapositiveEnumerator::GetCurrent()
{
    if (Position < 0)
        Position = 0;
    return static_cast<size_t>(Position) < FSelection.size() ? FSelection[static_cast<size_t>(Position)]
                                                             : nullptr;
}

bool TDiapositiveEnumerator::MoveNext()
{
    ++Position;
    if (static_cast<size_t>(Position) >= FSelection.size())
        Position = 0;
    return true;
}

// ---- TVitrelleEnumerator ----

bool TVitrelleEnumerator::HasContent() const
{
    return Owner != nullptr && Owner->HasContent();
}

bool TVitrelleEnumerator::HasSequence() const
{
    return Owner != nullptr && Owner->Sequence() != nullptr && !Owner->Sequence()->Items().empty();
}

TVitrelle* TVitrelleEnumerator::Target(TSequenceItem* item) const
{
    if (auto* nested = dynamic_cast<TVitrelleSequenceItem*>(item))
        return Owner->FindNested(nested->Name);
    return Owner;
}

bool TVitrelleEnumerator::MoveNext()
{
    if (!HasContent())
        return false;
    if (HasSequence()) {
        if (Position == -1) {
            Position = 0;
            return false;
        }
        const auto& items = Owner->Sequence()->Items();
        if (Position < 0 || static_cast<size_t>(Position) >= items.size())
            Position = 0; // a reload may have shortened the sequence
        TSequenceItem* item = items[static_cast<size_t>(Position)].get();
        if (Visits < VisitLength(*item) - 1) {
            const bool moved = item->GetEnumerator(Target(item))->MoveNext();
            ++Visits;
            return moved;
        }
        Visits = 0;
        ++Position;
        if (static_cast<size_t>(Position) >= items.size())
            Position = 0;
        return true;
    }
    if (Item == nullptr)
        return false;
    if (Item->Order == soRandom)
        Position = RandomBelow(Owner->EntryCount());
    else
        ++Position;
    if (Position > Owner->EntryCount() - 1)
        Position = 0;
    return true;
}

TDiapositive* TVitrelleEnumerator::GetCurrent()
{
    if (!HasContent())
        return nullptr;
    if (HasSequence()) {
        if (Position == -1)
            MoveNext();
        const auto& items = Owner->Sequence()->Items();
        // Items whose nested vitrelle is missing are skipped whole, whatever their count: the counts come
        // from the server, and a pass over the items must not cost one step per count. One whole pass
        // without a target gives none.
        for (size_t step = 0; step < items.size(); ++step) {
            if (Position < 0 || static_cast<size_t>(Position) >= items.size())
                Position = 0;
            TSequenceItem* item = items[static_cast<size_t>(Position)].get();
            if (TVitrelle* target = Target(item))
                return item->GetEnumerator(target)->GetCurrent();
            Visits = 0;
            if (static_cast<size_t>(++Position) >= items.size())
                Position = 0;
        }
        return nullptr;
    }
    if (Item == nullptr)
        return nullptr;
    if (Position < 0)
        Position = 0;
    if (static_cast<size_t>(Position) >= Owner->Diapositives().size())
        return nullptr;
    return Owner->DiapositiveAt(Position);
}

qint32 TVitrelleEnumerator::Duration() const
{
    if (Item != nullptr && Item->Duration != -1)
        return Item->Duration;
    if (Owner != nullptr && Owner->Sequence() != nullptr)
        return Owner->Sequence()->Duration;
    return -1;
}
