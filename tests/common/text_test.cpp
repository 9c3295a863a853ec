#include <gtest/gtest.h>

#include "common/text.h"

using namespace nerova::text;

TEST(Utf8Lossy, ReplacesEachBadSequenceAndKeepsGoodText) {
    EXPECT_EQ(utf8_lossy("abc"), "abc");
    EXPECT_EQ(utf8_lossy("\xE4\xBD\xA0"), "\xE4\xBD\xA0");
    EXPECT_EQ(utf8_lossy("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    // A truncated three-byte sequence is one maximal bad subpart: one replacement.
    EXPECT_EQ(utf8_lossy("\xE4\xBD" "x"), "\xEF\xBF\xBDx");
    // Surrogates and overlong forms are invalid.
    EXPECT_EQ(utf8_lossy("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(utf8_lossy("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));
    EXPECT_TRUE(is_valid_utf8("\xF4\x8F\xBF\xBF"));
}

TEST(Trim, RemovesUnicodeWhiteSpaceOnlyAtTheEnds) {
    EXPECT_EQ(trim(" \t\r\nab c\v\f "), "ab c");
    EXPECT_EQ(trim("\xE3\x80\x80x\xC2\xA0"), "x");  // ideographic space, no-break space
    EXPECT_EQ(trim("\xE2\x80\xA8x\xC2\x85"), "x");  // line separator, next line
    EXPECT_EQ(trim("\xEF\xBB\xBFx"), "\xEF\xBB\xBFx");  // a byte-order mark is not white space
    EXPECT_EQ(trim("\xE2\x80\x8Bx"), "\xE2\x80\x8Bx");  // nor is a zero-width space
    EXPECT_EQ(trim("   "), "");
}

TEST(SplitWhitespace, SplitsOnRunsAndDropsEmptyFields) {
    const auto fields = split_whitespace("  GET\t\t/a\xE3\x80\x80HTTP/1.1 \x0B");
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[0], "GET");
    EXPECT_EQ(fields[1], "/a");
    EXPECT_EQ(fields[2], "HTTP/1.1");
    EXPECT_TRUE(split_whitespace(" \t ").empty());
}

TEST(AsciiIequals, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(ascii_iequals("WebSocket", "websocket"));
    EXPECT_FALSE(ascii_iequals("websocket ", "websocket"));
    EXPECT_FALSE(ascii_iequals("[", "{"));  // 0x5B and 0x7B differ by 0x20 but are not letters
}
