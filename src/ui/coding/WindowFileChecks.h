#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "codewindow/CodeWindow.h"

// The names a duplicate of the standard window takes: 標準のコピー, then
// 標準のコピー 2, ..., the first that `taken` does not have.
std::string duplicateName(const std::vector<std::string>& taken);

// The first thing that keeps `window` from being written, in Japanese; empty
// when none. A name of `taken` (other windows') is refused too.
std::string windowProblem(const CodeWindow& window, const std::vector<std::string>& taken);

// What 読込… made of a window file: the window copied into the code window
// folder (checked first, copied as it is), or why not.
struct WindowImport {
    CodeWindow window;
    std::filesystem::path file; // the copy in the folder
    std::string refusal;        // said instead, in Japanese
    bool failed = false;        // the copy failed (an error, not a notice)
};
// `taken`: the names the window may not have.
WindowImport importWindowFile(const std::string& path, const std::vector<std::string>& taken);
