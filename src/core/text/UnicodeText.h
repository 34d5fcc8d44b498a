#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Canonical composition (NFC) of UTF-8 text, by ICU, so that names typed or
// stored in decomposed form (ト + U+3099) compare equal to the composed form
// (ド). Invalid UTF-8 bytes are carried through unchanged.

// True when the text is NFC already (the usual case; a scan without copying).
bool isNfcQuick(std::string_view text);

std::string toNfc(std::string_view text);

// The NFC form of `text`: `text` itself when already composed, else the
// composed form held in `storage`.
std::string_view nfcView(std::string_view text, std::string& storage);

// The longest start of `text` of at most `maxBytes` bytes that does not split
// a UTF-8 sequence (invalid bytes count as characters of their own).
std::string_view utf8Prefix(std::string_view text, size_t maxBytes);

// Appends code point `cp` (at most U+10FFFF) to `out` as UTF-8.
void appendUtf8(std::string& out, uint32_t cp);
