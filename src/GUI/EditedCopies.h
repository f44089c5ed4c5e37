#pragma once

#include <functional>
#include <memory>
#include <type_traits>

// The three copies behind a page with Apply and Save: the live object the program runs with (not held
// here), the copy the operator edits, and the copy that stands for what the file holds. Apply hands the
// edited copy to the live object; Save writes it to the file.
//
// T is either a value (copyable, compared with ==: the settings of a display), held here by value, or an
// object that cannot be copied and offers Clone, Assign(const T*) and Equals(const T*) (the schedule, whose
// copies stay bound to the live scheduler; the application settings, whose paths compare as folders), held
// through Clone.
template <class T> class TEditedCopies
{
    static constexpr bool IsValue = std::is_copy_constructible_v<T>;
    using THeld = std::conditional_t<IsValue, T, std::unique_ptr<T>>;

    static THeld Copy(const T& source)
    {
        if constexpr (IsValue)
            return source;
        else
            return source.Clone();
    }
    static T& Get(THeld& held)
    {
        if constexpr (IsValue)
            return held;
        else
            return *held;
    }
    static const T& Get(const THeld& held)
    {
        if constexpr (IsValue)
            return held;
        else
            return *held;
    }
    static bool Same(const T& a, const T& b)
    {
        if constexpr (IsValue)
            return a == b;
        else
            return a.Equals(&b);
    }

public:
    // Both copies start as copies of the live object; prepare (when given) adjusts the edited one, as the
    // Settings page expands its paths.
    explicit TEditedCopies(const T& live, const std::function<void(T&)>& prepare = {})
        : FSaved(Copy(live)), FEdited(Copy(live))
    {
        if (prepare)
            prepare(Edited());
    }

    T& Edited() { return Get(FEdited); }
    const T& Edited() const { return Get(FEdited); }
    const T& Saved() const { return Get(FSaved); }

    // Apply is worth offering while the live object differs from the edited copy.
    bool CanApply(const T* live) const { return live != nullptr && !Same(Edited(), *live); }
    void Apply(T& live) const
    {
        if constexpr (IsValue)
            live = Edited();
        else
            live.Assign(&Edited());
    }

    // Save is worth offering while the file differs from the edited copy.
    bool CanSave() const { return !Same(Saved(), Edited()); }
    // Writes a copy of the edited values with write(copy); the saved copy takes them only when the write
    // succeeded, so after a failed save (an unwritable file) Save stays offered and nothing is lost. The
    // write's error reaches the caller.
    void Save(const std::function<void(const T&)>& write)
    {
        THeld next = Copy(Edited());
        write(Get(next));
        FSaved = std::move(next);
    }

    // Changes both copies alike, for what changed under the page rather than by the operator (a source
    // that appeared or went away): saved first, then edited.
    void Adjust(const std::function<void(T&)>& adjust)
    {
        adjust(Get(FSaved));
        adjust(Edited());
    }

private:
    THeld FSaved;
    THeld FEdited;
};
