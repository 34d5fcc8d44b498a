#pragma once

#include <functional>
#include <memory>

#include "Model/DataModel.h"
#include "codewindow/CodeWindow.h"

// The recording rules of a code window: what a press of a code for a team
// changes in the store, at the video time the clock gives.
//
// - A point code records a tag at the press.
// - A duration code's press starts a tag, open until the next press of the
//   same code for the same team, which ends it there (the row then shows the
//   start and the end). An end before the start (the video taken back
//   meanwhile) is put at the start.
// - Pressing a code of a group ends the open tag of any other code of that
//   group for that team, at the press, in the same step.
// The tags of a press's step are applied in order and undone as one.
class CodeRecorder {
public:
    using Clock = std::function<double()>; // the video's time, in seconds

    CodeRecorder(CodeWindow window, Clock clock);

    const CodeWindow& window() const { return window_; }

    // The change a press of code `code` (its place in the window) for team A
    // (`teamA`) or B makes; apply it as one step. Nothing (an empty Steps
    // edit) for a code the window does not have.
    TagEdit press(const TagDataModel& store, size_t code, bool teamA) const;

    // The open tag of code `code` for the team, or nullptr.
    std::shared_ptr<TagRowData> openTag(const TagDataModel& store, size_t code, bool teamA) const;

private:
    CodeWindow window_;
    Clock clock_;
    // Per code, the codes whose open tag a press of it ends (itself when it
    // lasts, the others of its group).
    std::vector<std::vector<size_t>> ends_;
};
