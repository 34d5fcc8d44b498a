#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

#include "Model/DataModel.h"

TEST(TimeText, FormatsWholeSecondsWithUnpaddedHours) {
    const std::pair<float, const char*> cases[] = {
        {5.9f, "0:00:05"},      {754.25f, "0:12:34"}, {3725.0f, "1:02:05"},
        {36000.0f, "10:00:00"}, {-3.0f, "0:00:00"},   {1e9f, "277777:46:40"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(createTimeString(seconds), text) << seconds;
}

TEST(TimeText, ValuesWithoutAWholeSecondCountShowAPlaceholder) {
    EXPECT_EQ(createTimeString(std::numeric_limits<float>::quiet_NaN()), "0:00:00");
    EXPECT_EQ(createTimeString(-std::numeric_limits<float>::infinity()), "0:00:00");
    EXPECT_EQ(createTimeString(std::numeric_limits<float>::infinity()), "--:--:--");
    EXPECT_EQ(createTimeString(9.3e18f), "--:--:--");
    EXPECT_EQ(createTimeString(std::numeric_limits<float>::max()), "--:--:--");
    // The largest float below 2^63 still has a proper text.
    const float below = std::nextafter(9223372036854775808.0f, 0.0f);
    EXPECT_EQ(createTimeString(below), "2562047635305267:12:00");
}

TEST(TimeText, TimeStrParsesThreePiecesAndKeepsTheText) {
    struct Case {
        const char* text;
        float value;
    };
    const Case cases[] = {{"1:02:03", 3723}, {"1::02:03", 3723},   {"0:01:05.5", 65.5f},
                          {"00:00:07", 7},   {"x:y:z", 0},         {"1:02:03:04", 3723},
                          {":1:2:3:", 3723}, {" 1: +2:3e1", 3750}, {"1:-1:0", 3540}};
    for (const Case& c : cases) {
        TagRowData row;
        row.time_val = 99;
        row.set_time_str(c.text);
        EXPECT_EQ(row.time_val, c.value) << c.text;
        EXPECT_EQ(row.time_string, c.text);
    }
    for (const char* unchanged : {"12:34", "", ":::", "5"}) {
        TagRowData row;
        row.set_time_str(unchanged);
        EXPECT_EQ(row.time_val, 0.0f) << unchanged;
        EXPECT_EQ(row.time_string, "") << unchanged;
    }
}

TEST(TimeText, ReadDecimalBehavesLikeAtof) {
    EXPECT_EQ(readDecimal("  12.5abc"), 12.5);
    EXPECT_EQ(readDecimal("-.5"), -0.5);
    EXPECT_EQ(readDecimal("1e3"), 1000.0);
    EXPECT_EQ(readDecimal("1e"), 1.0);
    EXPECT_EQ(readDecimal("abc"), 0.0);
    EXPECT_EQ(readDecimal("+-1"), 0.0);
    EXPECT_EQ(readDecimal("0x10"), 0.0); // decimal only
    EXPECT_TRUE(std::isinf(readDecimal("1e999")));
    EXPECT_TRUE(std::isnan(readDecimal("nan")));
}

TEST(TimeText, FloatTextIsShortestRoundTrip) {
    const std::pair<float, const char*> cases[] = {
        {65.0f, "65.0"},
        {0.1f, "0.1"},
        {-0.0f, "-0.0"},
        {1e-5f, "1e-05"},
        {0.0001f, "0.0001"},
        {16777216.0f, "16777216.0"},
        {16777218.0f, "1.6777218e+07"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(floatText(value), text);
    EXPECT_EQ(floatText(std::numeric_limits<float>::infinity()), "inf");
    // Every written text reads back as the same float, over a wide sweep.
    uint32_t bits = 0x3F800000;
    for (int i = 0; i < 200000; ++i) {
        bits = bits * 1664525u + 1013904223u;
        float v;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isfinite(v))
            continue;
        const std::string t = floatText(v);
        ASSERT_EQ(static_cast<float>(readDecimal(t)), v) << t;
        ASSERT_NE(t.find_first_of(".e"), std::string::npos) << t;
    }
}
