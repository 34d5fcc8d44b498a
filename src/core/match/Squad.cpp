#include "match/Squad.h"

#include <algorithm>
#include <bitset>
#include <cmath>

#include "codewindow/CodeWindowFile.h"
#include "platform/AtomicFile.h"
#include "platform/CSVReader.h"
#include "platform/JsonReader.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFormat = "rucktag-squad";
constexpr int kVersion = 1;
// A squad file is a few kilobytes; anything this big is no squad.
constexpr uintmax_t kMaxSquadFileBytes = 1 << 20;

std::string lineError(size_t line, std::string_view what) {
    return std::to_string(line) + " 行目: " + std::string(what);
}

bool validUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80         ? 1
                         : (c >> 5) == 6  ? 2
                         : (c >> 4) == 14 ? 3
                         : (c >> 3) == 30 ? 4
                                          : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

// Without the spaces around it, the ideographic space (U+3000) included.
std::string_view trimmed(std::string_view s) {
    constexpr std::string_view kWide = "\xE3\x80\x80";
    for (bool again = true; again;) {
        again = false;
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
            s.remove_prefix(1), again = true;
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
            s.remove_suffix(1), again = true;
        if (s.starts_with(kWide))
            s.remove_prefix(kWide.size()), again = true;
        if (s.ends_with(kWide))
            s.remove_suffix(kWide.size()), again = true;
    }
    return s;
}

enum Column { Number, Name, Position, Columns };

// Which column a header names, or Columns for none.
Column columnNamed(std::string_view header) {
    std::string key(trimmed(header));
    std::transform(key.begin(), key.end(), key.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    if (key.ends_with('.'))
        key.pop_back();
    if (key == "背番号" || key == "番号" || key == "no" || key == "#" || key == "number")
        return Number;
    if (key == "氏名" || key == "名前" || key == "選手名" || key == "name")
        return Name;
    if (key == "ポジション" || key == "position" || key == "pos")
        return Position;
    return Columns;
}

// A shirt number in ASCII or full-width digits; -1 when it is none.
int shirtNumber(std::string_view text) {
    text = trimmed(text);
    int value = 0, digits = 0;
    for (size_t i = 0; i < text.size(); ++digits) {
        int d = -1;
        if (text[i] >= '0' && text[i] <= '9')
            d = text[i++] - '0';
        else if (text.substr(i, 2) == "\xEF\xBC" && i + 2 < text.size() &&
                 static_cast<unsigned char>(text[i + 2]) >= 0x90 &&
                 static_cast<unsigned char>(text[i + 2]) <= 0x99)
            d = static_cast<unsigned char>(text[i + 2]) - 0x90, i += 3;
        if (d < 0 || digits >= 3)
            return -1;
        value = value * 10 + d;
    }
    return digits == 0 ? -1 : value;
}

bool readPlayer(const JsonValue& item, MatchPlayer& player, std::string& error) {
    const JsonValue* number = item.member("number");
    const JsonValue* name = item.member("name");
    const JsonValue* position = item.member("position");
    if (!number || number->type != JsonValue::Type::Number || number->number < 0 ||
        number->number > kMaxShirtNumber || number->number != std::floor(number->number))
        return error = lineError(item.line, "選手の背番号 (number) が読めません"), false;
    player.number = static_cast<int>(number->number);
    if (name && name->type == JsonValue::Type::String)
        player.name = name->text;
    if (position && position->type == JsonValue::Type::String)
        player.position = position->text;
    return true;
}

} // namespace

std::string squadJson(const Squad& squad) {
    std::string out = "{\"format\": \"" + std::string(kFormat) +
                      "\", \"version\": " + std::to_string(kVersion) +
                      ",\n \"name\": " + jsonString(squad.name) + ",\n \"players\": [";
    for (size_t i = 0; i < squad.players.size(); ++i) {
        const MatchPlayer& p = squad.players[i];
        out += i == 0 ? "\n  " : ",\n  ";
        out += "{\"number\": " + std::to_string(p.number) + ", \"name\": " + jsonString(p.name) +
               ", \"position\": " + jsonString(p.position) + "}";
    }
    return out + "]\n}\n";
}

bool readSquadJson(std::string_view text, Squad& squad, std::string& error) {
    JsonValue root;
    JsonError jsonError;
    if (!parseJson(text, root, jsonError))
        return error = lineError(jsonError.line, jsonError.message), false;
    const JsonValue* format = root.member("format");
    if (root.type != JsonValue::Type::Object || !format || format->text != kFormat)
        return error = lineError(root.line, "選手名簿のファイルではありません"), false;
    const JsonValue* version = root.member("version");
    if (!version || version->type != JsonValue::Type::Number || version->number > kVersion)
        return error = lineError(root.line, "この版では読めない選手名簿です"), false;
    Squad read;
    if (const JsonValue* name = root.member("name"); name && name->type == JsonValue::Type::String)
        read.name = name->text;
    if (read.name.empty())
        return error = lineError(root.line, "名簿の名前 (name) がありません"), false;
    const JsonValue* players = root.member("players");
    if (players && players->type != JsonValue::Type::Array)
        return error = lineError(players->line, "選手 (players) が配列ではありません"), false;
    static const std::vector<JsonValue> kNone;
    std::bitset<kMaxShirtNumber + 1> seen;
    for (const JsonValue& item : players ? players->items : kNone) {
        MatchPlayer player;
        if (!readPlayer(item, player, error))
            return false;
        if (seen.test(static_cast<size_t>(player.number)))
            return error = lineError(item.line, "背番号 " + std::to_string(player.number) +
                                                    " が重複しています"),
                   false;
        seen.set(static_cast<size_t>(player.number));
        read.players.push_back(std::move(player));
    }
    squad = std::move(read);
    return true;
}

std::vector<Squad> listSquads(const fs::path& folder, std::vector<std::string>& problems) {
    std::error_code ec;
    const std::vector<fs::path> files = jsonFilesIn(folder, ec);
    std::vector<Squad> squads;
    for (const fs::path& file : files) {
        std::string text, error;
        Squad squad;
        const auto size = fs::file_size(file, ec);
        if (ec || size > kMaxSquadFileBytes)
            error = ec ? ec.message() : "大きすぎます";
        else if (readWholeFile(file, text, error))
            readSquadJson(text, squad, error);
        if (!error.empty())
            problems.push_back(file.filename().string() + ": " + error);
        else
            squads.push_back(std::move(squad));
    }
    return squads;
}

fs::path squadFilePath(const fs::path& folder, std::string_view name) {
    return folder / codeWindowFileName(name);
}

TeamSheet readTeamSheet(std::string_view text) {
    TeamSheet sheet;
    if (!validUtf8(text)) {
        sheet.error = "UTF-8 の CSV ではありません（UTF-8 で保存してください）";
        return sheet;
    }
    CSVReader reader{std::string(text)};
    std::vector<std::string_view> row;
    std::array<int, Columns> at{-1, -1, -1};
    bool header = false;
    while (!header && reader.next(row)) {
        if (row.size() == 1 && trimmed(row[0]).empty())
            continue;
        header = true;
        for (size_t c = 0; c < row.size(); ++c)
            if (const Column which = columnNamed(row[c]); which != Columns && at[which] < 0)
                at[which] = static_cast<int>(c);
        if (at[Number] < 0 || at[Name] < 0) {
            sheet.error = lineError(reader.line(), "見出しの行に背番号と氏名の列がありません"
                                                   "（背番号・番号・No、氏名・名前・Name）");
            return sheet;
        }
    }
    if (!header) {
        sheet.error = "見出しの行がありません（空のファイルです）";
        return sheet;
    }
    const auto problem = [&](std::string what) {
        if (++sheet.problemCount <= kMaxSheetProblems)
            sheet.problems.push_back(lineError(reader.line(), what));
    };
    const auto field = [&row](int c) {
        return c >= 0 && static_cast<size_t>(c) < row.size() ? trimmed(row[static_cast<size_t>(c)])
                                                             : std::string_view();
    };
    std::bitset<kMaxShirtNumber + 1> seen;
    while (reader.next(row)) {
        if (std::all_of(row.begin(), row.end(), [](auto f) { return trimmed(f).empty(); }))
            continue;
        const int number = shirtNumber(field(at[Number]));
        if (number < 0) {
            problem("背番号「" + std::string(field(at[Number]).substr(0, 40)) + "」が読めません");
            continue;
        }
        if (seen.test(static_cast<size_t>(number))) {
            problem("背番号 " + std::to_string(number) + " が重複しています");
            continue;
        }
        seen.set(static_cast<size_t>(number));
        sheet.players.push_back(
            MatchPlayer{number, std::string(field(at[Name])), std::string(field(at[Position]))});
    }
    return sheet;
}

const MatchPlayer* playerNumbered(const std::vector<MatchPlayer>& players, int number) {
    const auto it = std::find_if(players.begin(), players.end(),
                                 [number](const MatchPlayer& p) { return p.number == number; });
    return it == players.end() ? nullptr : &*it;
}

bool startsTwoDigitNumber(const std::vector<MatchPlayer>& players, int first) {
    return first > 0 && std::any_of(players.begin(), players.end(), [first](const MatchPlayer& p) {
               return p.number / 10 == first && p.number < 100;
           });
}

CodeWindow withPlayers(const CodeWindow& window, const MatchInfo& match) {
    if (match.players[0].empty() && match.players[1].empty())
        return window;
    CodeWindow out = window;
    auto group = std::find_if(out.labels.begin(), out.labels.end(),
                              [](const LabelGroup& g) { return g.group == kPlayerGroup; });
    if (group == out.labels.end()) {
        out.labels.push_back(LabelGroup{std::string(kPlayerGroup), {}, {}});
        group = std::prev(out.labels.end());
    }
    for (const auto& team : match.players)
        for (const MatchPlayer& p : team)
            if (std::string text = playerLabel(p);
                std::find(group->texts.begin(), group->texts.end(), text) == group->texts.end())
                group->texts.push_back(std::move(text));
    return out;
}
