#include "match/MatchInfo.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/AtomicFile.h"
#include "platform/JsonReader.h"
#include "text/TimeText.h"

namespace {

constexpr std::string_view kFormat = "rucktag-match";
constexpr int kVersion = 1;
constexpr std::array<std::string_view, 2> kTeamKeys = {"A", "B"};

// Shortest text that reads back as the same double.
std::string numberText(double value) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

void writeValue(const JsonValue& v, std::string& out) {
    switch (v.type) {
    case JsonValue::Type::Null:
        out += "null";
        break;
    case JsonValue::Type::Bool:
        out += v.boolean ? "true" : "false";
        break;
    case JsonValue::Type::Number:
        out += numberText(v.number);
        break;
    case JsonValue::Type::String:
        out += jsonString(v.text);
        break;
    case JsonValue::Type::Array:
        out += '[';
        for (size_t i = 0; i < v.items.size(); ++i) {
            if (i > 0)
                out += ", ";
            writeValue(v.items[i], out);
        }
        out += ']';
        break;
    case JsonValue::Type::Object:
        out += '{';
        for (size_t i = 0; i < v.members.size(); ++i) {
            if (i > 0)
                out += ", ";
            out += jsonString(v.members[i].key) + ": ";
            writeValue(v.members[i].value, out);
        }
        out += '}';
        break;
    }
}

std::string lineError(size_t line, std::string_view what) {
    return std::to_string(line) + " 行目: " + std::string(what);
}

bool finiteNumber(const JsonValue* v) {
    return v && v->type == JsonValue::Type::Number && std::isfinite(v->number);
}

bool readPeriod(const JsonValue& v, MatchPeriod& period, std::string& error) {
    if (v.type != JsonValue::Type::Object)
        return error = lineError(v.line, "期間がオブジェクトではありません"), false;
    const JsonValue* name = v.member("name");
    const JsonValue* start = v.member("start");
    const JsonValue* end = v.member("end");
    const JsonValue* clock = v.member("clock");
    if (!finiteNumber(start) || start->number < 0)
        return error = lineError(v.line, "期間の開始 (start) が読めません"), false;
    period.start = start->number;
    if (name && name->type == JsonValue::Type::String)
        period.name = name->text;
    if (end && end->type != JsonValue::Type::Null) {
        if (!finiteNumber(end) || end->number < period.start)
            return error = lineError(end->line, "期間の終了 (end) が読めません"), false;
        period.end = end->number;
    }
    if (clock && !finiteNumber(clock))
        return error = lineError(clock->line, "期間の試合時計 (clock) が読めません"), false;
    period.clock = clock ? clock->number : 0.0;
    return true;
}

bool readPlayers(const JsonValue& v, std::vector<MatchPlayer>& players, std::string& error) {
    if (v.type != JsonValue::Type::Array)
        return error = lineError(v.line, "選手の一覧が配列ではありません"), false;
    for (const JsonValue& item : v.items) {
        const JsonValue* number = item.member("number");
        const JsonValue* name = item.member("name");
        const JsonValue* position = item.member("position");
        if (!finiteNumber(number) || number->number < 0 || number->number > 999 ||
            number->number != std::floor(number->number))
            return error = lineError(item.line, "選手の背番号 (number) が読めません"), false;
        MatchPlayer player;
        player.number = static_cast<int>(number->number);
        if (name && name->type == JsonValue::Type::String)
            player.name = name->text;
        if (position && position->type == JsonValue::Type::String)
            player.position = position->text;
        players.push_back(std::move(player));
    }
    return true;
}

bool readTeamObject(const JsonValue* v, std::array<std::string, 2>& out, std::string& error) {
    if (!v)
        return true;
    if (v->type != JsonValue::Type::Object)
        return error = lineError(v->line, "チームがオブジェクトではありません"), false;
    for (size_t i = 0; i < 2; ++i)
        if (const JsonValue* t = v->member(kTeamKeys[i]); t && t->type == JsonValue::Type::String)
            out[i] = t->text;
    return true;
}

bool readAngle(const JsonValue& v, MatchAngle& angle, std::string& error) {
    if (v.type != JsonValue::Type::Object)
        return error = lineError(v.line, "アングルがオブジェクトではありません"), false;
    const JsonValue* name = v.member("name");
    const JsonValue* file = v.member("file");
    const JsonValue* offset = v.member("offset");
    const JsonValue* scale = v.member("scale");
    if (!file || file->type != JsonValue::Type::String || file->text.empty())
        return error = lineError(v.line, "アングルのファイル (file) がありません"), false;
    angle.file = file->text;
    if (name && name->type == JsonValue::Type::String)
        angle.name = name->text;
    // A hand-made angle without an offset started with the main video.
    if (offset && !finiteNumber(offset))
        return error = lineError(offset->line, "アングルのずれ (offset) が読めません"), false;
    angle.offset = offset ? offset->number : 0.0;
    // Beyond 1 % the two clocks do not drift: the events were marked wrong.
    if (scale && !finiteNumber(scale))
        return error = lineError(scale->line, "アングルの時計の補正 (scale) が読めません"), false;
    if (scale && std::abs(scale->number - 1.0) > 0.01)
        return error = lineError(scale->line,
                                 "アングルの時計の補正 (scale) が 0.99 から 1.01 の外です"),
               false;
    angle.scale = scale ? scale->number : 1.0;
    return true;
}

bool readAngles(const JsonValue* v, std::vector<MatchAngle>& angles, std::string& error) {
    if (!v)
        return true;
    if (v->type != JsonValue::Type::Array)
        return error = lineError(v->line, "アングル (angles) が配列ではありません"), false;
    if (v->items.size() > kMaxAngles)
        return error =
                   lineError(v->line, "アングルは " + std::to_string(kMaxAngles) + " つまでです"),
               false;
    for (const JsonValue& item : v->items) {
        MatchAngle angle;
        if (!readAngle(item, angle, error))
            return false;
        angles.push_back(std::move(angle));
    }
    return true;
}

std::string anglesJson(const std::vector<MatchAngle>& angles) {
    std::string out = ",\n \"angles\": [";
    for (size_t i = 0; i < angles.size(); ++i) {
        const MatchAngle& a = angles[i];
        out += i == 0 ? "\n  " : ",\n  ";
        out += "{\"name\": " + jsonString(a.name) + ", \"file\": " + jsonString(a.file) +
               ", \"offset\": " + numberText(a.offset) + ", \"scale\": " + numberText(a.scale) +
               "}";
    }
    return out + "]";
}

bool known(std::string_view key) {
    return key == "format" || key == "version" || key == "teams" || key == "periods" ||
           key == "players" || key == "squads" || key == "angles";
}

std::string clockText(double seconds) {
    const auto whole = static_cast<long long>(std::floor(std::max(0.0, seconds)));
    const long long s = whole % 60;
    return std::to_string(whole / 60) + (s < 10 ? ":0" : ":") + std::to_string(s);
}

} // namespace

std::string playerLabel(const MatchPlayer& player) {
    return player.name.empty() ? std::to_string(player.number)
                               : std::to_string(player.number) + " " + player.name;
}

bool MatchInfo::empty() const {
    return teams[0].empty() && teams[1].empty() && periods.empty() && players[0].empty() &&
           players[1].empty() && squads[0].empty() && squads[1].empty() && angles.empty() &&
           unknownMembers.empty();
}

std::filesystem::path matchFilePathFor(const std::filesystem::path& sessionFile) {
    std::filesystem::path path = sessionFile;
    if (path.extension() == ".csv")
        path.replace_extension();
    path += ".match.json";
    return path;
}

std::string matchJson(const MatchInfo& match) {
    std::string out = "{\"format\": \"" + std::string(kFormat) +
                      "\", \"version\": " + std::to_string(kVersion) + ",\n";
    auto pair = [&](const std::array<std::string, 2>& values) {
        return "{\"A\": " + jsonString(values[0]) + ", \"B\": " + jsonString(values[1]) + "}";
    };
    out += " \"teams\": " + pair(match.teams) + ",\n \"periods\": [";
    for (size_t i = 0; i < match.periods.size(); ++i) {
        const MatchPeriod& p = match.periods[i];
        out += i == 0 ? "\n  " : ",\n  ";
        out += "{\"name\": " + jsonString(p.name) + ", \"start\": " + numberText(p.start) +
               ", \"end\": " + (p.open() ? std::string("null") : numberText(p.end)) +
               ", \"clock\": " + numberText(p.clock) + "}";
    }
    out += "],\n \"squads\": " + pair(match.squads) + ",\n \"players\": {";
    for (size_t t = 0; t < 2; ++t) {
        out += t == 0 ? "\"A\": [" : "], \"B\": [";
        for (size_t i = 0; i < match.players[t].size(); ++i) {
            const MatchPlayer& p = match.players[t][i];
            out += i == 0 ? "\n  " : ",\n  ";
            out += "{\"number\": " + std::to_string(p.number) +
                   ", \"name\": " + jsonString(p.name) +
                   ", \"position\": " + jsonString(p.position) + "}";
        }
    }
    out += "]}";
    // Written only when there are angles: a file without them stays as before.
    if (!match.angles.empty())
        out += anglesJson(match.angles);
    if (!match.unknownMembers.empty())
        out += ",\n " + match.unknownMembers;
    out += "\n}\n";
    return out;
}

bool readMatchJson(std::string_view text, MatchInfo& match, std::string& error) {
    JsonValue root;
    JsonError jsonError;
    if (!parseJson(text, root, jsonError))
        return error = lineError(jsonError.line, jsonError.message), false;
    if (root.type != JsonValue::Type::Object)
        return error = lineError(root.line, "試合ファイルではありません"), false;
    const JsonValue* format = root.member("format");
    if (!format || format->type != JsonValue::Type::String || format->text != kFormat)
        return error = lineError(root.line, "試合ファイルではありません (format が違います)"),
               false;
    const JsonValue* version = root.member("version");
    if (!finiteNumber(version) || version->number < 1)
        return error = lineError(root.line, "試合ファイルの版 (version) が読めません"), false;
    if (version->number > kVersion)
        return error = lineError(version->line, "この版では読めない新しい試合ファイルです"), false;
    MatchInfo read;
    if (!readTeamObject(root.member("teams"), read.teams, error) ||
        !readTeamObject(root.member("squads"), read.squads, error) ||
        !readAngles(root.member("angles"), read.angles, error))
        return false;
    if (const JsonValue* periods = root.member("periods")) {
        if (periods->type != JsonValue::Type::Array)
            return error = lineError(periods->line, "期間 (periods) が配列ではありません"), false;
        for (const JsonValue& item : periods->items) {
            MatchPeriod period;
            if (!readPeriod(item, period, error))
                return false;
            if (!read.periods.empty() &&
                (read.periods.back().open() || period.start < read.periods.back().end))
                return error = lineError(item.line, "期間が重なっているか順に並んでいません"),
                       false;
            read.periods.push_back(std::move(period));
        }
    }
    if (const JsonValue* players = root.member("players")) {
        if (players->type != JsonValue::Type::Object)
            return error = lineError(players->line, "選手 (players) がオブジェクトではありません"),
                   false;
        for (size_t t = 0; t < 2; ++t)
            if (const JsonValue* list = players->member(kTeamKeys[t]))
                if (!readPlayers(*list, read.players[t], error))
                    return false;
    }
    for (const auto& [key, value] : root.members) {
        if (known(key))
            continue;
        if (!read.unknownMembers.empty())
            read.unknownMembers += ", ";
        read.unknownMembers += jsonString(key) + ": ";
        writeValue(value, read.unknownMembers);
    }
    match = std::move(read);
    return true;
}

PeriodDefault periodDefault(size_t place) {
    switch (place) {
    case 0:
        return {"前半", 0.0};
    case 1:
        return {"後半", 2400.0};
    case 2:
        return {"延長前半", 4800.0};
    case 3:
        return {"延長後半", 5400.0};
    default:
        return {"延長" + std::to_string(place - 1), 6000.0 + 600.0 * double(place - 4)};
    }
}

int periodAt(const MatchInfo& match, double t) {
    for (size_t i = 0; i < match.periods.size(); ++i)
        if (match.periods[i].holds(t))
            return static_cast<int>(i);
    return -1;
}

double matchClock(const MatchInfo& match, double t) {
    const int i = periodAt(match, t);
    if (i < 0)
        return -1.0;
    const MatchPeriod& p = match.periods[static_cast<size_t>(i)];
    return p.clock + (t - p.start);
}

std::string matchTimeText(const MatchInfo& match, double t) {
    if (match.periods.empty())
        return createTimeString(static_cast<float>(t));
    const int i = periodAt(match, t);
    if (i >= 0) {
        const MatchPeriod& p = match.periods[static_cast<size_t>(i)];
        return p.name + " " + clockText(p.clock + (t - p.start));
    }
    if (!(t >= match.periods.front().start))
        return "試合前";
    size_t before = 0;
    while (before + 1 < match.periods.size() && match.periods[before + 1].start <= t)
        ++before;
    if (before + 1 == match.periods.size())
        return "試合後";
    const std::string& name = match.periods[before].name;
    if (name == "前半" && match.periods[before + 1].name == "後半")
        return "ハーフタイム";
    return name + "後";
}

MatchFileState loadMatchFile(const std::filesystem::path& path, MatchInfo& match,
                             std::string& error) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec)
        return MatchFileState::Missing;
    std::string text, readError;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxMatchFileBytes) {
        error = "試合ファイルが大きすぎます (16 MB まで)";
        return MatchFileState::Damaged;
    }
    // A file grown past the limit since is cut off there.
    const auto bounded = [](size_t read, size_t) { return read <= kMaxMatchFileBytes; };
    if (!readWholeFile(path, text, readError, nullptr, bounded)) {
        error = readError;
        return MatchFileState::Damaged;
    }
    return readMatchJson(text, match, error) ? MatchFileState::Read : MatchFileState::Damaged;
}
