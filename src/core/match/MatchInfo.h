#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "match/Angles.h"

// What belongs to a match rather than to one tag: the team names, the periods
// and the players of each team. It lives in NAME.match.json beside the session
// file NAME.csv; other tools write that file too, so members this version
// does not know are kept and written back as they were.

// One period of play. `start` and `end` are video seconds; `clock` is the
// match clock in seconds at the start (後半 starts at 2400: it counts on from
// 40:00). A period whose end is not marked yet has `end` below `start`
// (kOpenEnd) and holds every time from its start on.
struct MatchPeriod {
    static constexpr double kOpenEnd = -1.0;
    std::string name;
    double start = 0.0;
    double end = kOpenEnd;
    double clock = 0.0;
    bool open() const { return end < start; }
    bool holds(double t) const { return t >= start && (open() || t < end); }
    bool operator==(const MatchPeriod&) const = default;
};

// A player of the match: shirt number, name, position (text as the squad file
// has it).
struct MatchPlayer {
    int number = 0;
    std::string name;
    std::string position;
    bool operator==(const MatchPlayer&) const = default;
};

// The label group the players become, and one player's text in it ("12 山田").
inline constexpr std::string_view kPlayerGroup = "選手";
std::string playerLabel(const MatchPlayer& player);

struct MatchInfo {
    std::array<std::string, 2> teams;                // [0] team A, [1] team B; empty: not named
    std::vector<MatchPeriod> periods;                // by rising start, not overlapping
    std::array<std::vector<MatchPlayer>, 2> players; // who played, per team, by number
    std::array<std::string, 2> squads;               // the squad each team's players came from
    std::vector<MatchAngle> angles;                  // other cameras, at most kMaxAngles
    // Members of the file's top object this version does not read, as JSON
    // text ("key": value pairs joined by commas), written back unchanged.
    std::string unknownMembers;

    bool empty() const;
    bool operator==(const MatchInfo&) const = default;
};

// NAME.match.json for the session file NAME.csv (any other name gets the
// suffix added).
std::filesystem::path matchFilePathFor(const std::filesystem::path& sessionFile);

// The file's text: {"format": "rucktag-match", "version": 1, ...}, one member
// per line, UTF-8. Reading it back gives the same MatchInfo.
std::string matchJson(const MatchInfo& match);
// Reads a match file's text into `match`; false with a Japanese `error` (with
// the line) when it is not one: not JSON, another format, a newer version, a
// period without a start, periods overlapping. Lenient where a hand-made file
// can be read unambiguously (a missing team, an unknown member).
bool readMatchJson(std::string_view text, MatchInfo& match, std::string& error);

// The default names, clocks and lengths of periods marked in order: 前半 at
// 0:00, 後半 at 40:00, 延長前半 at 80:00, 延長後半 at 90:00, then 延長3, ...
struct PeriodDefault {
    std::string name;
    double clock = 0.0;
};
PeriodDefault periodDefault(size_t place);

// The place of the period holding video time `t`, or -1.
int periodAt(const MatchInfo& match, double t);

// A video time as the analyst reads it. With no periods: the video time as
// always (H:MM:SS). Inside a period: its name and the match clock in minutes
// and seconds, minutes unbounded ("前半 12:34", "後半 52:10"). Outside every
// period: "試合前" before the first, "試合後" after the last, "ハーフタイム"
// between 前半 and 後半, else "NAME後" after the period NAME.
std::string matchTimeText(const MatchInfo& match, double t);
// The match clock at `t` in seconds when a period holds it; -1 otherwise.
double matchClock(const MatchInfo& match, double t);

// Reading the match file at `path`. Missing: there is none (match left
// empty). Damaged: it is there but cannot be read as a match file (too
// large, unreadable bytes, not one): `error` says why, in Japanese.
enum class MatchFileState { Missing, Read, Damaged };
inline constexpr size_t kMaxMatchFileBytes = size_t(16) << 20;
MatchFileState loadMatchFile(const std::filesystem::path& path, MatchInfo& match,
                             std::string& error);
