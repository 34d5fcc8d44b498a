#include <gtest/gtest.h>

#include "text/UnicodeText.h"

TEST(UnicodeText, ComposesCanonically) {
    EXPECT_TRUE(isNfcQuick("ドロップアウト ascii é"));
    EXPECT_FALSE(isNfcQuick("\xE3\x83\x88\xE3\x82\x99")); // ト + combining voiced mark
    EXPECT_EQ(toNfc("\xE3\x83\x88\xE3\x82\x99"), "ド");
    EXPECT_EQ(toNfc("\xE3\x83\x98\xE3\x82\x9A"), "ペ");
    // Invalid bytes survive untouched, even next to marks (a conversion
    // through UTF-16 would turn them into U+FFFD).
    EXPECT_EQ(toNfc("\xFF"
                    "e\xCC\x81\xC3"),
              "\xFF"
              "é\xC3");
    EXPECT_EQ(toNfc(""), "");
}
