// Byte readers and picture checks shared by the asset tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace nerova::test {

inline std::uint32_t u16le(std::string_view d, std::size_t at) {
    return static_cast<std::uint8_t>(d[at]) | static_cast<std::uint8_t>(d[at + 1]) << 8;
}

inline std::uint32_t u32le(std::string_view d, std::size_t at) {
    return u16le(d, at) | u16le(d, at + 2) << 16;
}

inline std::uint32_t u32be(std::string_view d, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(d[at])) << 24 |
           static_cast<std::uint8_t>(d[at + 1]) << 16 | static_cast<std::uint8_t>(d[at + 2]) << 8 |
           static_cast<std::uint8_t>(d[at + 3]);
}

// Straight-alpha RGBA, top row first.
struct Rgba {
    int size = 0;
    std::vector<std::uint8_t> px;

    const std::uint8_t* at(int x, int y) const { return &px[(static_cast<std::size_t>(y) * size + x) * 4]; }
};

// What every size of the artwork must show: transparent corners, an opaque
// tile in the brand colour, and the blue underscore right of and below the
// centre (which catches rows stored upside down and swapped red and blue).
inline void expect_brand_picture(const Rgba& image) {
    const int n = image.size;
    SCOPED_TRACE(n);
    for (auto [x, y] : {std::pair{0, 0}, {n - 1, 0}, {0, n - 1}, {n - 1, n - 1}}) {
        EXPECT_EQ(image.at(x, y)[3], 0) << "corner " << x << "," << y;
    }
    const std::uint8_t* top = image.at(n / 2, 0);
    EXPECT_EQ((std::vector<int>{top[0], top[1], top[2], top[3]}), (std::vector<int>{0x0D, 0x12, 0x1C, 0xFF}));
    for (int y = n / 4; y < 3 * n / 4; ++y) {
        for (int x = n / 4; x < 3 * n / 4; ++x) {
            ASSERT_EQ(image.at(x, y)[3], 255) << "centre pixel " << x << "," << y;
        }
    }
    long blue_count = 0, blue_x = 0, blue_y = 0, white_count = 0;
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const std::uint8_t* p = image.at(x, y);
            if (p[3] == 255 && p[2] > 200 && p[0] < 100) {
                ++blue_count;
                blue_x += x;
                blue_y += y;
            }
            white_count += p[3] == 255 && p[0] > 240 && p[1] > 240 && p[2] > 240;
        }
    }
    ASSERT_GT(blue_count, 0);
    EXPECT_GT(blue_x / blue_count, n / 2);
    EXPECT_GT(blue_y / blue_count, n / 2);
    EXPECT_GE(white_count, n / 2);  // shield and chevron
}

}  // namespace nerova::test
