#include "Model/UnicodeText.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

struct CccRange {
    char32_t first, last;
    uint8_t ccc;
};
struct Decomposition {
    char32_t cp, first, second; // second 0 for a singleton
};
struct Composition {
    char32_t first, second, composed;
};
struct CodeRange {
    char32_t first, last;
};

#include "Model/UnicodeTables.inc"

constexpr char32_t kHangulBase = 0xAC00, kLBase = 0x1100, kVBase = 0x1161, kTBase = 0x11A7;
constexpr char32_t kLCount = 19, kVCount = 21, kTCount = 28, kNCount = kVCount * kTCount;
constexpr char32_t kSCount = kLCount * kNCount;

// Invalid bytes are kept as "raw" units above the Unicode range so they pass
// through untouched and never combine with anything.
constexpr char32_t kRawBase = 0x110000;

template <typename T> const T* findByFirst(const T* begin, const T* end, char32_t cp) {
    const T* it =
        std::upper_bound(begin, end, cp, [](char32_t v, const T& r) { return v < r.first; });
    if (it == begin)
        return nullptr;
    --it;
    return cp <= it->last ? it : nullptr;
}

uint8_t combiningClass(char32_t cp) {
    const CccRange* r = findByFirst(std::begin(kCcc), std::end(kCcc), cp);
    return r ? r->ccc : 0;
}

bool needsWork(char32_t cp) {
    return cp >= 0x300 && findByFirst(std::begin(kNotQuickNfc), std::end(kNotQuickNfc), cp);
}

// Decodes one code point at text[i]; advances i. Invalid sequences yield a raw
// unit for the single offending byte.
char32_t decodeAt(std::string_view text, size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = 0;
    char32_t cp = 0, min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        ++i;
        return kRawBase + b0;
    }
    if (i + static_cast<size_t>(len) > text.size()) {
        ++i;
        return kRawBase + b0;
    }
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kRawBase + b0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kRawBase + b0;
    }
    i += static_cast<size_t>(len);
    return cp;
}

void encode(char32_t cp, std::string& out) {
    if (cp >= kRawBase) {
        out.push_back(static_cast<char>(cp - kRawBase));
    } else if (cp < 0x80) {
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

void decompose(char32_t cp, std::vector<char32_t>& out) {
    if (cp >= kHangulBase && cp < kHangulBase + kSCount) {
        const char32_t s = cp - kHangulBase;
        out.push_back(kLBase + s / kNCount);
        out.push_back(kVBase + (s % kNCount) / kTCount);
        if (s % kTCount)
            out.push_back(kTBase + s % kTCount);
        return;
    }
    const auto* it = std::lower_bound(std::begin(kDecomp), std::end(kDecomp), cp,
                                      [](const Decomposition& d, char32_t v) { return d.cp < v; });
    if (it == std::end(kDecomp) || it->cp != cp) {
        out.push_back(cp);
        return;
    }
    decompose(it->first, out);
    if (it->second)
        decompose(it->second, out);
}

char32_t composePair(char32_t a, char32_t b) {
    if (a >= kLBase && a < kLBase + kLCount && b >= kVBase && b < kVBase + kVCount)
        return kHangulBase + ((a - kLBase) * kVCount + (b - kVBase)) * kTCount;
    if (a >= kHangulBase && a < kHangulBase + kSCount && (a - kHangulBase) % kTCount == 0 &&
        b > kTBase && b < kTBase + kTCount)
        return a + (b - kTBase);
    const auto* it =
        std::lower_bound(std::begin(kCompose), std::end(kCompose), std::pair{a, b},
                         [](const Composition& c, const std::pair<char32_t, char32_t>& v) {
                             return c.first != v.first ? c.first < v.first : c.second < v.second;
                         });
    if (it != std::end(kCompose) && it->first == a && it->second == b)
        return it->composed;
    return 0;
}

uint8_t cccOf(char32_t cp) {
    return cp >= kRawBase ? 0 : combiningClass(cp);
}

} // namespace

bool isNfcQuick(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        if (needsWork(decodeAt(text, i)))
            return false;
    }
    return true;
}

std::string toNfc(std::string_view text) {
    std::vector<char32_t> cps;
    cps.reserve(text.size());
    for (size_t i = 0; i < text.size();)
        decompose(decodeAt(text, i), cps);

    // Canonical ordering: stable sort of each run of non-starters by class.
    for (size_t i = 0; i < cps.size();) {
        if (cccOf(cps[i]) == 0) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < cps.size() && cccOf(cps[j]) != 0)
            ++j;
        std::stable_sort(cps.begin() + static_cast<std::ptrdiff_t>(i),
                         cps.begin() + static_cast<std::ptrdiff_t>(j),
                         [](char32_t a, char32_t b) { return cccOf(a) < cccOf(b); });
        i = j;
    }

    // Canonical composition: a mark joins the last starter unless something
    // between them has class 0 or a class not below its own.
    std::vector<char32_t> out;
    out.reserve(cps.size());
    size_t starter = SIZE_MAX;
    uint8_t lastCcc = 0;
    for (char32_t cp : cps) {
        const uint8_t c = cccOf(cp);
        if (starter != SIZE_MAX) {
            const bool blocked = out.size() > starter + 1 && (lastCcc == 0 || lastCcc >= c);
            if (!blocked) {
                if (const char32_t composed = composePair(out[starter], cp)) {
                    out[starter] = composed;
                    continue;
                }
            }
        }
        if (c == 0)
            starter = out.size();
        out.push_back(cp);
        lastCcc = c;
    }

    std::string result;
    result.reserve(text.size());
    for (char32_t cp : out)
        encode(cp, result);
    return result;
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
