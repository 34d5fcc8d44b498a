// libFuzzer target: the session file loader must take any bytes as a file:
// no crash, rows numbered 0, 1, 2, ... in file order, no row made of more
// bytes than the file has, problems reported by line numbers that exist.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzFile.h"
#include "SubModuleClass/TagFileManager.h"

namespace {
void check(bool ok) {
    if (!ok)
        __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzFile file;
    file.put(data, size);
    const TagFileManager::LoadResult result = TagFileManager::readCSVFile(file.path());
    check(result.error.empty() && result.errorCode == 0);
    const size_t lines =
        1 + std::count(data, data + size, '\n') + std::count(data, data + size, '\r');
    check(result.rows.size() <= lines);
    for (size_t i = 0; i < result.rows.size(); ++i) {
        const TagRowData& row = *result.rows[i];
        check(row.index == static_cast<int64_t>(i));
        size_t labelBytes = 0;
        for (const auto& [group, text] : row.labels)
            labelBytes += group.size() + text.size() + 1;
        check(row.name.size() + row.comment.size() + labelBytes <= size);
        check(!row.time_string.empty());
    }
    for (const auto* list :
         {&result.shortRows, &result.longRows, &result.unreadableTimes, &result.unreadableExtras}) {
        check(std::is_sorted(list->begin(), list->end()));
        for (size_t line : *list)
            check(line >= 2 && line <= lines);
    }
    check(result.rows.size() + result.shortRows.size() <= lines);
    return 0;
}
