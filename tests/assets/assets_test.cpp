#include "assets/assets.h"

#include "image_checks.h"

#include <gtest/gtest.h>

#include <array>
#include <regex>
#include <string>
#include <vector>

namespace nerova::assets {
namespace {

using test::u16le;
using test::u32be;
using test::u32le;

constexpr std::string_view PNG_SIGNATURE = "\x89PNG\r\n\x1a\n";

struct Chunk {
    std::string type;
    std::string_view body;
    std::uint32_t crc;
};

// Splits a PNG into chunks; an overrun or a trailing fragment fails the test.
std::vector<Chunk> chunks_of(std::string_view png) {
    std::vector<Chunk> chunks;
    std::size_t pos = PNG_SIGNATURE.size();
    while (pos < png.size()) {
        if (png.size() - pos < 12) {
            ADD_FAILURE() << "truncated chunk header at " << pos;
            break;
        }
        std::size_t length = u32be(png, pos);
        if (png.size() - pos - 12 < length) {
            ADD_FAILURE() << "chunk overruns the file at " << pos;
            break;
        }
        chunks.push_back({std::string(png.substr(pos + 4, 4)), png.substr(pos + 8, length),
                          u32be(png, pos + 8 + length)});
        pos += 12 + length;
    }
    return chunks;
}

std::uint32_t crc32_of(std::string_view a, std::string_view b) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::string_view part : {a, b}) {
        for (char c : part) {
            crc ^= static_cast<std::uint8_t>(c);
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
            }
        }
    }
    return ~crc;
}

TEST(BrandPng, IsSignatureIhdrOneIdatIendWithValidCrcs) {
    const std::string_view png = icon_png();
    EXPECT_EQ(png.size(), 24222u);
    ASSERT_EQ(png.substr(0, 8), PNG_SIGNATURE);

    std::vector<Chunk> chunks = chunks_of(png);
    std::vector<std::string> types;
    for (const Chunk& chunk : chunks) {
        types.push_back(chunk.type);
        EXPECT_EQ(chunk.crc, crc32_of(chunk.type, chunk.body)) << chunk.type;
    }
    ASSERT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    std::string_view ihdr = chunks[0].body;
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(u32be(ihdr, 0), 256u);
    EXPECT_EQ(u32be(ihdr, 4), 256u);
    EXPECT_EQ(std::string(ihdr.substr(8)), std::string("\x08\x06\x00\x00\x00", 5))
        << "depth 8, RGBA, deflate, adaptive filter, no interlace";
    EXPECT_TRUE(chunks[2].body.empty());
}

struct IcoEntry {
    int size;
    std::string_view data;
};

// The directory's entries after checking the fields every entry shares.
std::vector<IcoEntry> ico_entries(std::string_view ico) {
    std::vector<IcoEntry> entries;
    EXPECT_EQ(u16le(ico, 0), 0u);
    EXPECT_EQ(u16le(ico, 2), 1u) << "type: icon";
    const std::size_t count = u16le(ico, 4);
    std::size_t expected_offset = 6 + 16 * count;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 6 + 16 * i;
        const int width = static_cast<std::uint8_t>(ico[at]);
        const int height = static_cast<std::uint8_t>(ico[at + 1]);
        EXPECT_EQ(width, height);
        EXPECT_EQ(ico[at + 2], 0) << "no palette";
        EXPECT_EQ(ico[at + 3], 0);
        EXPECT_EQ(u16le(ico, at + 4), 1u) << "planes";
        EXPECT_EQ(u16le(ico, at + 6), 32u) << "bits per pixel";
        const std::size_t length = u32le(ico, at + 8);
        const std::size_t offset = u32le(ico, at + 12);
        EXPECT_EQ(offset, expected_offset) << "images follow the directory back to back";
        if (offset > ico.size() || ico.size() - offset < length) {
            ADD_FAILURE() << "entry " << i << " overruns the file";
            break;
        }
        expected_offset = offset + length;
        entries.push_back({width == 0 ? 256 : width, ico.substr(offset, length)});
    }
    EXPECT_EQ(expected_offset, ico.size()) << "no bytes after the last image";
    return entries;
}

std::size_t mask_stride(int size) { return static_cast<std::size_t>((size + 31) / 32 * 4); }

// Decodes a bitmap entry, expecting BITMAPINFOHEADER, doubled height, 32 bpp
// BGRA bottom-up and an AND mask that marks exactly the mostly transparent pixels.
test::Rgba decode_bitmap(const IcoEntry& entry) {
    const int n = entry.size;
    std::string_view d = entry.data;
    test::Rgba image{n, {}};
    EXPECT_EQ(d.size(), 40 + static_cast<std::size_t>(n) * n * 4 + mask_stride(n) * n);
    if (d.size() != 40 + static_cast<std::size_t>(n) * n * 4 + mask_stride(n) * n) {
        return image;
    }
    EXPECT_EQ(u32le(d, 0), 40u) << "BITMAPINFOHEADER";
    EXPECT_EQ(u32le(d, 4), static_cast<std::uint32_t>(n));
    EXPECT_EQ(u32le(d, 8), static_cast<std::uint32_t>(2 * n)) << "height covers colour and mask";
    EXPECT_EQ(u16le(d, 12), 1u);
    EXPECT_EQ(u16le(d, 14), 32u);
    EXPECT_EQ(u32le(d, 16), 0u) << "BI_RGB";

    image.px.resize(static_cast<std::size_t>(n) * n * 4);
    const std::string_view pixels = d.substr(40, static_cast<std::size_t>(n) * n * 4);
    const std::string_view mask = d.substr(40 + pixels.size());
    int mask_mismatches = 0;
    for (int row = 0; row < n; ++row) {
        const int y = n - 1 - row;  // bottom-up
        for (int x = 0; x < n; ++x) {
            const std::size_t at = (static_cast<std::size_t>(row) * n + x) * 4;
            std::uint8_t* px = &image.px[(static_cast<std::size_t>(y) * n + x) * 4];
            px[0] = static_cast<std::uint8_t>(pixels[at + 2]);
            px[1] = static_cast<std::uint8_t>(pixels[at + 1]);
            px[2] = static_cast<std::uint8_t>(pixels[at]);
            px[3] = static_cast<std::uint8_t>(pixels[at + 3]);
            const bool masked = static_cast<std::uint8_t>(mask[row * mask_stride(n) + x / 8]) & (0x80 >> (x % 8));
            mask_mismatches += masked != (px[3] < 128);
        }
    }
    EXPECT_EQ(mask_mismatches, 0);
    return image;
}

TEST(BrandIco, HoldsSevenImagesWithThe256pxOneAsTheServedPng) {
    const std::string_view ico = brand_ico();
    EXPECT_EQ(ico.size(), 126372u);
    std::vector<IcoEntry> entries = ico_entries(ico);
    std::vector<int> sizes;
    for (const IcoEntry& entry : entries) {
        sizes.push_back(entry.size);
    }
    ASSERT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 128, 256}));
    EXPECT_TRUE(entries.back().data == icon_png()) << "the 256 px entry must be icon_png() byte for byte";
}

TEST(BrandIco, BitmapsAreWellFormedAndShowTheArtworkUpright) {
    std::vector<IcoEntry> entries = ico_entries(brand_ico());
    ASSERT_EQ(entries.size(), 7u);
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
        test::Rgba image = decode_bitmap(entries[i]);
        if (!image.px.empty()) {
            test::expect_brand_picture(image);
        }
    }
}

TEST(StatusPage, CarriesEveryElementTextAndBehaviour) {
    const std::string html(status_page_html());
    const char* required[] = {
        "<html lang=\"zh-CN\">", "<meta charset=\"UTF-8\">",
        "content=\"width=device-width, initial-scale=1.0\"", "<title>网络助手</title>",
        "src=\"/icon.png\" alt=\"logo\"", "ORVA-Network-Helper", "id=\"dot\" class=\"dot\" title=\"离线\"",
        "id=\"rows\" class=\"rows\"", "本机 IP", "出口 IP", "网关", "MAC 地址", "网卡", "DNS", "获取方式",
        "id=\"v-localIp\"", "id=\"v-wanIp\"", "id=\"v-gatewayIp\"", "id=\"v-macAddress\"", "id=\"v-iface\"",
        "id=\"v-dns\"", "id=\"v-mode\"", "title=\"点击复制\"", "class=\"value muted\">—<",
        "id=\"btn-refresh\"", ">刷新<", ">打开Nerova主站<", "id=\"toast\" class=\"toast\">已复制<",
        "'在线'", "'离线'", "'（Wi-Fi）'", "' / '", "'自动获取 (DHCP)'", "'静态 IP'", "'MAC 已复制'",
        "fetch('/status', { cache: 'no-store' })", "setInterval(refresh, REFRESH_MS)", "REFRESH_MS = 3000",
        "TOAST_MS = 1600", "navigator.clipboard.writeText", "execCommand('copy')",
        "@media (prefers-color-scheme: dark)",
    };
    for (const char* text : required) {
        EXPECT_NE(html.find(text), std::string::npos) << text;
    }
    const std::string empty_value = "\">—</span>";
    std::size_t empty_values = 0;
    for (std::size_t at = html.find(empty_value); at != std::string::npos; at = html.find(empty_value, at + 1)) {
        ++empty_values;
    }
    EXPECT_EQ(empty_values, 7u);
}

TEST(StatusPage, LinksTheConfiguredSiteAndLoadsOnlyIconAndStatus) {
    const std::string html(status_page_html());
    const std::string url(main_site_url());
    ASSERT_EQ(url.rfind("http", 0), 0u) << url;
    EXPECT_FALSE(std::regex_search(html, std::regex("@[A-Za-z_]+@"))) << "unsubstituted placeholder";
    EXPECT_NE(html.find("href=\"" + url + "\" target=\"_blank\" rel=\"noopener noreferrer\""), std::string::npos);

    std::vector<std::string> sources;
    const std::regex loads(R"((src=|href=|url\(|fetch\(|<link|@import)\s*["']?([^"')\s>]*))");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), loads); it != std::sregex_iterator(); ++it) {
        sources.push_back((*it)[1].str() + (*it)[2].str());
    }
    EXPECT_EQ(sources, (std::vector<std::string>{"src=/icon.png", "href=" + url, "fetch(/status"}));
}

}  // namespace
}  // namespace nerova::assets
