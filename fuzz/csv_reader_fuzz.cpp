// libFuzzer target: the CSV reader and the tag loader must accept any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/CSVReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CSVReader reader(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<std::string> row;
    size_t consumed = 0;
    while (reader.next(row)) {
        for (const auto& f : row)
            consumed += f.size();
        // Fields never hold more bytes than the input.
        if (consumed > size)
            __builtin_trap();
    }
    return 0;
}
