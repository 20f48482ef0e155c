#include "text/Gbk.h"

#include <gtest/gtest.h>

using namespace text;

TEST(Gbk, ConvertsBothWays) {
    std::string gbk = ToGbk("成功");
    EXPECT_EQ(gbk, "\xB3\xC9\xB9\xA6");
    EXPECT_EQ(ToUtf8(gbk), "成功");
    EXPECT_EQ(ToGbk("PDA1"), "PDA1");
    EXPECT_EQ(ToUtf8("\x80"), "€"); // 0x80 is the euro sign in code page 936
}

TEST(Gbk, InvalidBytesShowAsReplacementAndConversionGoesOn) {
    EXPECT_EQ(ToUtf8(std::string("A\xFF"
                                 "B")),
              "A\xEF\xBF\xBD"
              "B");
    // A lead byte that ends the buffer
    EXPECT_EQ(ToUtf8(std::string("AB\xB3")), "AB\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_THROW(ToGbk("\xF0\x9F\x98\x80"), std::invalid_argument); // emoji has no GBK form
}

TEST(Gbk, TrimRemovesControlAndSpaceOnlyAtBothEnds) {
    EXPECT_EQ(Trim(std::string(" \t\r\n\0a b\x01", 9)), "a b");
    EXPECT_EQ(Trim("\xA1\xA1x\xA1\xA1"), "\xA1\xA1x\xA1\xA1"); // full-width blank is not a blank
    EXPECT_EQ(TrimLeft("  a  "), "a  ");
    EXPECT_EQ(TrimRight("  a  "), "  a");
    EXPECT_EQ(Trim("   "), "");
}

TEST(Gbk, SplitLinesAtEveryKindOfBreak) {
    struct Case {
        std::string in;
        std::vector<std::string> out;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"a\n\nb\n", {"a", "", "b"}},
        {"\r\n", {""}},
        {"a\n\r", {"a", ""}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitLines(c.in), c.out) << c.in;
    }
}

TEST(Gbk, CutAtNul) {
    EXPECT_EQ(CutAtNul(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(CutAtNul("abc"), "abc");
}

TEST(Gbk, CountsAndDropsCharacters) {
    std::string s = "ab" + ToGbk("谢谢") + "c"; // 2 + 2 + 1 characters, 7 bytes
    EXPECT_EQ(GbkCharCount(s), 5u);
    EXPECT_EQ(DropLastGbkChars(s, 2), "ab" + ToGbk("谢"));
    EXPECT_EQ(DropLastGbkChars(s, 5), "");
    EXPECT_EQ(DropLastGbkChars(s, 9), "");
    // A dangling lead byte at the end is one character
    std::string cut = "a" + ToGbk("谢").substr(0, 1);
    EXPECT_EQ(GbkCharCount(cut), 2u);
    EXPECT_EQ(DropLastGbkChars(cut, 1), "a");
    // 0x7F is no trail byte: B0 7F is two characters
    EXPECT_EQ(GbkCharCount("\xB0\x7F"), 2u);
}

TEST(Gbk, FixedTextsAreConvertedOnceAndStayPut) {
    const std::string& a = Fixed("成功");
    for (int i = 0; i < 100; ++i) {
        Fixed(("text" + std::to_string(i)).c_str());
    }
    EXPECT_EQ(&a, &Fixed("成功"));
    EXPECT_EQ(a, "\xB3\xC9\xB9\xA6");
}

TEST(Gbk, NamesCompareWithoutCaseButTwoByteCharactersExactly) {
    EXPECT_TRUE(EqualsNoCase("Com1", "cOM1"));
    EXPECT_FALSE(EqualsNoCase("\xB0\x41", "\xB0\x61")); // two characters, not one in two cases
    EXPECT_TRUE(LessNoCase{}("com1", "COM2"));
    EXPECT_FALSE(LessNoCase{}("COM1", "com1"));
}
