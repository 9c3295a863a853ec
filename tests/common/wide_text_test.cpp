#include <gtest/gtest.h>

#include "common/text.h"

namespace nerova::text {
namespace {

TEST(Utf16ToUtf8, ConvertsEveryPlane) {
    EXPECT_EQ(utf16_to_utf8(u""), "");
    EXPECT_EQ(utf16_to_utf8(u"Wi-Fi"), "Wi-Fi");
    EXPECT_EQ(utf16_to_utf8(u"\u00e9\u4ee5\u592a\u7f51"), "\xC3\xA9\xE4\xBB\xA5\xE5\xA4\xAA\xE7\xBD\x91");
    EXPECT_EQ(utf16_to_utf8(u"\U0001F600!"), "\xF0\x9F\x98\x80!");
}

TEST(Utf16ToUtf8, UnpairedSurrogatesBecomeReplacementCharacters) {
    const std::u16string high_at_end = {u'a', char16_t(0xD83D)};
    const std::u16string lone_low = {char16_t(0xDE00), u'b'};
    const std::u16string two_highs_then_low = {char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)};
    EXPECT_EQ(utf16_to_utf8(high_at_end), "a\xEF\xBF\xBD");
    EXPECT_EQ(utf16_to_utf8(lone_low), "\xEF\xBF\xBD" "b");
    EXPECT_EQ(utf16_to_utf8(two_highs_then_low), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace nerova::text
