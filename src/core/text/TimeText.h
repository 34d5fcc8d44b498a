#pragma once

#include <string>
#include <string_view>

// Text of a video time in whole seconds: H:MM:SS, hours unpadded and unbounded
// (0:01:05, 25:00:00). Fractions are dropped, never rounded; negative and NaN
// show 0:00:00. A time with no whole-second value (infinite, or 2^63 s and
// beyond, which only a hand-edited file can give) shows "--:--:--" rather than
// a wrapped or undefined number.
std::string createTimeString(float seconds);

// Reads a number the way C's atof does, but independent of the C locale:
// leading white space, optional sign, the longest decimal prefix (with
// exponent, "inf", "nan"); 0 when nothing can be read.
double readDecimal(std::string_view text);

// Splits at every ':' and drops empty pieces; calls fn(piece) for each piece
// until it returns false.
template <typename Fn> void forEachTimePiece(std::string_view text, Fn&& fn) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(':', pos);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > pos && !fn(text.substr(pos, end - pos)))
            return;
        pos = end + 1;
    }
}

// Shortest text that reads back as the same 32-bit float, always with a
// decimal point and a digit after it in plain form (65.0, 754.25); magnitudes
// below 0.0001 or above 2^24 in exponent form (1e-05, 1.6777218e+07).
std::string floatText(float value);
