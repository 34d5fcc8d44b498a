#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace serve {

// What a Range header asks of a file of `size` bytes. One range only: a
// header this server does not take (several ranges, another unit, bad
// syntax) is ignored and the whole file sent, as HTTP allows.
struct ByteRange {
    enum Kind { Whole, Part, Unsatisfiable } kind = Whole;
    uint64_t first = 0, last = 0; // inclusive, for Part
};
ByteRange byteRange(std::string_view header, uint64_t size);

// The media file `name` (a file name, no folder) directly in `folder`/media,
// open for reading; -1 when there is none. Never through a symbolic link,
// neither the file nor the media folder, and only a regular file.
int openMedia(const std::string& folder, const std::string& name, uint64_t* size);

} // namespace serve
