#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "codewindow/CodeWindow.h"
#include "match/MatchInfo.h"

// A club's squad: the players it may field, kept one JSON file per squad in
// the squads folder (the UI layer knows where that is):
//
//   {"format": "rucktag-squad", "version": 1, "name": "東京",
//    "players": [{"number": 12, "name": "山田", "position": "CTB"}]}
//
// Numbers are 0 to 999 and unique in a squad.
struct Squad {
    std::string name;
    std::vector<MatchPlayer> players;
    bool operator==(const Squad&) const = default;
};

inline constexpr int kMaxShirtNumber = 999;
// Players ticked for a match when a squad is chosen: a match day squad.
inline constexpr size_t kMatchDaySquad = 23;

std::string squadJson(const Squad& squad);
// False with a Japanese `error` naming the line when `text` is no squad.
bool readSquadJson(std::string_view text, Squad& squad, std::string& error);
// The squads of `folder`'s *.json files by file name; files that cannot be
// read go to `problems` as "FILE: what".
std::vector<Squad> listSquads(const std::filesystem::path& folder,
                              std::vector<std::string>& problems);
// The file of squad `name` in the folder ("/" and control characters as "_").
std::filesystem::path squadFilePath(const std::filesystem::path& folder, std::string_view name);

// A team sheet: CSV, UTF-8 with or without a byte-order mark, a header row
// naming the columns in any order (背番号/番号/No, 氏名/名前/Name,
// ポジション/Position; the position may be left out). Rows that cannot be
// read are left out and said by line; a sheet with no header is refused.
struct TeamSheet {
    std::vector<MatchPlayer> players;  // in the sheet's order
    std::string error;                 // the sheet as a whole; empty when read
    std::vector<std::string> problems; // "N 行目: what", the first kMaxSheetProblems
    size_t problemCount = 0;           // all of them
};
inline constexpr size_t kMaxSheetProblems = 20;
TeamSheet readTeamSheet(std::string_view text);

// The player numbered `number` in `players`, or null.
const MatchPlayer* playerNumbered(const std::vector<MatchPlayer>& players, int number);
// Whether `players` holds a two-digit number starting with digit `first`
// (so one typed digit may be the start of a longer number).
bool startsTwoDigitNumber(const std::vector<MatchPlayer>& players, int first);

// The window the screens code with: `window` and the players of `match` as
// the label group 選手, team A's texts then team B's not already there. A
// window of its own 選手 group gets the texts it lacks added to it; without
// players the window is returned as it is.
CodeWindow withPlayers(const CodeWindow& window, const MatchInfo& match);
