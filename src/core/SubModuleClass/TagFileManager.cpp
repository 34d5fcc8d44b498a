#include "SubModuleClass/TagFileManager.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <unordered_set>

#include "platform/AtomicFile.h"
#include "platform/CSVReader.h"
#include "platform/SystemLog.h"

namespace {

bool hasExtras(const TagRowData& row) {
    return row.end.isSet() || !row.labels.empty();
}

// The end and the labels of `row` as two more fields.
void appendExtras(std::string& text, const TagRowData& row, bool session) {
    text.push_back(',');
    if (row.end.isSet())
        text.append(session ? floatText(row.end.time) : createTimeString(row.end.time));
    text.push_back(',');
    if (!row.labels.empty())
        appendCsvField(text, TagFileManager::labelsText(row.labels), false);
}

} // namespace

std::string TagFileManager::csvText(const std::vector<std::shared_ptr<TagRowData>>& saveData,
                                    bool extraDetailTime, const MatchInfo* match) {
    std::string text;
    size_t estimate = kHeader.size() + kExtraHeader.size() + 1;
    for (const auto& row : saveData)
        estimate += 40 + row->time_string.size() + row->name.size() + row->comment.size();
    text.reserve(estimate);

    // The export keeps one shape for all its lines: the extra fields on every
    // line or on none.
    const bool exportExtras =
        !extraDetailTime && std::any_of(saveData.begin(), saveData.end(),
                                        [](const auto& row) { return hasExtras(*row); });
    // The session file keeps video times only: it is read back.
    const bool matchTimes = !extraDetailTime && match && !match->periods.empty();
    text.append(kHeader);
    if (exportExtras)
        text.append(kExtraHeader);
    if (matchTimes)
        text.append(kMatchTimeHeader);
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
        // Names come from the tag buttons, but a hand-edited file can hold
        // anything: quoted only when the reader would otherwise split it.
        appendCsvField(text, row->name, false);
        text.push_back(',');
        appendCsvField(text, row->comment, true);
        if (extraDetailTime) {
            text.push_back(',');
            text.append(floatText(row->time_val));
            if (hasExtras(*row))
                appendExtras(text, *row, true);
        } else if (exportExtras) {
            appendExtras(text, *row, false);
        }
        if (matchTimes) {
            text.push_back(',');
            appendCsvField(text, matchTimeText(*match, row->time_val), false);
        }
        text.push_back('\n');
    }
    return text;
}

std::string TagFileManager::labelsText(const TagLabels& labels) {
    std::string text;
    const auto escaped = [&text](const std::string& part) {
        for (char c : part) {
            if (c == '\\' || c == '=' || c == ';')
                text.push_back('\\');
            text.push_back(c);
        }
    };
    for (const auto& [group, label] : labels) {
        if (!text.empty())
            text.push_back(';');
        escaped(group);
        text.push_back('=');
        escaped(label);
    }
    return text;
}

bool TagFileManager::readLabelsText(std::string_view text, TagLabels& labels) {
    labels.clear();
    bool whole = true;
    std::string part[2];
    int side = 0; // 0: the group, 1: the text
    // Each group once, found in one look-up: a hostile line of many labels
    // is read in time linear in its length.
    std::unordered_set<std::string> groups;
    const auto finish = [&] {
        if (side == 1 && !part[0].empty() && labels.size() < kMaxLabelsPerTag &&
            groups.insert(part[0]).second)
            labels.emplace_back(std::move(part[0]), std::move(part[1]));
        else
            whole = false;
        part[0].clear();
        part[1].clear();
        side = 0;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            if (++i == text.size()) // the pair it cuts short is lost
                return false;
            part[side].push_back(text[i]);
        } else if (c == ';') {
            finish();
        } else if (c == '=' && side == 0) {
            side = 1;
        } else {
            part[side].push_back(c);
        }
    }
    if (!text.empty())
        finish();
    return whole;
}

std::string TagFileManager::saveCSVFile(const std::filesystem::path& saveUrl,
                                        const std::vector<std::shared_ptr<TagRowData>>& saveData,
                                        bool extraDetailTime) {
    if (saveUrl.empty())
        return "File name is empty";
    return writeFileAtomically(saveUrl, csvText(saveData, extraDetailTime));
}

namespace {

bool isBlank(std::string_view text) {
    return text.find_first_not_of(" \t") == std::string_view::npos;
}

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A field that holds a number and nothing else (spaces around it allowed).
bool isWholeNumber(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+')
        return false;
    double value;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    return res.ptr == text.data() + text.size() &&
           (res.ec == std::errc() || res.ec == std::errc::result_out_of_range);
}

// Seconds of an export-form time field: H:M:S, pieces read like atof.
// `readable` is false unless it is exactly three numbers.
double secondsOfTimeField(std::string_view text, bool& readable) {
    double piece[3];
    int count = 0;
    readable = true;
    forEachTimePiece(text, [&](std::string_view p) {
        if (count == 3) {
            readable = false;
            return false;
        }
        readable = readable && isWholeNumber(p);
        piece[count++] = readDecimal(p);
        return true;
    });
    if (count < 3) {
        readable = false;
        return 0.0;
    }
    return piece[2] + (piece[1] * 60.0 + piece[0] * 3600.0);
}

// The exact seconds as the writer writes them (-?digits(.digits)?, at most 15
// digits): the digits as an integer divided by a power of ten, both exact, is
// the correctly rounded value, the same readDecimal gives. False for anything
// else, which takes the general road.
bool readPlainDecimal(std::string_view text, double& value) {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    i += negative;
    uint64_t digits = 0;
    int count = 0, fraction = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            if (++count > 15)
                return false;
            digits = digits * 10 + static_cast<uint64_t>(c - '0');
            fraction += point;
        } else if (c == '.' && !point && count > 0) {
            point = true;
        } else {
            return false;
        }
    }
    if (count == 0 || (point && fraction == 0))
        return false;
    value = static_cast<double>(digits) / kPow10[fraction];
    if (negative)
        value = -value;
    return true;
}

// What a first line says of the lines after it; `matchTime`: their last
// field is an export's match time, left unread (the time is 再生時刻).
enum class Header { None, Plain, WithExtras };

Header headerOf(const std::vector<std::string_view>& row, bool& matchTime) {
    static constexpr std::string_view names[] = {"Team",     "INDEX",    "再生時刻", "タグ内容",
                                                 "コメント", "終了時刻", "ラベル"};
    if (row.size() < 5)
        return Header::None;
    const bool extras =
        row.size() >= 7 && trimmed(row[5]) == names[5] && trimmed(row[6]) == names[6];
    const size_t named = extras ? 7 : 5;
    matchTime = row.size() > named && trimmed(row[named]) == "試合時間";
    for (size_t i = 0; i < row.size(); ++i)
        if (i < named ? trimmed(row[i]) != names[i]
                      : !(i == named && matchTime) && !isBlank(row[i]))
            return matchTime = false, Header::None;
    return extras ? Header::WithExtras : Header::Plain;
}

// Exact seconds of a session-form field; `readable` false unless it is a
// number and nothing else.
double exactSeconds(std::string_view text, bool& readable) {
    double seconds = 0.0;
    readable = true;
    if (!readPlainDecimal(text, seconds)) {
        seconds = readDecimal(text);
        readable = isWholeNumber(text);
    }
    return seconds;
}

// The end and the labels of a line; false when they could not be read whole.
bool readExtras(std::string_view end, std::string_view labels, bool exact, TagRowData& tag) {
    bool readable = true;
    if (!isBlank(end)) {
        const double seconds =
            exact ? exactSeconds(end, readable) : secondsOfTimeField(end, readable);
        if (readable)
            tag.end = TagEnd::at(static_cast<float>(seconds));
    }
    return TagFileManager::readLabelsText(labels, tag.labels) && readable;
}

// One line of five fields or more into `tag`, its problems into `result`;
// false when its times are none a video has (the line is not read).
bool readLine(const std::vector<std::string_view>& row, Header header, size_t line, TagRowData& tag,
              TagFileManager::LoadResult& result) {
    // Export lines have five fields (seven under a header naming the extras),
    // session lines six (eight with the extras); anything else is read as six.
    const bool exported = row.size() == 5 || (header == Header::WithExtras && row.size() == 7);
    const bool extras = row.size() == 8 || (exported && row.size() == 7);
    bool readable = true;
    const double seconds =
        exported ? secondsOfTimeField(row[2], readable) : exactSeconds(row[5], readable);
    if (row.size() > 6 && !extras)
        result.longRows.push_back(line);
    else if (!readable)
        result.unreadableTimes.push_back(line);
    if (extras && !readExtras(row[row.size() - 2], row.back(), !exported, tag))
        result.unreadableExtras.push_back(line);
    tag.team = row[0] == "A";
    tag.name = row[3];
    tag.comment = row[4];
    tag.time_val = static_cast<float>(seconds);
    tag.time_string = createTimeString(tag.time_val);
    const auto usable = [](float t) { return std::isfinite(t) && t >= 0.0f; };
    if (!usable(tag.time_val) ||
        (tag.end.isSet() && (!usable(tag.end.time) || tag.end.time < tag.time_val))) {
        if (!result.unreadableTimes.empty() && result.unreadableTimes.back() == line)
            result.unreadableTimes.pop_back(); // told as a bad time, and not read
        result.badTimes.push_back(line);
        return false;
    }
    return true;
}

} // namespace

TagFileManager::LoadResult TagFileManager::readCSVFile(const std::filesystem::path& loadUrl) {
    LoadResult result;
    if (loadUrl.empty())
        return result;
    std::string contents;
    if (!readWholeFile(loadUrl, contents, result.error, &result.errorCode)) {
        if (result.errorCode == ENOENT || result.errorCode == ENOTDIR) { // no file: no error
            result.error.clear();
            result.errorCode = 0;
        }
        return result;
    }

    // Records are made in blocks small enough to come from the allocator's
    // pools: one huge block would take fresh pages from the system at every
    // load and zero them first, half the time of a load.
    constexpr size_t kBlock = 256;
    std::shared_ptr<std::vector<TagRowData>> block;
    result.rows.reserve(contents.size() / 40);
    CSVReader reader(std::move(contents));
    std::vector<std::string_view> row;
    if (!reader.next(row)) // the header, whatever it holds
        return result;
    bool matchTime = false;
    const Header header = headerOf(row, matchTime);
    result.headerMissing = header == Header::None && !(row.size() == 1 && isBlank(row[0]));
    while (reader.next(row)) {
        if (const size_t line = reader.unclosedQuoteLine())
            result.unclosedQuotes.push_back(line);
        if (matchTime && row.size() == (header == Header::WithExtras ? 8u : 6u))
            row.pop_back();
        if (row.size() < 5) {
            if (!(row.size() == 1 && isBlank(row[0]))) // an empty line loses nothing
                result.shortRows.push_back(reader.line());
            continue;
        }
        if (!block || block->size() == kBlock) {
            block = std::make_shared<std::vector<TagRowData>>();
            block->reserve(kBlock); // never grows past it: the records stay put
        }
        TagRowData& tag = block->emplace_back();
        // Every record shares its block's ownership.
        result.rows.emplace_back(block, &tag);
        tag.index = static_cast<int64_t>(result.rows.size() - 1);
        if (!readLine(row, header, reader.line(), tag, result)) {
            result.rows.pop_back();
            block->pop_back();
        }
    }
    return result;
}

std::vector<std::shared_ptr<TagRowData>>
TagFileManager::loadCSVFile(const std::filesystem::path& loadUrl) {
    LoadResult result = readCSVFile(loadUrl);
    if (!result.error.empty())
        systemLog(result.error);
    return std::move(result.rows);
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
