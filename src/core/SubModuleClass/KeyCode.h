#pragma once

#include <cstdint>

// Virtual key codes of the physical keys (US layout names), as the key tables
// of the application are written.
namespace Keycode {
inline constexpr uint16_t a = 0, s = 1, d = 2, f = 3, h = 4, g = 5, z = 6, x = 7, c = 8, v = 9,
                          b = 11, q = 12, w = 13, e = 14, r = 15, y = 16, t = 17;
inline constexpr uint16_t one = 18, two = 19, three = 20, four = 21, six = 22, five = 23,
                          equals = 24, nine = 25, seven = 26, minus = 27, eight = 28, zero = 29;
inline constexpr uint16_t rightBracket = 30, o = 31, u = 32, leftBracket = 33, i = 34, p = 35,
                          returnKey = 36, l = 37, j = 38, apostrophe = 39, k = 40, semicolon = 41,
                          backslash = 42, comma = 43, slash = 44, n = 45, m = 46, period = 47,
                          tab = 48, space = 49, grave = 50, deleteKey = 51, escape = 53;
inline constexpr uint16_t command = 55, shift = 56, capsLock = 57, option = 58, control = 59,
                          rightShift = 60, rightOption = 61, rightControl = 62, function = 63;
inline constexpr uint16_t f17 = 64, keypadDecimal = 65, keypadMultiply = 67, keypadPlus = 69,
                          keypadClear = 71, volumeUp = 72, volumeDown = 73, mute = 74,
                          keypadDivide = 75, keypadEnter = 76, keypadMinus = 78, f18 = 79, f19 = 80,
                          keypadEquals = 81, keypad0 = 82, keypad1 = 83, keypad2 = 84, keypad3 = 85,
                          keypad4 = 86, keypad5 = 87, keypad6 = 88, keypad7 = 89, f20 = 90,
                          keypad8 = 91, keypad9 = 92;
inline constexpr uint16_t f5 = 96, f6 = 97, f7 = 98, f3 = 99, f8 = 100, f9 = 101, f11 = 103,
                          f13 = 105, f16 = 106, f14 = 107, f10 = 109, f12 = 111, f15 = 113,
                          help = 114, home = 115, pageUp = 116, forwardDelete = 117, f4 = 118,
                          end = 119, f2 = 120, pageDown = 121, f1 = 122;
inline constexpr uint16_t leftArrow = 123, rightArrow = 124, downArrow = 125, upArrow = 126;
// No physical key: the code of a key the table does not know.
inline constexpr uint16_t unknown = 0xFFFF;
} // namespace Keycode
