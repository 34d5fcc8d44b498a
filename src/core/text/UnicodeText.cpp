#include "text/UnicodeText.h"

#include <cstdint>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>

namespace {

// ICU's NFC data is built into the library; should it still be missing, text
// is taken as it stands rather than failing a load or a tally.
const icu::Normalizer2* nfc() {
    static const icu::Normalizer2* const instance = [] {
        UErrorCode error = U_ZERO_ERROR;
        const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(error);
        return U_SUCCESS(error) ? n : nullptr;
    }();
    return instance;
}

icu::StringPiece piece(std::string_view text) {
    return {text.data(), static_cast<int32_t>(text.size())};
}

} // namespace

bool isNfcQuick(std::string_view text) {
    const icu::Normalizer2* n = nfc();
    if (!n || text.size() > INT32_MAX)
        return true;
    UErrorCode error = U_ZERO_ERROR;
    return n->isNormalizedUTF8(piece(text), error) || U_FAILURE(error);
}

std::string toNfc(std::string_view text) {
    const icu::Normalizer2* n = nfc();
    if (!n || text.size() > INT32_MAX)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    icu::StringByteSink<std::string> sink(&out);
    UErrorCode error = U_ZERO_ERROR;
    // ICU copies ill-formed UTF-8 through unchanged.
    n->normalizeUTF8(0, piece(text), sink, nullptr, error);
    return U_SUCCESS(error) ? out : std::string(text);
}

std::string_view nfcView(std::string_view text, std::string& storage) {
    if (isNfcQuick(text))
        return text;
    storage = toNfc(text);
    return storage;
}

std::string_view utf8Prefix(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    size_t cut = maxBytes;
    // Back off over continuation bytes to the lead byte of the sequence that
    // does not fit; a run of more than three is invalid and may be cut.
    size_t back = 0;
    while (cut > 0 && back < 3 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
        ++back;
    }
    const auto lead = static_cast<unsigned char>(text[cut]);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    // The sequence at `cut` would end past the limit: drop it whole. Anything
    // else (a stray continuation byte) is a character of its own.
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0xC0 && cut + length > maxBytes)
        return text.substr(0, cut);
    return text.substr(0, maxBytes);
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}
