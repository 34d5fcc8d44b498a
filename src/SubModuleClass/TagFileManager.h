#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Model/DataModel.h"

// The tag CSV file: one writer for the session form (with exact seconds in a
// sixth column) and the export form, one reader for both.
class TagFileManager {
public:
    // The header line, without its line feed.
    static constexpr std::string_view kHeader = "Team, INDEX, 再生時刻, タグ内容, コメント";

    // Writes atomically. Returns an empty text on success, else the reason; on
    // failure an existing file at saveUrl is left as it was.
    static std::string saveCSVFile(const std::filesystem::path& saveUrl,
                                   const std::vector<std::shared_ptr<TagRowData>>& saveData,
                                   bool extraDetailTime);

    // The tags of the file in file order, indexed 0, 1, 2, ...; empty when the
    // file is missing or unreadable (the reason goes to the system log).
    static std::vector<std::shared_ptr<TagRowData>>
    loadCSVFile(const std::filesystem::path& loadUrl);

    // The file text the writer produces, for callers that write it elsewhere.
    static std::string csvText(const std::vector<std::shared_ptr<TagRowData>>& saveData,
                               bool extraDetailTime);

    // The session file beside a video: the last '.'-piece of the path becomes
    // "csv". Only the file name's extension is replaced; folders are never
    // touched, so a path whose folders hold dots (or runs of dots) still points
    // into the video's own folder. A name without an extension gets ".csv"
    // added. Empty for an empty path.
    static std::string sessionFilePath(const std::string& videoPath);
};
