// The tray's pure pieces: card sizes and placement at every DPI, monitors, hit tests, the icon
// click, tick rules, log lines and the start-at-login value.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <optional>
#include <vector>

#include "tray/autostart_value.h"
#include "tray/log_format.h"
#include "tray/tray_rules.h"
#include "common/text.h"

using namespace nerova::tray;
using nerova::text::to_wide;

namespace {

void expect_point(Point actual, int x, int y) {
    EXPECT_EQ(actual.x, x);
    EXPECT_EQ(actual.y, y);
}

}  // namespace

Point popup_at(Point anchor, WorkArea area, unsigned dpi = 96) { return place_card(CardKind::popup, anchor, area, dpi); }
Point menu_at(Point anchor, WorkArea area, unsigned dpi = 96) { return place_card(CardKind::menu, anchor, area, dpi); }

TEST(CardPlacement, ClickInABottomTaskbarPutsBothCardsInTheCorner) {
    const WorkArea area{0, 0, 1920, 1040};
    expect_point(popup_at({1800, 1060}, area), 1636, 866);
    expect_point(menu_at({1800, 1060}, area), 1705, 904);
}

TEST(CardPlacement, CardsCentreOnTheCursorAboveIt) {
    const WorkArea area{0, 0, 1920, 1040};
    expect_point(popup_at({900, 600}, area), 900 - 138, 600 - 178);
    expect_point(menu_at({900, 600}, area), 900 - 95, 600 - 136);
}

TEST(CardPlacement, TopTaskbarOpensThePopupAtTheTopAndTheMenuBelowTheCursor) {
    const WorkArea area{0, 40, 1920, 1080};
    expect_point(popup_at({1800, 20}, area), 1636, 48);
    // Above the cursor there is no room: the menu opens 4 px below it.
    expect_point(menu_at({1800, 60}, area), 1705, 64);
    expect_point(menu_at({1800, 20}, area), 1705, 44);
}

TEST(CardPlacement, KeepsTheMarginAtTheLeftEdgeOfAnOffsetMonitor) {
    const WorkArea area{-1920, 0, 0, 1040};
    expect_point(popup_at({-1910, 500}, area), -1912, 322);
    expect_point(menu_at({-1910, 500}, area), -1916, 364);
}

TEST(CardPlacement, AreaSmallerThanACardPutsItAtTheMargin) {
    const WorkArea narrow{100, 50, 300, 1000};
    EXPECT_EQ(popup_at({200, 500}, narrow).x, 108);
    EXPECT_EQ(menu_at({200, 500}, narrow).x, 200 - 95);  // 190 and two 4 px margins fit in 200
    const WorkArea tiny{100, 50, 250, 150};
    expect_point(popup_at({200, 100}, tiny), 108, 58);
    expect_point(menu_at({200, 100}, tiny), 104, 54);
}

TEST(CardPlacement, ExactEdges) {
    const WorkArea area{0, 40, 1920, 1040};
    // The work area's bottom row is outside it, yet the cursor is not below it.
    expect_point(popup_at({900, 1040}, area), 762, 1040 - 178);
    expect_point(popup_at({900, 1041}, area), 762, 1040 - 174);
    // The menu fits above the cursor with nothing to spare.
    expect_point(menu_at({900, 40 + 4 + 136}, area), 805, 44);
    expect_point(menu_at({900, 40 + 3 + 136}, area), 805, 40 + 3 + 136 + 4);
}

TEST(CardPlacement, ByTheIconsRectangleClearOfItAndOfAnAutoHideBar) {
    // A bottom taskbar that hides itself, 48 px high whether shown or slid away, leaves the whole
    // monitor as work area; the cards stay above it.
    const Rect monitor{0, 0, 1920, 1080};
    const Rect icon{1780, 1044, 1804, 1068};
    for (const Rect bar : {Rect{0, 1032, 1920, 1080}, Rect{0, 1078, 1920, 1126}}) {
        const WorkArea area = clear_of_bar(monitor, monitor, Edge::bottom, bar);
        expect_point(place_card(CardKind::popup, icon, area, 96), 1920 - 284, 1032 - 174);
        expect_point(place_card(CardKind::menu, icon, area, 96), 1792 - 95, 1032 - 136);
    }
    // A 60 px bar slid mostly off any edge still takes 60 px of that edge, and only of it.
    const auto cleared = [&](Edge edge, Rect bar) {
        const Rect area = clear_of_bar(monitor, monitor, edge, bar);
        return std::vector<int>{area.left, area.top, area.right, area.bottom};
    };
    EXPECT_EQ(cleared(Edge::left, {-58, 0, 2, 1080}), (std::vector<int>{60, 0, 1920, 1080}));
    EXPECT_EQ(cleared(Edge::top, {0, -58, 1920, 2}), (std::vector<int>{0, 60, 1920, 1080}));
    EXPECT_EQ(cleared(Edge::right, {1918, 0, 1978, 1080}), (std::vector<int>{0, 0, 1860, 1080}));
    // An icon in the overflow under a top taskbar, with no room above it: both open below it.
    expect_point(place_card(CardKind::popup, Rect{1700, 50, 1724, 74}, {0, 40, 1920, 1080}, 96), 1712 - 138, 86);
    expect_point(place_card(CardKind::menu, Rect{1700, 50, 1724, 74}, {0, 40, 1920, 1080}, 96), 1712 - 95, 78);
    // The keyboard's anchor is a corner of the icon; a rectangle that holds no anchor is not the icon's.
    EXPECT_EQ(anchor_rect({1804, 1068}, icon).left, 1780);
    EXPECT_EQ(anchor_rect({1779, 1044}, icon).right, 1779);
}

TEST(DpiScaling, SizesScaleByDpiOver96AndHoldExactlyAt96) {
    EXPECT_EQ(scale_px(276, 96), 276);
    EXPECT_EQ(scale_px(166, 120), 208);  // 207.5 rounds up
    EXPECT_EQ(scale_px(16, 120), 20);
    EXPECT_EQ(scale_px(16, 168), 28);
    EXPECT_EQ(scale_px(1, 144), 2);
    EXPECT_EQ(scale_px(-8, 144), -12);
    const struct {
        unsigned dpi;
        int popup_w, popup_h, menu_w, menu_h;
    } sizes[] = {{96, 276, 166, 190, 132}, {120, 345, 208, 238, 165}, {144, 414, 249, 285, 198}, {192, 552, 332, 380, 264}};
    for (const auto& want : sizes) {
        const Size popup = card_size(CardKind::popup, want.dpi);
        const Size menu = card_size(CardKind::menu, want.dpi);
        EXPECT_EQ(popup.width, want.popup_w) << want.dpi;
        EXPECT_EQ(popup.height, want.popup_h) << want.dpi;
        EXPECT_EQ(menu.width, want.menu_w) << want.dpi;
        EXPECT_EQ(menu.height, want.menu_h) << want.dpi;
    }
}

TEST(DpiScaling, PlacementKeepsScaledMarginsAndOffsets) {
    const WorkArea area{0, 0, 2880, 1680};
    // 150 %: the popup is 414 x 249 with a 12 px margin, 18 px above the pointer.
    expect_point(popup_at({2700, 1700}, area, 144), 2880 - 414 - 12, 1680 - 249 - 12);
    expect_point(popup_at({1000, 900}, area, 144), 1000 - 207, 900 - 249 - 18);
    expect_point(menu_at({2700, 1700}, area, 144), 2700 - 142, 1680 - 198 - 6);
    expect_point(menu_at({1000, 100}, area, 144), 1000 - 142, 106);
}

TEST(Monitors, TheCardOpensOnTheMonitorThatHoldsTheAnchor) {
    // A 1920 x 1080 primary at 100 % and a 2560 x 1440 monitor at 150 % to its right, each with a
    // bottom taskbar.
    const std::vector<Monitor> monitors = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 96},
                                           {{1920, 0, 4480, 1440}, {1920, 0, 4480, 1380}, 144}};
    const Monitor* second = monitor_at({4300, 1410}, monitors);
    ASSERT_EQ(second, &monitors[1]);
    expect_point(popup_at({4300, 1410}, second->work, second->dpi), 4480 - 414 - 12, 1380 - 249 - 12);
    EXPECT_EQ(monitor_at({1800, 1060}, monitors), &monitors[0]);
    EXPECT_EQ(monitor_at({1919, 0}, monitors), &monitors[0]);
    EXPECT_EQ(monitor_at({1920, 0}, monitors), &monitors[1]);
    // A point on no monitor goes to the nearest one.
    EXPECT_EQ(monitor_at({4000, 1500}, monitors), &monitors[1]);
    EXPECT_EQ(monitor_at({-50, 500}, monitors), &monitors[0]);
    EXPECT_EQ(monitor_at({0, 0}, {}), nullptr);
}

TEST(HitTests, QuitButtonIsHalfOpenAtItsEdges) {
    const auto over = [](int x, int y, unsigned dpi = 96) { return card_target_at(CardKind::popup, x, y, dpi) == 0; };
    EXPECT_TRUE(over(24, 116));
    EXPECT_TRUE(over(251, 145));
    EXPECT_FALSE(over(252, 130));
    EXPECT_FALSE(over(100, 146));
    EXPECT_FALSE(over(23, 130));
    EXPECT_FALSE(over(100, 115));
    EXPECT_FALSE(over(-30000, -30000));  // left of or above the window
    // At 150 % the button spans 36 <= x < 378, 174 <= y < 219.
    EXPECT_TRUE(over(36, 174, 144));
    EXPECT_TRUE(over(377, 218, 144));
    EXPECT_FALSE(over(378, 200, 144));
    EXPECT_FALSE(over(100, 219, 144));
    EXPECT_FALSE(over(100, 173, 144));
}

TEST(HitTests, MenuRowsCoverSixTo125) {
    const auto row = [](int y, unsigned dpi = 96) { return card_target_at(CardKind::menu, 100, y, dpi); };
    EXPECT_EQ(row(5), -1);
    EXPECT_EQ(row(6), 0);
    EXPECT_EQ(row(35), 0);
    EXPECT_EQ(row(36), 1);
    EXPECT_EQ(row(66), 2);
    EXPECT_EQ(row(125), 3);
    EXPECT_EQ(row(126), -1);
    EXPECT_EQ(row(-20), -1);
    EXPECT_EQ(row(32767), -1);
    // At 200 % every row is 60 px from 12.
    EXPECT_EQ(row(11, 192), -1);
    EXPECT_EQ(row(12, 192), 0);
    EXPECT_EQ(row(71, 192), 0);
    EXPECT_EQ(row(72, 192), 1);
    EXPECT_EQ(row(251, 192), 3);
    EXPECT_EQ(row(252, 192), -1);
}

TEST(Keyboard, UpAndDownWalkTheMenuRowsRound) {
    EXPECT_EQ(step_menu_row(-1, 1), 0);
    EXPECT_EQ(step_menu_row(-1, -1), 3);
    EXPECT_EQ(step_menu_row(0, 1), 1);
    EXPECT_EQ(step_menu_row(3, 1), 0);
    EXPECT_EQ(step_menu_row(0, -1), 3);
    EXPECT_EQ(step_menu_row(2, -1), 1);
}

TEST(IconClick, AClickMeantToCloseClosesWhateverFallsBetweenPressAndRelease) {
    // The shell's order: button down, the taskbar takes the foreground, a tick closes the card,
    // button up and NIN_SELECT.
    IconPress press;
    bool popup_open = true;
    note_icon_press(press, popup_open);
    popup_open = false;  // the tick's foreground rule
    EXPECT_FALSE(popup_opens_on_select(press, popup_open));
    // Without a tick in between it closes as well.
    note_icon_press(press, true);
    EXPECT_FALSE(popup_opens_on_select(press, true));
    // A click on a closed card opens it, and the next click closes it again.
    note_icon_press(press, false);
    EXPECT_TRUE(popup_opens_on_select(press, false));
    note_icon_press(press, true);
    EXPECT_FALSE(popup_opens_on_select(press, false));
    // A select without a press (the keyboard) follows the card's state, and each press counts once.
    EXPECT_TRUE(popup_opens_on_select(press, false));
    EXPECT_FALSE(popup_opens_on_select(press, true));
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

TEST(AutostartValue, ChecksOnlyWhatWillReallyStartThisExecutable) {
    const std::u16string exe = u"C:\\Program Files\\Nerova\\NerovaBridge.exe";
    const std::optional<std::vector<std::uint8_t>> none;
    const std::vector<std::uint8_t> enabled = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<std::uint8_t> disabled = {3, 0, 0, 0, 0x17, 0x79, 0xBD, 0x01, 0x17, 0xD9, 0xD1, 0x01};
    const std::vector<std::uint8_t> disabled_other_form = {7, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    const std::u16string quoted = u"\"" + exe + u"\"";
    EXPECT_TRUE(will_start_at_login(quoted, none, exe));
    EXPECT_TRUE(will_start_at_login(quoted, enabled, exe));
    EXPECT_TRUE(will_start_at_login(quoted, std::vector<std::uint8_t>{6, 0, 0, 0}, exe));
    // Turned off in Task Manager or Settings: the Run value stays, the record says off.
    EXPECT_FALSE(will_start_at_login(quoted, disabled, exe));
    EXPECT_FALSE(will_start_at_login(quoted, disabled_other_form, exe));
    // Missing, not text, or another copy of the program.
    EXPECT_FALSE(will_start_at_login(std::nullopt, none, exe));
    EXPECT_FALSE(will_start_at_login(u"\"D:\\Old\\NerovaBridge.exe\"", none, exe));
    EXPECT_FALSE(will_start_at_login(u"\"C:\\Program Files\\Nerova\\NerovaBridge.exe.old\"", none, exe));
    EXPECT_FALSE(will_start_at_login(u"", none, exe));
    // How else the same executable may be written.
    EXPECT_TRUE(run_command_starts(u"\"c:/program files/nerova/nerovabridge.EXE\" --quiet", exe));
    EXPECT_TRUE(run_command_starts(u"  " + exe + u"  ", exe));  // unquoted, spaces and all
    EXPECT_TRUE(run_command_starts(u"C:\\Apps\\b.exe --tray", u"C:\\Apps\\b.exe"));
    EXPECT_FALSE(run_command_starts(u"C:\\Program", exe));
    EXPECT_FALSE(run_command_starts(u"\"" + exe, u"C:\\Program"));
}

// The shell's documented version-4 callback sequences replayed against the icon rules, with the
// cards as the tray keeps them: one card at a time, a toggle for the popup, the menu on a context
// menu. Times are milliseconds; the double-click time is the Windows default.
namespace {

constexpr std::uint64_t DOUBLE_CLICK_MS = 500;
constexpr unsigned LEFT_UP = 0x0202;
constexpr unsigned RIGHT_DOWN = 0x0204;
constexpr unsigned RIGHT_UP = 0x0205;

struct ShellStep {
    unsigned event;
    std::uint64_t after_ms;  // since the step before
};

const std::vector<ShellStep> CLICK = {{ICON_LEFT_DOWN, 0}, {LEFT_UP, 90}, {ICON_SELECT, 0}};
const std::vector<ShellStep> DOUBLE_CLICK = {{ICON_LEFT_DOWN, 0}, {LEFT_UP, 90},  {ICON_SELECT, 0},
                                             {ICON_LEFT_DOUBLE, 120}, {LEFT_UP, 90}, {ICON_SELECT, 0}};
const std::vector<ShellStep> ENTER = {{ICON_KEY_SELECT, 0}, {ICON_KEY_SELECT, 5}};
const std::vector<ShellStep> SPACE = {{ICON_KEY_SELECT, 0}};
const std::vector<ShellStep> SHIFT_F10 = {{ICON_CONTEXT_MENU, 0}};
const std::vector<ShellStep> RIGHT_CLICK = {{RIGHT_DOWN, 0}, {RIGHT_UP, 90}, {ICON_CONTEXT_MENU, 0}};

struct TrayModel {
    IconClicks clicks;
    std::uint64_t now = 100000;
    bool popup = false;
    bool menu = false;

    void replay(const std::vector<ShellStep>& steps) {
        for (const ShellStep& step : steps) {
            now += step.after_ms;
            switch (icon_action(clicks, step.event, popup, now, DOUBLE_CLICK_MS)) {
                case IconAction::open_popup:
                    popup = true;
                    menu = false;
                    break;
                case IconAction::close_popup:
                    popup = false;
                    break;
                case IconAction::open_menu:
                    menu = true;
                    popup = false;
                    break;
                case IconAction::none:
                    break;
            }
        }
        now += 2000;  // the user's next gesture comes later
    }
};

}  // namespace

TEST(IconSequences, AClickTogglesAndADoubleClickLeavesWhatItsFirstClickDid) {
    TrayModel tray;
    tray.replay(CLICK);
    EXPECT_TRUE(tray.popup);
    tray.replay(CLICK);
    EXPECT_FALSE(tray.popup);
    tray.replay(DOUBLE_CLICK);
    EXPECT_TRUE(tray.popup);
    tray.replay(DOUBLE_CLICK);
    EXPECT_FALSE(tray.popup);
    // Two separate clicks, slower than a double-click, toggle twice.
    tray.replay(CLICK);
    tray.replay(CLICK);
    EXPECT_FALSE(tray.popup);
}

TEST(IconSequences, OneEnterOpensOnceAndSpaceAndTheNextEnterToggleAgain) {
    TrayModel tray;
    tray.replay(ENTER);
    EXPECT_TRUE(tray.popup);
    tray.replay(ENTER);
    EXPECT_FALSE(tray.popup);
    tray.replay(SPACE);
    EXPECT_TRUE(tray.popup);
    tray.replay(SPACE);
    EXPECT_FALSE(tray.popup);
    // Enter's repeat is dropped once: the next NIN_KEYSELECT after it acts, however soon.
    tray.replay({{ICON_KEY_SELECT, 0}, {ICON_KEY_SELECT, 5}, {ICON_KEY_SELECT, 200}});
    EXPECT_FALSE(tray.popup);
    // A repeat later than the double-click time is a press of its own.
    tray.replay({{ICON_KEY_SELECT, 0}, {ICON_KEY_SELECT, DOUBLE_CLICK_MS + 1}});
    EXPECT_FALSE(tray.popup);
}

TEST(IconSequences, ContextMenuFromMouseOrKeysReplacesThePopup) {
    TrayModel tray;
    tray.replay(CLICK);
    tray.replay(RIGHT_CLICK);
    EXPECT_TRUE(tray.menu);
    EXPECT_FALSE(tray.popup);
    tray.replay(CLICK);
    EXPECT_TRUE(tray.popup);
    EXPECT_FALSE(tray.menu);
    tray.replay(SHIFT_F10);
    EXPECT_TRUE(tray.menu);
    EXPECT_FALSE(tray.popup);
}

TEST(IconSequences, KeysAndMenusBetweenClicksLeaveNoStaleRepeat) {
    TrayModel tray;
    // A double-click's second press with no select of ours before it (the first went to a menu).
    tray.replay({{RIGHT_DOWN, 0}, {RIGHT_UP, 90}, {ICON_CONTEXT_MENU, 0}, {ICON_LEFT_DOUBLE, 100}, {LEFT_UP, 90},
                 {ICON_SELECT, 0}});
    EXPECT_TRUE(tray.popup);
    // Space then a click at once: the click is no key repeat.
    tray.replay(SPACE);
    EXPECT_FALSE(tray.popup);
    tray.now -= 1990;
    tray.replay(CLICK);
    EXPECT_TRUE(tray.popup);
    // A second press after a key select came between is no double-click of that select.
    tray.replay({{ICON_LEFT_DOWN, 0}, {LEFT_UP, 90}, {ICON_SELECT, 0}, {ICON_KEY_SELECT, 50}, {ICON_LEFT_DOUBLE, 60},
                 {LEFT_UP, 90}, {ICON_SELECT, 0}});
    EXPECT_FALSE(tray.popup);
    // A second press long after our select is no double-click: its select acts.
    tray.replay({{ICON_LEFT_DOUBLE, 0}, {LEFT_UP, 50}, {ICON_SELECT, 0}});
    EXPECT_TRUE(tray.popup);
    // A double-click's second press whose select never came is forgotten at the next press.
    tray.replay({{ICON_LEFT_DOWN, 0}, {LEFT_UP, 90}, {ICON_SELECT, 0}, {ICON_LEFT_DOUBLE, 120}, {ICON_LEFT_DOWN, 300},
                 {LEFT_UP, 90}, {ICON_SELECT, 0}});
    EXPECT_TRUE(tray.popup);
}

TEST(IconSequences, TheClosingClickRaceStaysMendedInsideADoubleClick) {
    TrayModel tray;
    tray.replay(CLICK);
    ASSERT_TRUE(tray.popup);
    // The press of a closing double-click; a tick closes the card before the first select.
    tray.replay({{ICON_LEFT_DOWN, 0}});
    tray.now -= 2000;
    tray.popup = false;
    tray.replay({{LEFT_UP, 90}, {ICON_SELECT, 0}, {ICON_LEFT_DOUBLE, 120}, {LEFT_UP, 90}, {ICON_SELECT, 0}});
    EXPECT_FALSE(tray.popup);
}
