#include "text/TimeText.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

std::string createTimeString(float seconds) {
    if (!(seconds >= 0.0f))
        seconds = 0.0f;
    // 2^63 is exactly representable as a float; from there on no int64 holds it.
    if (!(seconds < 9223372036854775808.0f))
        return "--:--:--";
    const int64_t n = static_cast<int64_t>(seconds);
    // Formatted by hand: this runs for every tag of a loaded session file.
    char buf[32];
    char* end = buf + sizeof buf;
    char* p = end;
    auto two = [&p](int v) {
        *--p = static_cast<char>('0' + v % 10);
        *--p = static_cast<char>('0' + v / 10);
    };
    two(static_cast<int>(n % 60));
    *--p = ':';
    two(static_cast<int>((n / 60) % 60));
    *--p = ':';
    int64_t hours = n / 3600;
    do {
        *--p = static_cast<char>('0' + hours % 10);
        hours /= 10;
    } while (hours != 0);
    return std::string(p, static_cast<size_t>(end - p));
}

double readDecimal(std::string_view text) {
    size_t i = 0;
    auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && isSpace(text[i]))
        ++i;
    // from_chars takes '-' but not '+'.
    bool negate = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negate = text[i] == '-';
        ++i;
    }
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        return 0.0;
    double value = 0.0;
    const char* first = text.data() + i;
    const auto result =
        std::from_chars(first, text.data() + text.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // atof gives +-HUGE_VAL on overflow and a (signed) zero on underflow.
        std::string copy(first, static_cast<size_t>(result.ptr - first));
        value = std::strtod(copy.c_str(), nullptr);
    } else if (result.ec != std::errc()) {
        return 0.0;
    }
    return negate ? -value : value;
}

std::string floatText(float value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";

    // Shortest round-trip digits, taken from the scientific form: d.ddde[+-]XX.
    char sci[64];
    const auto res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
    std::string_view s(sci, static_cast<size_t>(res.ptr - sci));
    std::string out;
    if (s.front() == '-') {
        out.push_back('-');
        s.remove_prefix(1);
    }
    const size_t ePos = s.find('e');
    std::string digits;
    for (char c : s.substr(0, ePos))
        if (c != '.')
            digits.push_back(c);
    int exp10 = 0;
    std::from_chars(s.data() + ePos + 1 + (s[ePos + 1] == '+'), s.data() + s.size(), exp10);

    const float magnitude = std::fabs(value);
    const bool exponential = magnitude != 0.0f && (exp10 < -4 || magnitude > 16777216.0f);
    if (exponential) {
        out.push_back(digits[0]);
        if (digits.size() > 1) {
            out.push_back('.');
            out.append(digits, 1);
        }
        char e[16];
        const int len =
            std::snprintf(e, sizeof e, "e%c%02d", exp10 < 0 ? '-' : '+', std::abs(exp10));
        out.append(e, static_cast<size_t>(len));
        return out;
    }
    if (exp10 < 0) {
        out.append("0.");
        out.append(static_cast<size_t>(-exp10 - 1), '0');
        out.append(digits);
        return out;
    }
    const size_t intLen = static_cast<size_t>(exp10) + 1;
    if (digits.size() <= intLen) {
        out.append(digits);
        out.append(intLen - digits.size(), '0');
        out.append(".0");
    } else {
        out.append(digits, 0, intLen);
        out.push_back('.');
        out.append(digits, intLen);
    }
    return out;
}
