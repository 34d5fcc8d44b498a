#include "Model/UnicodeText.h"

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
