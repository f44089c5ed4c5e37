#pragma once

#include <functional>
#include <memory>

// The three copies behind a page with Apply and Save: the live object the program runs with (not held
// here), the copy the operator edits, and the copy that stands for what the file holds. Apply hands the
// edited copy to the live object; Save writes it to the file. T offers Clone, Assign(const T*) and
// Equals(const T*).
template <class T> class TEditedCopies
{
public:
    // Both copies start as copies of the live object; prepare (when given) adjusts the edited one, as the
    // Settings page expands its paths.
    explicit TEditedCopies(const T& live, const std::function<void(T&)>& prepare = {})
        : FSaved(live.Clone()), FEdited(live.Clone())
    {
        if (prepare)
            prepare(*FEdited);
    }

    T& Edited() { return *FEdited; }
    const T& Edited() const { return *FEdited; }
    const T& Saved() const { return *FSaved; }

    // Apply is worth offering while the live object differs from the edited copy.
    bool CanApply(const T* live) const { return live != nullptr && !FEdited->Equals(live); }
    void Apply(T& live) const { live.Assign(FEdited.get()); }

    // Save is worth offering while the file differs from the edited copy.
    bool CanSave() const { return !FSaved->Equals(FEdited.get()); }
    // Writes a copy of the edited values with write(copy); the saved copy takes them only when the write
    // succeeded, so after a failed save (an unwritable file) Save stays offered and nothing is lost. The
    // write's error reaches the caller.
    void Save(const std::function<void(const T&)>& write)
    {
        std::unique_ptr<T> next = FEdited->Clone();
        write(*next);
        FSaved = std::move(next);
    }

    // Changes both copies alike, for what changed under the page rather than by the operator (a source
    // that appeared or went away): saved first, then edited.
    void Adjust(const std::function<void(T&)>& adjust)
    {
        adjust(*FSaved);
        adjust(*FEdited);
    }

private:
    std::unique_ptr<T> FSaved;
    std::unique_ptr<T> FEdited;
};
