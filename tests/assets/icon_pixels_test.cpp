// Decodes the served PNG (needs zlib, so only where the build finds it).
#include "assets/assets.h"

#include "image_checks.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <string>

namespace nerova::assets {
namespace {

using test::u32be;

// Inflates the one IDAT and undoes the per-row filters of a 256 px RGBA PNG.
test::Rgba decode_icon_png(std::string_view png) {
    const int n = 256;
    const std::size_t stride = n * 4;
    std::size_t idat_at = 8 + 25;
    std::string_view idat = png.substr(idat_at + 8, u32be(png, idat_at));

    std::string raw((stride + 1) * n, '\0');
    uLongf raw_size = static_cast<uLongf>(raw.size());
    const int status = uncompress(reinterpret_cast<Bytef*>(raw.data()), &raw_size,
                                  reinterpret_cast<const Bytef*>(idat.data()), static_cast<uLong>(idat.size()));
    EXPECT_EQ(status, Z_OK);
    EXPECT_EQ(raw_size, raw.size());

    test::Rgba image{n, std::vector<std::uint8_t>(stride * n)};
    for (int y = 0; y < n; ++y) {
        const int filter = static_cast<std::uint8_t>(raw[y * (stride + 1)]);
        EXPECT_LE(filter, 4) << "row " << y;
        for (std::size_t i = 0; i < stride; ++i) {
            const int a = i >= 4 ? image.px[y * stride + i - 4] : 0;
            const int b = y > 0 ? image.px[(y - 1) * stride + i] : 0;
            const int c = i >= 4 && y > 0 ? image.px[(y - 1) * stride + i - 4] : 0;
            int predictor = 0;
            if (filter == 1) {
                predictor = a;
            } else if (filter == 2) {
                predictor = b;
            } else if (filter == 3) {
                predictor = (a + b) / 2;
            } else if (filter == 4) {
                const int p = a + b - c;
                const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            }
            image.px[y * stride + i] =
                static_cast<std::uint8_t>(static_cast<std::uint8_t>(raw[y * (stride + 1) + 1 + i]) + predictor);
        }
    }
    return image;
}

TEST(BrandPng, DecodesToTheArtworkWithTransparentCorners) {
    test::Rgba image = decode_icon_png(icon_png());
    test::expect_brand_picture(image);
    // Not just the corner pixel: the whole rounded-off corner is empty.
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x + y < 12; ++x) {
            for (auto [px, py] : {std::pair{x, y}, {255 - x, y}, {x, 255 - y}, {255 - x, 255 - y}}) {
                ASSERT_EQ(image.at(px, py)[3], 0) << px << "," << py;
            }
        }
    }
}

}  // namespace
}  // namespace nerova::assets
