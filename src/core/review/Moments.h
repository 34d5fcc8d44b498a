#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Model/DataModel.h"
#include "codewindow/CodeWindow.h"

// The label of a tag whose time and end are its moment as they stand, with
// no lead or lag around them (an instance another tool cut is already a
// clip). The group is the one the XML edit list's own label has.
inline constexpr std::string_view kExactRangeGroup = "Rucktag";
inline constexpr std::string_view kExactRangeLabel = "範囲";
bool hasExactRange(const TagRowData& tag);

// 前 and 後: the seconds of video before and after a tag that its moment
// takes, until the user chooses others.
inline constexpr int kDefaultLead = 8;
inline constexpr int kDefaultLag = 4;

// The moment around a tag: from its time less a lead to its time plus a lag.
struct Moment {
    double start = 0.0;
    double end = 0.0;
    // The listed tags it covers, in list order; the first names it.
    std::vector<std::shared_ptr<TagRowData>> tags;
};

// The moments of `listed` (a screen's filtered and sorted rows), in that
// order, with `lead` and `lag` in seconds, clamped to [0, duration] (no upper
// bound when duration is not finite). A tag whose code in `window` has a lead
// or a lag of its own takes that one instead; a tag with an end runs from its
// start less the lead to its end plus the lag. A moment that overlaps or
// touches the one played before it is merged into it. Empty moments (a tag
// past the end) are left out.
std::vector<Moment> makeMoments(const std::vector<std::shared_ptr<TagRowData>>& listed, double lead,
                                double lag, double duration, const CodeWindow* window = nullptr);

// The span of one tag's moment, the rule makeMoments cuts by: from its time
// (or start) less `before` to its time (or end) plus `after`, clamped to
// [0, last]. Empty (end <= start) for a tag past the end. A tag with an end
// and the exact-range label runs from its start to its end, with neither.
std::pair<double, double> tagMoment(const TagRowData& tag, double before, double after,
                                    double last);

// The file name of moment `position` (from 1) when each moment is written on
// its own: "001_A_トライ_0-12-34.mp4". A tag name that would make it longer
// than `maxBytes` (the file system's limit) is cut at a character boundary;
// the position, team, time and ".mp4" stay.
std::string momentFileName(size_t position, const TagRowData& tag, size_t maxBytes = 255);

// Whether `name` begins as a name momentFileName gives ("001_A_", "120_B_",
// ...): the temporary files of a per-moment export carry such names.
bool isMomentFileName(std::string_view name);
