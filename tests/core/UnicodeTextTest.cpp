#include <gtest/gtest.h>

#include "Model/UnicodeText.h"

TEST(UnicodeText, ComposesCanonically) {
    EXPECT_TRUE(isNfcQuick("ドロップアウト ascii é"));
    EXPECT_FALSE(isNfcQuick("\xE3\x83\x88\xE3\x82\x99")); // ト + combining voiced mark
    EXPECT_EQ(toNfc("\xE3\x83\x88\xE3\x82\x99"), "ド");
    EXPECT_EQ(toNfc("\xE3\x83\x98\xE3\x82\x9A"), "ペ");
    EXPECT_EQ(toNfc("e\xCC\x81"), "é");
    // Marks out of canonical order are reordered and composed: a + dot below + acute.
    EXPECT_EQ(toNfc("a\xCC\x81\xCC\xA3"), toNfc("a\xCC\xA3\xCC\x81"));
    EXPECT_EQ(toNfc("a\xCC\xA3\xCC\x81"), "\xE1\xBA\xA1\xCC\x81"); // ạ + acute
    // Singletons map away: the Ohm sign becomes Omega, a compatibility
    // ideograph its unified form.
    EXPECT_EQ(toNfc("\xE2\x84\xA6"), "\xCE\xA9");
    EXPECT_EQ(toNfc("\xEF\xA4\x80"), "\xE8\xB1\x88");
    // Hangul jamo compose algorithmically.
    EXPECT_EQ(toNfc("\xE1\x84\x80\xE1\x85\xA1\xE1\x86\xA8"), "\xEA\xB0\x81");
    // Invalid bytes survive untouched, even next to marks.
    EXPECT_EQ(toNfc("\xFF"
                    "e\xCC\x81\xC3"),
              "\xFF"
              "é\xC3");
    EXPECT_EQ(toNfc(""), "");
}
