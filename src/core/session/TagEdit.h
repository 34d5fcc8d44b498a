#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "match/MatchInfo.h"
#include "session/TagEnd.h"

class TagRowData;
class TagDataModel;

// One change of the tag store, as a value: the store applies it, the history
// keeps it to revert it, the journal writes it. The inverse of a change is
// again a change of the same kinds.
struct TagEdit {
    enum class Kind : uint8_t {
        Insert = 1,
        Remove = 2,
        Comment = 3,
        End = 4,
        Labels = 5,
        Steps = 6,
        Match = 7
    };
    Kind kind = Kind::Insert;
    // Insert and Remove: the tags with their places in the store, by rising
    // place. A place counts with all of the edit's tags present, so inserting
    // in this order and removing in reverse order are exact inverses.
    std::vector<std::pair<size_t, std::shared_ptr<TagRowData>>> rows;
    // Comment, End, Labels: the tag, and its comment, end or labels before
    // and after.
    int64_t index = -1;
    std::string before, after;
    TagEnd endBefore, endAfter;
    TagLabels labelsBefore, labelsAfter;
    // Steps: changes made as one (a press that ends one tag and starts
    // another), applied in order.
    std::vector<TagEdit> steps;
    // Match: the match (teams, periods, players) before and after.
    MatchInfo matchBefore, matchAfter;

    TagEdit inverse() const;

    // A new tag at the end of the store, with the store's next index.
    static TagEdit record(const TagDataModel& store, std::shared_ptr<TagRowData> row);
    // The tags of `store` carrying one of `indexes` (indexes not found are
    // left out); the edit has no rows when none is found.
    static TagEdit remove(const TagDataModel& store, const std::vector<int64_t>& indexes);
    // The comment of the tag with `index` becomes `text`; no edit (kind
    // Comment with index -1) when the store has no such tag.
    static TagEdit comment(const TagDataModel& store, int64_t index, std::string text);
    // The end of the tag with `index` becomes `end`; no edit (index -1) when
    // the store has no such tag.
    static TagEdit end(const TagDataModel& store, int64_t index, TagEnd end);
    // Label `text` of `group` on the tag with `index`: set when the group has
    // none, in place of another text of the group, removed when it is that
    // text already. No edit (index -1) when the store has no such tag.
    static TagEdit label(const TagDataModel& store, int64_t index, const std::string& group,
                         const std::string& text);
    // The match becomes `after` (periods marked, teams named, players chosen).
    static TagEdit match(const TagDataModel& store, MatchInfo after);
    // `parts` as one change; the only part itself when there is one.
    static TagEdit together(std::vector<TagEdit> parts);
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
