#include "ScheduleActionList.h"

#include "Errors.h"
#include "ScheduleSource.h"

#include <algorithm>

int TScheduleActionTimeComparer::Compare(const TScheduleAction* left, const TScheduleAction* right) const
{
    if (left == nullptr || right == nullptr || left->NextTime == right->NextTime)
        return 0;
    return left->NextTime < right->NextTime ? -1 : 1;
}

TScheduleAction* TScheduleActionList::At(qsizetype index) const
{
    if (index < 0 || index >= Count())
        throw EOutOfRange(QStringLiteral("List index out of bounds (%1)").arg(index));
    return FItems[static_cast<size_t>(index)].get();
}

qsizetype TScheduleActionList::IndexOf(const TScheduleAction* action) const
{
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == action)
            return static_cast<qsizetype>(i);
    return -1;
}

TScheduleAction* TScheduleActionList::Add(std::unique_ptr<TScheduleAction> action)
{
    if (action != nullptr && !FOwnsObjects)
        throw EVitrelleError(QStringLiteral("A non-owning action list cannot take an action over"));
    return Add(action.release());
}

TScheduleAction* TScheduleActionList::Add(TScheduleAction* action)
{
    if (action == nullptr)
        return nullptr;
    FItems.push_back(MakeItem(action));
    return action;
}

void TScheduleActionList::Delete(qsizetype index)
{
    At(index); // range check
    FItems.erase(FItems.begin() + index);
}

qsizetype TScheduleActionList::Remove(const TScheduleAction* action)
{
    const qsizetype index = IndexOf(action);
    if (index >= 0)
        FItems.erase(FItems.begin() + index);
    return index;
}

void TScheduleActionList::Clear()
{
    FItems.clear();
}

void TScheduleActionList::Assign(const TScheduleActionList* other, const QDate& today)
{
    if (other == nullptr || other == this)
        return;
    if (!FOwnsObjects) // the clones would belong to nobody
        throw EVitrelleError(QStringLiteral("A non-owning action list cannot hold copies"));
    Clear();
    for (const TScheduleAction* action : *other) {
        std::unique_ptr<TScheduleAction> copy = action->Clone();
        copy->ResetNextTime(today);
        FItems.push_back(MakeItem(copy.release()));
    }
}

bool TScheduleActionList::Equals(const TScheduleActionList* other) const
{
    if (other == nullptr || other->Count() != Count())
        return false;
    for (size_t i = 0; i < FItems.size(); ++i)
        if (!FItems[i]->Equals(other->FItems[i].get()))
            return false;
    return true;
}

TScheduleAction* TScheduleActionList::Find(const QString& sourceName, qint32 actionCode) const
{
    for (const TItem& item : FItems)
        if (item->Action == actionCode && item->Source->GetSourceName() == sourceName)
            return item.get();
    return nullptr;
}

void TScheduleActionList::SortByTime()
{
    const TScheduleActionTimeComparer comparer;
    std::stable_sort(FItems.begin(), FItems.end(), [&comparer](const TItem& left, const TItem& right) {
        return comparer.Compare(left.get(), right.get()) < 0;
    });
}

void TScheduleActionList::RemoveSourceActions(const QString& sourceName)
{
    std::erase_if(FItems,
                  [&sourceName](const TItem& item) { return item->Source->GetSourceName() == sourceName; });
}

void TScheduleActionList::RemoveActionsOf(const IScheduleSource* source)
{
    std::erase_if(FItems, [source](const TItem& item) { return item->Source == source; });
}
