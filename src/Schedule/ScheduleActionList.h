#pragma once

#include "ScheduleAction.h"

#include <iterator>
#include <memory>
#include <vector>

class IScheduleSource;

// Orders two actions by NextTime; a null action compares equal to anything.
class TScheduleActionTimeComparer
{
public:
    // Negative, zero or positive, as left's NextTime is before, at or after right's.
    int Compare(const TScheduleAction* left, const TScheduleAction* right) const;
};

// An ordered list of actions. An owning list frees an action when it is deleted or removed, when the list is
// cleared and when the list is destroyed; a non-owning list only refers to actions owned elsewhere.
class TScheduleActionList
{
    struct TDeleter
    {
        bool Owns = true;
        void operator()(TScheduleAction* action) const
        {
            if (Owns)
                delete action;
        }
    };
    using TItem = std::unique_ptr<TScheduleAction, TDeleter>;

public:
    explicit TScheduleActionList(bool ownsObjects) : FOwnsObjects(ownsObjects) {}

    TScheduleActionList(const TScheduleActionList&) = delete;
    TScheduleActionList& operator=(const TScheduleActionList&) = delete;
    TScheduleActionList(TScheduleActionList&&) = default;
    // The actions of the list moved over are freed (when owned), as on clearing.
    TScheduleActionList& operator=(TScheduleActionList&&) = default;

    bool OwnsObjects() const { return FOwnsObjects; }
    qsizetype Count() const { return static_cast<qsizetype>(FItems.size()); }
    bool IsEmpty() const { return FItems.empty(); }
    // Raises EOutOfRange for an index outside the list.
    TScheduleAction* At(qsizetype index) const;
    qsizetype IndexOf(const TScheduleAction* action) const;
    bool Contains(const TScheduleAction* action) const { return IndexOf(action) >= 0; }

    // Appends the action (null is ignored). An owning list takes it over; a non-owning list must be given
    // plain references.
    TScheduleAction* Add(std::unique_ptr<TScheduleAction> action);
    TScheduleAction* Add(TScheduleAction* action);
    void Delete(qsizetype index);
    // Removes the action (by identity); its former index, or -1 when it was not in the list.
    qsizetype Remove(const TScheduleAction* action);
    void Clear();

    // Owning lists only: clones of other's actions in other's order, each due today at its time of day.
    void Assign(const TScheduleActionList* other, const QDate& today = QDate::currentDate());
    // Same count and equal actions position by position (next times do not count).
    bool Equals(const TScheduleActionList* other) const;
    // The first action whose source name is exactly sourceName (letter case counts) with the code.
    TScheduleAction* Find(const QString& sourceName, qint32 actionCode) const;
    // Ascending NextTime; actions due at the same moment keep their order.
    void SortByTime();
    // Deletes every action whose source name is exactly sourceName.
    void RemoveSourceActions(const QString& sourceName);
    // Deletes every action of this source object, whatever its name is now.
    void RemoveActionsOf(const IScheduleSource* source);

    class const_iterator
    {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = TScheduleAction*;
        using difference_type = std::ptrdiff_t;
        using pointer = TScheduleAction* const*;
        using reference = TScheduleAction*;

        explicit const_iterator(std::vector<TItem>::const_iterator position) : FPosition(position) {}
        TScheduleAction* operator*() const { return FPosition->get(); }
        const_iterator& operator++()
        {
            ++FPosition;
            return *this;
        }
        bool operator==(const const_iterator& other) const { return FPosition == other.FPosition; }

    private:
        std::vector<TItem>::const_iterator FPosition;
    };
    const_iterator begin() const { return const_iterator(FItems.cbegin()); }
    const_iterator end() const { return const_iterator(FItems.cend()); }

private:
    TItem MakeItem(TScheduleAction* action) const { return TItem(action, TDeleter{FOwnsObjects}); }

    bool FOwnsObjects;
    std::vector<TItem> FItems;
};
