#include "SubModuleClass/TagFileManager.h"

#include <charconv>

#include "SubModuleClass/AtomicFile.h"
#include "SubModuleClass/CSVReader.h"
#include "SubModuleClass/SystemLog.h"

std::string TagFileManager::csvText(const std::vector<std::shared_ptr<TagRowData>>& saveData,
                                    bool extraDetailTime) {
    std::string text;
    size_t estimate = kHeader.size() + 1;
    for (const auto& row : saveData)
        estimate += 40 + row->time_string.size() + row->name.size() + row->comment.size();
    text.reserve(estimate);

    text.append(kHeader);
    text.push_back('\n');
    char number[24];
    size_t position = 0;
    for (const auto& row : saveData) {
        ++position;
        text.push_back(row->team ? 'A' : 'B');
        text.push_back(',');
        const auto res = std::to_chars(number, number + sizeof number, position);
        text.append(number, res.ptr);
        text.push_back(',');
        text.append(row->time_string);
        text.push_back(',');
        text.append(row->name);
        text.append(",\"");
        for (char c : row->comment) {
            if (c == '"')
                text.push_back('"');
            text.push_back(c);
        }
        text.push_back('"');
        if (extraDetailTime) {
            text.push_back(',');
            text.append(floatText(row->time_val));
        }
        text.push_back('\n');
    }
    return text;
}

std::string TagFileManager::saveCSVFile(const std::filesystem::path& saveUrl,
                                        const std::vector<std::shared_ptr<TagRowData>>& saveData,
                                        bool extraDetailTime) {
    if (saveUrl.empty())
        return "File name is empty";
    return writeFileAtomically(saveUrl, csvText(saveData, extraDetailTime));
}

namespace {

// Seconds of an export-form time field: H:M:S, pieces read like atof.
double secondsOfTimeField(std::string_view text) {
    double piece[3];
    int count = 0;
    forEachTimePiece(text, [&](std::string_view p) {
        piece[count++] = readDecimal(p);
        return count < 3;
    });
    if (count < 3)
        return 0.0;
    return piece[2] + (piece[1] * 60.0 + piece[0] * 3600.0);
}

} // namespace

std::vector<std::shared_ptr<TagRowData>>
TagFileManager::loadCSVFile(const std::filesystem::path& loadUrl) {
    std::vector<std::shared_ptr<TagRowData>> result;
    if (loadUrl.empty())
        return result;
    std::error_code ec;
    if (!std::filesystem::exists(loadUrl, ec))
        return result;
    std::string contents, error;
    if (!readWholeFile(loadUrl, contents, error)) {
        systemLog(error);
        return result;
    }

    CSVReader reader(std::move(contents));
    std::vector<std::string_view> row;
    if (!reader.next(row)) // the header, whatever it holds
        return result;
    while (reader.next(row)) {
        if (row.size() < 5)
            continue;
        const double seconds = row.size() == 5 ? secondsOfTimeField(row[2]) : readDecimal(row[5]);
        auto tag = std::make_shared<TagRowData>();
        tag->index = static_cast<int64_t>(result.size());
        tag->team = row[0] == "A";
        tag->name = row[3];
        tag->comment = row[4];
        tag->time_val = static_cast<float>(seconds);
        tag->time_string = createTimeString(tag->time_val);
        result.push_back(std::move(tag));
    }
    return result;
}

std::string TagFileManager::sessionFilePath(const std::string& videoPath) {
    if (videoPath.empty())
        return {};
    const std::filesystem::path video(videoPath);
    const std::string name = video.filename().string();
    if (name.empty() || name == "." || name == "..")
        return {};
    // The file name follows the rule session files have always been named by:
    // split at dots, drop empty pieces, replace the last piece with "csv" and
    // join with single dots. The folder stands before the name as one
    // non-empty piece, so a leading dot of the name survives.
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start <= name.size()) {
        size_t dot = name.find('.', start);
        if (dot == std::string::npos)
            dot = name.size();
        if (dot > start || start == 0)
            pieces.emplace_back(name.data() + start, dot - start);
        start = dot + 1;
    }
    std::string fileName;
    if (pieces.size() < 2) {
        // No extension: add one rather than naming the file just "csv".
        fileName = name.substr(0, name.find_last_not_of('.') + 1) + ".csv";
    } else {
        for (size_t i = 0; i + 1 < pieces.size(); ++i) {
            fileName.append(pieces[i]);
            fileName.push_back('.');
        }
        fileName.append("csv");
    }
    std::string result = (video.parent_path() / fileName).string();
    if (result == videoPath) // a video named *.csv must never be overwritten
        result += ".csv";
    return result;
}
