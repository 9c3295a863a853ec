// The tray's pure pieces: card placement, hit tests, tick rules, premultiplication, UTF-16 text,
// log lines and the start-at-login value.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tray/autostart_value.h"
#include "tray/log_format.h"
#include "tray/pixels.h"
#include "tray/tray_rules.h"
#include "tray/wide.h"

using namespace nerova::tray;

namespace {

void expect_point(Point actual, int x, int y) {
    EXPECT_EQ(actual.x, x);
    EXPECT_EQ(actual.y, y);
}

}  // namespace

TEST(CardPlacement, ClickInABottomTaskbarPutsBothCardsInTheCorner) {
    const WorkArea area{0, 0, 1920, 1040};
    expect_point(place_popup({1800, 1060}, area), 1636, 866);
    expect_point(place_menu({1800, 1060}, area), 1705, 904);
}

TEST(CardPlacement, CardsCentreOnTheCursorAboveIt) {
    const WorkArea area{0, 0, 1920, 1040};
    expect_point(place_popup({900, 600}, area), 900 - 138, 600 - 178);
    expect_point(place_menu({900, 600}, area), 900 - 95, 600 - 136);
}

TEST(CardPlacement, TopTaskbarOpensThePopupAtTheTopAndTheMenuBelowTheCursor) {
    const WorkArea area{0, 40, 1920, 1080};
    expect_point(place_popup({1800, 20}, area), 1636, 48);
    // Above the cursor there is no room: the menu opens 4 px below it.
    expect_point(place_menu({1800, 60}, area), 1705, 64);
    expect_point(place_menu({1800, 20}, area), 1705, 44);
}

TEST(CardPlacement, KeepsTheMarginAtTheLeftEdgeOfAnOffsetMonitor) {
    const WorkArea area{-1920, 0, 0, 1040};
    expect_point(place_popup({-1910, 500}, area), -1912, 322);
    expect_point(place_menu({-1910, 500}, area), -1916, 364);
}

TEST(CardPlacement, AreaSmallerThanACardPutsItAtTheMargin) {
    const WorkArea narrow{100, 50, 300, 1000};
    EXPECT_EQ(place_popup({200, 500}, narrow).x, 108);
    EXPECT_EQ(place_menu({200, 500}, narrow).x, 200 - 95);  // 190 and two 4 px margins fit in 200
    const WorkArea tiny{100, 50, 250, 150};
    expect_point(place_popup({200, 100}, tiny), 108, 58);
    expect_point(place_menu({200, 100}, tiny), 104, 54);
}

TEST(HitTests, QuitButtonIsHalfOpenAtItsEdges) {
    EXPECT_TRUE(over_quit_button(24, 116));
    EXPECT_TRUE(over_quit_button(251, 145));
    EXPECT_FALSE(over_quit_button(252, 130));
    EXPECT_FALSE(over_quit_button(100, 146));
    EXPECT_FALSE(over_quit_button(23, 130));
    EXPECT_FALSE(over_quit_button(100, 115));
    EXPECT_FALSE(over_quit_button(-30000, -30000));  // left of or above the window
}

TEST(HitTests, MenuRowsCoverSixTo125) {
    EXPECT_EQ(menu_row_at(5), -1);
    EXPECT_EQ(menu_row_at(6), 0);
    EXPECT_EQ(menu_row_at(35), 0);
    EXPECT_EQ(menu_row_at(36), 1);
    EXPECT_EQ(menu_row_at(66), 2);
    EXPECT_EQ(menu_row_at(125), 3);
    EXPECT_EQ(menu_row_at(126), -1);
    EXPECT_EQ(menu_row_at(-20), -1);
    EXPECT_EQ(menu_row_at(32767), -1);
}

TEST(TickRules, ForegroundGraceAndSampling) {
    EXPECT_FALSE(foreground_grace_over(1600, 1000));
    EXPECT_TRUE(foreground_grace_over(1601, 1000));
    EXPECT_FALSE(foreground_grace_over(500, 1000));  // a clock behind the opening counts as 0 ms
    EXPECT_TRUE(is_sample_tick(0));
    for (std::uint32_t tick = 1; tick < 8; ++tick) EXPECT_FALSE(is_sample_tick(tick)) << tick;
    EXPECT_TRUE(is_sample_tick(8));
    EXPECT_TRUE(is_sample_tick(0xFFFFFFF8u));
    EXPECT_FALSE(is_sample_tick(0xFFFFFFFFu));
}

TEST(PremultiplyAlpha, RoundsToNearestAndLeavesOpaqueAndClearPixels) {
    std::vector<std::uint8_t> pixels = {
        255, 128, 0,   128,  // half alpha
        10,  20,  30,  0,    // clear: colour kept
        10,  20,  30,  255,  // opaque: unchanged
        255, 254, 1,   1,    // (255 + 127) / 255 = 1, (254 + 127) / 255 = 1, (1 + 127) / 255 = 0
        200, 100, 50,  254,  // (200 * 254 + 127) / 255 = 199
        77,  77,  77,  77,   // outside width x height: untouched
    };
    premultiply_alpha(pixels.data(), 5, 1);
    const std::vector<std::uint8_t> expected = {
        128, 64, 0,  128, 10, 20, 30, 0,   10, 20, 30, 255,
        1,   1,  0,  1,   199, 100, 50, 254, 77, 77, 77, 77,
    };
    EXPECT_EQ(pixels, expected);
}

TEST(ToWide, CountsTheTerminatorAndEncodesUtf16) {
    EXPECT_EQ(to_wide<char16_t>(""), std::vector<char16_t>{0});
    EXPECT_EQ(to_wide<char16_t>("开机自启"), (std::vector<char16_t>{0x5F00, 0x673A, 0x81EA, 0x542F, 0}));
    EXPECT_EQ(to_wide<char16_t>("Nerova桥").size(), 8u);
    EXPECT_EQ(to_wide<char16_t>("\xF0\x9F\x98\x80"), (std::vector<char16_t>{0xD83D, 0xDE00, 0}));
    EXPECT_EQ(to_wide<char16_t>("a\xFF" "b"), (std::vector<char16_t>{u'a', 0xFFFD, u'b', 0}));
}

TEST(LogText, LinesAndMessagesKeepTheirExactForm) {
    EXPECT_EQ(log_line_text(123456, "hello"), "[tick=123456] hello\n");
    EXPECT_EQ(log_line_text(0, "two\nlines"), "[tick=0] two\nlines\n");
    EXPECT_EQ(log_line_text(18446744073709551615ull, ""), "[tick=18446744073709551615] \n");
    EXPECT_EQ(gdiplus_startup_message(0, 1234567, 24, 0), "gdiplus_startup: status=0 token=1234567 input_size=24 last_err=0");
    EXPECT_EQ(gdiplus_startup_message(-1, 0, 24, 4294967295u),
              "gdiplus_startup: status=-1 token=0 input_size=24 last_err=4294967295");
    EXPECT_EQ(init_message(99, -5), "init: gdiplus_token=99, icon_image=-5");
    EXPECT_EQ(render_failure_message("GetDC", 5), "render: GetDC failed, err=5");
    EXPECT_EQ(render_failure_message("CreateDIBSection", 8), "render: CreateDIBSection failed, err=8");
    EXPECT_EQ(graphics_failure_message(-7), "render: GdipCreateFromHDC failed, status=-7");
    EXPECT_EQ(layered_update_failure_message(87, -1912, 0), "render: UpdateLayeredWindow failed, err=87, rect=(-1912,0)");
}

TEST(AutostartValue, QuotedPathAndStoredSize) {
    const std::string command = autostart_command(u"C:\\Apps\\Bridge\\bridge.exe");
    EXPECT_EQ(command, "\"C:\\Apps\\Bridge\\bridge.exe\"");
    EXPECT_EQ(command.size(), 27u);
    EXPECT_EQ(registry_string_size(27), 56u);
    EXPECT_EQ(autostart_command(u"C:\\Program Files\\新建\\b.exe"), "\"C:\\Program Files\\新建\\b.exe\"");
    const char16_t lone_surrogate[] = {u'C', 0xD800, u'x', 0};
    EXPECT_EQ(autostart_command(lone_surrogate), "\"C\xEF\xBF\xBDx\"");
    EXPECT_EQ(to_wide<char16_t>(autostart_command(lone_surrogate)).size(), 6u);
}
