#include <gtest/gtest.h>

#include <vector>

#include "common/text.h"

using nerova::text::to_wide;

TEST(ToWide, CountsTheTerminatorAndEncodesUtf16) {
    EXPECT_EQ(to_wide<char16_t>(""), std::vector<char16_t>{0});
    EXPECT_EQ(to_wide<char16_t>("开机自启"), (std::vector<char16_t>{0x5F00, 0x673A, 0x81EA, 0x542F, 0}));
    EXPECT_EQ(to_wide<char16_t>("Nerova桥").size(), 8u);
    EXPECT_EQ(to_wide<char16_t>("\xF0\x9F\x98\x80"), (std::vector<char16_t>{0xD83D, 0xDE00, 0}));
    EXPECT_EQ(to_wide<char16_t>("a\xFF" "b"), (std::vector<char16_t>{u'a', 0xFFFD, u'b', 0}));
}
