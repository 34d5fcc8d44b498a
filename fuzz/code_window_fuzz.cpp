// libFuzzer target: the code window reader (and its JSON reader) must take
// any bytes: no crash, every problem names the file and a line the text has,
// a window it accepts is written and read back the same, and its keys the
// player reads are all taken off when it is offered.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "codewindow/CodeWindowFile.h"

namespace {
void check(bool ok) {
    if (!ok)
        __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const CodeWindowRead read = parseCodeWindow(text, "f.json");
    const size_t lines = 1 + static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    for (const std::string& problem : read.problems) {
        check(problem.rfind("f.json:", 0) == 0);
        const size_t line = std::stoul(problem.substr(7));
        check(line >= 1 && line <= lines);
    }
    if (read.ok()) {
        check(checkCodeWindow(read.window).empty());
        const CodeWindowRead back = parseCodeWindow(codeWindowJson(read.window), "f.json");
        check(back.ok() && back.window == read.window);
        // The folder's list takes off the keys the player reads: none is left.
        CodeWindow offered = read.window;
        dropTakenKeys(offered);
        check(checkCodeWindow(offered).empty());
        for (const Code& c : offered.codes)
            check(playerKeyMessage(c.keyA).empty() && playerKeyMessage(c.keyB).empty());
        for (const LabelGroup& g : offered.labels)
            for (const std::string& key : g.keys)
                check(playerKeyMessage(key).empty());
    }
    return 0;
}
