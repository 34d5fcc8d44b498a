#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A code window: the analyst's own set of tag buttons (codes) and the label
// groups that can be put on the tags they record. The standard window is
// built in and is the fixed panel of eighteen buttons per team.

enum class CodeMode : uint8_t {
    Point,    // a tag at the press
    Duration, // the first press starts the tag, the second of the team ends it
};

struct Code {
    std::string name;
    std::string color;      // "#rrggbb"
    std::string keyA, keyB; // key sequence texts recording for team A / B; empty: none
    // The moment around the tag, in seconds; none: the play screen's 前/後.
    std::optional<double> lead, lag;
    CodeMode mode = CodeMode::Point;
    // Codes sharing a group are exclusive: pressing one ends the open tag of
    // another of the group for that team. Empty: no group.
    std::string group;
    bool operator==(const Code&) const = default;
};

struct LabelGroup {
    std::string group;
    std::vector<std::string> texts;
    std::vector<std::string> keys; // the key of each text, by place; fewer or empty ones: none
    bool operator==(const LabelGroup&) const = default;
};

struct CodeWindow {
    std::string name;
    std::vector<Code> codes;
    std::vector<LabelGroup> labels;
    bool builtIn = false; // the standard window, which is never changed itself

    // Today's panel: the names of kTagLabels, the buttons' colours, no keys,
    // every code a point, no groups, no labels.
    static const CodeWindow& standard();
    // A copy to edit under another name.
    CodeWindow duplicate(std::string newName) const;

    // The code named `name` (composed or not), or nullptr.
    const Code* find(std::string_view name) const;
    bool hasDuration() const;
    bool operator==(const CodeWindow&) const = default;
};

inline constexpr std::string_view kStandardWindowName = "標準";

// A button's identifier: its team letter and its code's place ("A0", "B17").
std::string codeIdentifier(bool teamA, size_t code);

// The colours of the standard window's button `number` (0-17) as 0xRRGGBB:
// five groups (open play, set pieces, possession, scores, check).
struct ButtonColors {
    uint32_t background, hover;
};
ButtonColors standardButtonColors(uint64_t number);

// What is wrong with a window, by where it is; the file reader turns `part`,
// `item` and `field` into a line of the file.
struct WindowProblem {
    enum class Part : uint8_t { Window, Code, Label };
    Part part = Part::Window;
    size_t item = 0;   // the code or the label group
    std::string field; // "name", "color", "keyA", "texts", ...; empty: the whole item
    std::string message;
};
// Every problem of a window that is not the standard one, in the order of
// the file; none for a window that can be offered.
std::vector<WindowProblem> checkCodeWindow(const CodeWindow& window);

// Where a key is set in a window: a code's key for team A or B, or the key of
// a label group's text.
struct KeyPlace {
    enum class Kind : uint8_t { CodeA, CodeB, Label };
    Kind kind = Kind::CodeA;
    size_t item = 0; // the code or the label group
    size_t text = 0; // the text of a label group
    bool operator==(const KeyPlace&) const = default;
};

// The keys the player keeps on the edit screen, as key texts, and what they do.
struct PlayerKey {
    std::string_view key, use;
};
const std::vector<PlayerKey>& playerKeys();

// Why `key` cannot be a code's or a label's key because the player reads it
// (a player's key, or its Shift form, which the player reads alike), in
// Japanese; empty when it is not the player's.
std::string playerKeyMessage(std::string_view key);
// A Shift key text of the number row with its digit, as the row's place:
// "Shift+!" is "Shift+1", "Ctrl+Shift+%" is "Ctrl+Shift+5". Symbols that stand
// on other digits on US and Japanese keyboards ("&", "(", ")", "\"") stay.
std::string numberRowKey(std::string_view key);

// Whether two key texts are the same key as Qt reads them (letters in either
// case, spaces ignored).
bool sameKey(std::string_view a, std::string_view b);
// Why `key` cannot be set at `place` of `window`: who holds it already (a
// player's key, another code or label), in Japanese; empty when it is free.
std::string keyTakenMessage(const CodeWindow& window, std::string_view key, KeyPlace place);
// Clears each key of `window` the player keeps or an earlier code or label
// already holds (a file edited by hand may have one), so that every key does
// one thing; says which, in Japanese, in window order.
std::vector<std::string> dropTakenKeys(CodeWindow& window);
// Why code `code` of `window` cannot be named `name` (empty, or the name of
// another code); empty when it can.
std::string codeNameProblem(const CodeWindow& window, size_t code, std::string_view name);

// Lead and lag may be 0 to this many seconds, as the play screen's boxes.
inline constexpr double kMaxLeadLag = 60.0;
// The most codes, and label texts in all groups, one window may hold: more
// buttons than a screen could show, and few enough that choosing the window
// builds its buttons without keeping the screen waiting.
inline constexpr size_t kMaxCodes = 250;
inline constexpr size_t kMaxLabelTexts = 250;
