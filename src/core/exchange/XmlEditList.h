#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Model/DataModel.h"
#include "codewindow/CodeWindow.h"

// The XML edit list the common sports video analysis tools exchange: a file
// element holding ALL_INSTANCES (one instance per event: ID, start, end,
// code, free_text, labels of group and text) and ROWS (each code's colour,
// 16 bits per channel).
//
// Rucktag writes one label of its own on every instance, group "Rucktag",
// text "t=TIME" or "t=TIME;e=END" (END a number, or "open" for a tag whose
// end is still to be pressed): TIME and END are the tag's seconds as the
// shortest decimal that reads back as the same 32-bit float. Other tools
// keep it as an ordinary label; reading it back restores the tag's exact
// time and end, where the instance's start and end are its moment.

// The label group carrying the exact time and end.
inline constexpr std::string_view kRucktagLabelGroup = "Rucktag";
// The label group carrying the team, written "A" or "B".
inline constexpr std::string_view kTeamLabelGroup = "Team";
// The group given to labels that come without one (a tag's labels all have one).
inline constexpr std::string_view kNoGroupLabelGroup = "ラベル";
// Texts of one group repeated on an instance are kept as one text, joined so.
inline constexpr std::string_view kRepeatedLabelJoin = " / ";
// What one file may hold. Past these the file is refused whole: a real edit
// list is far below them, and each is what keeps reading it quick and small.
inline constexpr size_t kMaxEditListBytes = size_t(64) << 20;
inline constexpr size_t kMaxEditListInstances = 200000;
inline constexpr size_t kMaxLabelsPerInstance = 1000;
// The longest code an import takes, in bytes: a longer one is no code a
// person chose, and would keep every list and button that shows it waiting.
inline constexpr size_t kMaxImportedCodeBytes = 256;
inline constexpr size_t kMaxEditListDepth = 64;

// The edit list of `listed` (a screen's rows, in their order): each tag's
// instance runs over its moment (makeMoments of the tag alone: lead, lag,
// the code's own in `window`, clamped to [0, duration]; no upper bound when
// duration is not finite). ROWS give the colour of each code written, from
// `window`, else the standard window, else grey.
// With `match`, each of its periods follows as an instance of a code named
// as the period, spanning it (an open period up to `duration`, or an empty
// instance at its start), with the Rucktag label "period=CLOCK". Its angles
// follow ROWS in a section ANGLES: per <angle> its name, file, offset and
// scale as the match file has them (the reader skips the section).
std::string editListText(const std::vector<std::shared_ptr<TagRowData>>& listed, double lead,
                         double lag, double duration = INFINITY, const CodeWindow* window = nullptr,
                         const MatchInfo* match = nullptr);
// The Rucktag label's text marking a period instance starts so.
inline constexpr std::string_view kPeriodMarker = "period=";

// One instance as the file gives it.
struct EditListInstance {
    std::string id;
    std::string start, end; // the texts; read by the conversion
    std::string code;
    std::string freeText;
    bool hasCode = false;
    // In file order; a label without a group has an empty one.
    std::vector<std::pair<std::string, std::string>> labels;
    size_t line = 0; // where the instance starts, from 1
};

struct EditListRow {
    std::string code;
    std::string color; // "#rrggbb", empty when the row gives none that can be read
};

// What the lenient reader found. What breaks XML's rules is mended and told
// in `mended`, sections it does not know are skipped and named in
// `unknownElements` (each name once, in the order met, the first 50). A file
// past the limits above (or a read cancelled) is refused: `refused` says why
// and nothing else is kept.
struct EditList {
    std::vector<EditListInstance> instances;
    std::vector<EditListRow> rows;
    std::vector<std::string> unknownElements;
    std::vector<std::string> mended; // Japanese, one line each, with the line number
    // Whether the file looks like an edit list at all (an ALL_INSTANCES or
    // an instance element was met).
    bool isEditList = false;
    std::string refused; // Japanese, one line; empty when the file was read
};

// Told how far a read has come (bytes done, of total) now and then; a
// false answer cancels the read.
using ReadProgress = std::function<bool(size_t done, size_t total)>;

// Reads UTF-8 bytes with or without a BOM: entities (named and numeric),
// CDATA, comments, processing instructions, a DOCTYPE; element names
// compared without regard to ASCII case. A bare '&' or '<', an unknown
// entity, invalid UTF-8, an end tag that closes nothing and a file that ends
// inside an element are mended and told, NUL and other control characters
// XML cannot carry are removed and told. Time and memory linear in the size.
EditList readEditList(std::string_view bytes, const ReadProgress& progress = {});

// The same for a file, refused before it is read when it is larger than
// kMaxEditListBytes; `refused` also tells a file that cannot be read.
EditList readEditListFile(const std::string& path, const ReadProgress& progress = {});

// A tag made from an instance, its team still to be settled when the file
// does not say it.
struct ImportedTag {
    std::shared_ptr<TagRowData> tag; // index 0; team meaningful only with `team`
    std::optional<bool> team;        // true = A; empty: asked by code
    size_t line = 0;
};

struct EditListTags {
    std::vector<ImportedTag> tags; // by time (file order among equal times)
    // Japanese lines: instances left out (no code, no readable time, a time
    // that is negative or not finite, an end before the start, past the
    // video's end, too many labels to be written again) and Rucktag labels
    // that could not be read.
    std::vector<std::string> problems;
    // The instances that mark periods: those with a Rucktag label
    // "period=CLOCK", and, from other tools, instances without a team of a
    // code named as a period (前半, 後半, 延長前半, 延長後半, 1st Half,
    // 2nd Half), the clock then the period's usual one. By start; one that
    // overlaps an earlier one is left out and told in `problems`.
    std::vector<MatchPeriod> periods;
};

// The tags of `list`. Time and end from the Rucktag label when it reads,
// otherwise the start, and the end when it is later than the start; such a
// range gets the label kExactRangeGroup = kExactRangeLabel, so that its
// moment is the range itself. Team from the first label of group Team or
// チーム whose text is A or B (any case; that label is then dropped), else
// from a code "A スクラム" / "B スクラム" (the prefix then dropped), else left
// to the caller. The comment is free_text; the other labels are kept:
// without a group under kNoGroupLabelGroup, texts of a repeated group joined
// by kRepeatedLabelJoin. With a finite `duration`, instances starting after
// it are left out.
EditListTags tagsFromEditList(const EditList& list, double duration = INFINITY);

// The codes of `tags` without a team, each once, in order.
std::vector<std::string> unresolvedCodes(const std::vector<ImportedTag>& tags);

// For each of `incoming`, whether a tag of `existing` has the same team,
// name, time and end: a file imported twice. Repeats within `incoming` are
// not marked: a session with two equal tags (a double press) comes back
// whole. Tags without a team are compared with the team they carry.
std::vector<bool> findDuplicates(const std::vector<std::shared_ptr<TagRowData>>& existing,
                                 const std::vector<ImportedTag>& incoming);

// A video beside `sessionPath` whose session file it is (the session-path
// rule, extensions avi, mp4, mts and m2ts in any case); empty when none.
std::string videoBesideSession(const std::string& sessionPath);

// 16-bit colour channels (an 8-bit value × 257) as "#rrggbb", and back.
std::string colorFrom16Bit(uint32_t r, uint32_t g, uint32_t b);
bool colorTo16Bit(std::string_view color, uint32_t& r, uint32_t& g, uint32_t& b);
