#pragma once

// Crafted edit lists that made the reader slow or large: each reads in time
// linear in its size or is refused at once. Shared by the tests and bench_xml.
#include <string>
#include <utility>
#include <vector>

namespace hostile {

inline std::string repeat(const std::string& piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

// Name and text of each crafted file, about 1 to 2 MB each.
inline std::vector<std::pair<std::string, std::string>> craftedEditLists() {
    const std::string head = "<file><ALL_INSTANCES><instance><start>1</start><code>a</code>";
    std::string unknown = "<file><ALL_INSTANCES>";
    for (int i = 0; i < 100000; ++i)
        unknown += "<u" + std::to_string(i) + "/>";
    return {
        // Elements never closed, each end tag searched the whole stack.
        {"deep", repeat("<a>", 400000) + repeat("</b>", 100000)},
        // Stray end tags under the deepest stack allowed.
        {"stray-ends", repeat("<a>", 60) + repeat("</zz>", 300000)},
        // A name of its own for every unknown element.
        {"unknown-names", unknown},
        // Labels on one instance, each group new.
        {"labels", head +
                       [] {
                           std::string labels;
                           for (int i = 0; i < 100000; ++i)
                               labels += "<label><group>g" + std::to_string(i) +
                                         "</group><text>t</text></label>";
                           return labels;
                       }() +
                       "</instance></ALL_INSTANCES></file>"},
        // As many labels as an instance may hold, on many instances.
        {"label-groups", "<file><ALL_INSTANCES>" +
                             repeat(
                                 [] {
                                     std::string one = "<instance><start>1</start><code>a</code>";
                                     for (int i = 0; i < 999; ++i)
                                         one += "<label><group>g" + std::to_string(i) +
                                                "</group></label>";
                                     return one + "</instance>";
                                 }(),
                                 60) +
                             "</ALL_INSTANCES></file>"},
        // Bare ampersands: each looked for its ';' to the end of the text.
        {"ampersands", head + "<free_text>" + repeat("&", 1500000) + ";</free_text></instance>"},
        // Empty instances past the count one file may hold.
        {"instances", "<file><ALL_INSTANCES>" + repeat("<instance/>", 200001)},
    };
}

} // namespace hostile
