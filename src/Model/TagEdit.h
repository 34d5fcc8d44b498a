#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class TagRowData;
class TagDataModel;

// One change of the tag store, as a value: the store applies it, the history
// keeps it to revert it, the journal writes it. Every change is one of three
// kinds, and the inverse of a change is again one of them.
struct TagEdit {
    enum class Kind : uint8_t { Insert = 1, Remove = 2, Comment = 3 };
    Kind kind = Kind::Insert;
    // Insert and Remove: the tags with their places in the store, by rising
    // place. A place counts with all of the edit's tags present, so inserting
    // in this order and removing in reverse order are exact inverses.
    std::vector<std::pair<size_t, std::shared_ptr<TagRowData>>> rows;
    // Comment: the tag and its comment before and after.
    int64_t index = -1;
    std::string before, after;

    TagEdit inverse() const;

    // A new tag at the end of the store, with the store's next index.
    static TagEdit record(const TagDataModel& store, std::shared_ptr<TagRowData> row);
    // The tags of `store` carrying one of `indexes` (indexes not found are
    // left out); the edit has no rows when none is found.
    static TagEdit remove(const TagDataModel& store, const std::vector<int64_t>& indexes);
    // The comment of the tag with `index` becomes `text`; no edit (kind
    // Comment with index -1) when the store has no such tag.
    static TagEdit comment(const TagDataModel& store, int64_t index, std::string text);
};

// The undo history of one opened video: every step is an edit applied to the
// store; undo applies its inverse, redo the edit again. Unlimited in depth.
class TagHistory {
public:
    // Applies `edit` to `store` as a new step; steps undone before are gone.
    const TagEdit& perform(TagDataModel& store, TagEdit edit);
    // Reverts the last step. Returns the edit applied to the store (the
    // step's inverse), or nullptr when there is nothing to undo.
    const TagEdit* undo(TagDataModel& store);
    // Applies the last undone step again; returns it, or nullptr.
    const TagEdit* redo(TagDataModel& store);
    void clear();
    bool canUndo() const { return !done_.empty(); }
    bool canRedo() const { return !undone_.empty(); }

private:
    std::deque<TagEdit> done_; // a deque: a long history never moves as it grows
    std::deque<TagEdit> undone_;
    TagEdit applied_; // the inverse last applied by undo
};
