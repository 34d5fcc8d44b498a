#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Model/DataModel.h"
#include "match/MatchInfo.h"

// The tag CSV file: one writer for the session form (with exact seconds in a
// sixth column) and the export form, one reader for both.
//
// A tag with an end or labels gets two more fields: in the session form a
// seventh (the end in exact seconds, empty when none) and an eighth (the
// labels); in the export form, when any tag written has them, every line
// gets the end as a time text and the labels, under the names 終了時刻 and
// ラベル. Other lines are as they always were. An export of a match with
// periods ends every line with the tag's match time, under 試合時間.
// The most labels one tag keeps: an XML edit list instance holds at most
// 1000, two of them the team and the exact time, so every tag can be
// exchanged and read back whole.
inline constexpr size_t kMaxLabelsPerTag = 998;

class TagFileManager {
public:
    // The header line, without its line feed.
    static constexpr std::string_view kHeader = "Team, INDEX, 再生時刻, タグ内容, コメント";
    // Added to the export's header when its tags have ends or labels.
    static constexpr std::string_view kExtraHeader = ", 終了時刻, ラベル";
    // Last in the export's header when its match has periods.
    static constexpr std::string_view kMatchTimeHeader = ", 試合時間";

    // Writes atomically. Returns an empty text on success, else the reason; on
    // failure an existing file at saveUrl is left as it was.
    static std::string saveCSVFile(const std::filesystem::path& saveUrl,
                                   const std::vector<std::shared_ptr<TagRowData>>& saveData,
                                   bool extraDetailTime);

    // What a read found, beside the tags it could use.
    struct LoadResult {
        std::vector<std::shared_ptr<TagRowData>> rows;
        // Why a file that exists could not be read at all (empty when it was
        // read or is missing), and the errno value behind it.
        std::string error;
        int errorCode = 0;
        // Line numbers (from 1) of the rows that lost something, each row once:
        bool headerMissing = false;           // line 1 held no header (and is not read)
        std::vector<size_t> shortRows;        // fewer than five fields: not read
        std::vector<size_t> longRows;         // seven or more than eight fields: read as six
        std::vector<size_t> unreadableTimes;  // the time is no number: read as 0
        std::vector<size_t> unreadableExtras; // the end or the labels could not be read whole
        // A time that is negative or not finite, or an end before the time or
        // not finite: not read (no video has such a time).
        std::vector<size_t> badTimes;
        // Quoted fields never closed, by the line they start on: their quote
        // was read as text, so that they do not swallow the rows after them.
        std::vector<size_t> unclosedQuotes;
        // Saving over the file would lose something it holds.
        bool damaged() const {
            return !error.empty() || headerMissing || !shortRows.empty() || !longRows.empty() ||
                   !unreadableTimes.empty() || !unreadableExtras.empty() || !badTimes.empty() ||
                   !unclosedQuotes.empty();
        }
    };

    // The tags of the file in file order, indexed 0, 1, 2, ..., and what could
    // not be used. A missing file is no error.
    static LoadResult readCSVFile(const std::filesystem::path& loadUrl);

    // The same, only the tags; empty when the file is missing or unreadable
    // (the reason goes to the system log).
    static std::vector<std::shared_ptr<TagRowData>>
    loadCSVFile(const std::filesystem::path& loadUrl);

    // The file text the writer produces, for callers that write it elsewhere;
    // the export form with the match times of `match` (when it has periods).
    static std::string csvText(const std::vector<std::shared_ptr<TagRowData>>& saveData,
                               bool extraDetailTime, const MatchInfo* match = nullptr);

    // Labels as one field: "group=text" pairs joined by ';', with a backslash,
    // '=' and ';' inside a group or a text written as \\, \= and \;.
    static std::string labelsText(const TagLabels& labels);
    // Reads such a field into `labels` (emptied first); false when some of it
    // could not be read (a pair without '=', an empty or repeated group, a
    // lone backslash at the end, a pair past kMaxLabelsPerTag), whose
    // readable pairs are kept.
    static bool readLabelsText(std::string_view text, TagLabels& labels);

    // The session file beside a video: the last '.'-piece of the path becomes
    // "csv". Only the file name's extension is replaced; folders are never
    // touched, so a path whose folders hold dots (or runs of dots) still points
    // into the video's own folder. A name without an extension gets ".csv"
    // added. Empty for an empty path.
    static std::string sessionFilePath(const std::string& videoPath);
};
