#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Characters as the XML edit list's reader and writer see them.

namespace xmlchars {

inline constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the valid UTF-8 sequence at `i` and its code point, or 0.
size_t decodeUtf8(std::string_view s, size_t i, uint32_t& cp);

// Whether XML 1.0 can carry the character.
bool isXmlChar(uint32_t cp);

// Without the white space XML allows around it.
std::string_view trimmed(std::string_view text);

// Equal without regard to ASCII case.
bool equalsAscii(std::string_view a, std::string_view b);

} // namespace xmlchars
