#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "codewindow/CodeWindow.h"

// Code window files: one JSON file per window in the code window folder,
//
//   {"format": "rucktag-codewindow", "version": 1, "name": "7人制",
//    "codes": [{"name": "スクラム", "color": "#f08000", "keyA": "1",
//               "keyB": "Shift+1", "lead": 5, "lag": 10, "mode": "point",
//               "group": ""}],
//    "labels": [{"group": "結果", "texts": ["成功", "失敗"], "keys": ["Q", "W"]}]}
//
// A code needs its name; color defaults to grey, keys to none, lead and lag
// to the play screen's 前/後, mode to "point", group to none. "labels" may be
// left out. Members this version does not know are ignored.

// $XDG_CONFIG_HOME/rucktag/codewindows, else ~/.config/rucktag/codewindows.
std::filesystem::path codeWindowFolder();

struct CodeWindowRead {
    CodeWindow window;
    // "FILE:LINE: what is wrong", in Japanese; the window may be offered only
    // when there are none.
    std::vector<std::string> problems;
    bool ok() const { return problems.empty(); }
};

// Reads the text of a file named `fileName` (used in the problems).
CodeWindowRead parseCodeWindow(std::string_view text, const std::string& fileName);
CodeWindowRead readCodeWindowFile(const std::filesystem::path& file);

// The file text of a window, one code per line.
std::string codeWindowJson(const CodeWindow& window);
// Writes atomically; an empty text on success, else the reason. The standard
// window and windows with problems are refused.
std::string writeCodeWindowFile(const std::filesystem::path& file, const CodeWindow& window);

// A file name for a window's name: "/" and control characters made "_", a
// leading "." too, cut to fit the name limit, ".json" added.
std::string codeWindowFileName(std::string_view windowName);

// The windows to offer: the standard one first, then those of the folder's
// *.json files by name. Files that cannot be read or are invalid, and a
// second window of a name already taken, are left out and reported.
struct CodeWindowList {
    std::vector<CodeWindow> windows;
    std::vector<std::filesystem::path> files; // of each window; empty for the standard one
    std::vector<std::string> problems;
};
CodeWindowList listCodeWindows(const std::filesystem::path& folder);

// Files larger than this are not read as code windows.
inline constexpr size_t kMaxCodeWindowFileBytes = 1 << 20;
