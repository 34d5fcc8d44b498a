// libFuzzer target: the edit list reader and the tags made from it must
// accept any bytes; what they keep never outgrows the input by much.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "exchange/XmlEditList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const EditList list = readEditList(bytes);
    size_t kept = 0;
    for (const EditListInstance& instance : list.instances) {
        kept += instance.code.size() + instance.freeText.size();
        for (const auto& [group, text] : instance.labels)
            kept += group.size() + text.size();
    }
    // A byte becomes at most a replacement character (three bytes).
    if (kept > 3 * size)
        __builtin_trap();
    const EditListTags tags = tagsFromEditList(list);
    if (tags.tags.size() > list.instances.size())
        __builtin_trap();
    findDuplicates({}, tags.tags);
    // What was read is written again as a well-formed file that reads back
    // to the same number of instances.
    std::vector<std::shared_ptr<TagRowData>> rows;
    for (const ImportedTag& t : tags.tags)
        rows.push_back(t.tag);
    const EditList again = readEditList(editListText(rows, 8.0, 4.0));
    if (again.instances.size() != rows.size() || !again.mended.empty())
        __builtin_trap();
    return 0;
}
