// What the cards offer beyond the pointer: colours in and out of a contrast theme, the keys, and the
// items a screen reader is told about.
#include <gtest/gtest.h>

#include <set>

#include "tray/card_access.h"

using namespace nerova::tray;

namespace {

// Distinct values in every byte, so a swapped red and blue shows.
constexpr SystemColours THEME{0x00010203, 0x00A0B0C0, 0x00112233, 0x00445566, 0x00778899, 0x00ABCDEF};

Argb argb(std::uint32_t colorref) { return opaque_from_colorref(colorref); }

}  // namespace

TEST(ContrastColours, OutsideAThemeTheCardsKeepTheirOwnPaletteWhateverTheSystemSays) {
    const CardColours c = card_colours(false, THEME);
    EXPECT_EQ(c.card, 0xFFFFFFFFu);
    EXPECT_EQ(c.border, 0xFFE0E3E9u);
    EXPECT_EQ(c.title, 0xFF0C1220u);
    EXPECT_EQ(c.subtitle, 0xFF7D869Bu);
    EXPECT_EQ(c.pill[0], 0xFFF2F3F5u);
    EXPECT_EQ(c.pill[1], 0xFFE6F8ECu);
    EXPECT_EQ(c.dot[0], 0xFFB0B5BFu);
    EXPECT_EQ(c.dot[1], 0xFF30D158u);
    EXPECT_EQ(c.status[0], 0xFF7D869Bu);
    EXPECT_EQ(c.status[1], 0xFF0C1220u);
    EXPECT_EQ(c.detail[0], 0xFF7D869Bu);
    EXPECT_EQ(c.detail[1], 0xFF1FA255u);
    EXPECT_EQ(c.button, 0xFFF2F3F5u);
    EXPECT_EQ(c.button_hover, 0xFFE4E6EBu);
    EXPECT_EQ(c.button_label, 0xFF3A4258u);
    EXPECT_EQ(c.button_label_hover, 0xFF3A4258u);
    EXPECT_EQ(c.row_label, 0xFF0C1220u);
    EXPECT_EQ(c.row_highlight, 0xFFF0F1F4u);
    EXPECT_EQ(c.row_label_highlighted, 0xFF0C1220u);
    EXPECT_EQ(c.check, 0xFF30D158u);
    EXPECT_EQ(c.check_highlighted, 0xFF30D158u);
    for (const Argb none : {c.dot_edge[0], c.dot_edge[1], c.button_edge}) EXPECT_EQ(none >> 24, 0u);
}

TEST(ContrastColours, InAThemeEveryTextStandsOnTheBackgroundItIsPairedWith) {
    EXPECT_EQ(argb(0x00C0B0A0), 0xFFA0B0C0u);  // GetSysColor's 0x00BBGGRR
    const CardColours c = card_colours(true, THEME);
    EXPECT_EQ(c.card, argb(THEME.window));
    // Waiting is no disabled state: its words are window text, its dot a ring of it.
    for (const Argb text : {c.border, c.title, c.subtitle, c.status[0], c.status[1], c.detail[0], c.detail[1],
                            c.row_label, c.check, c.dot_edge[0]}) {
        EXPECT_EQ(text, argb(THEME.window_text));
    }
    for (const Argb back : {c.pill[0], c.pill[1], c.dot[0]}) EXPECT_EQ(back, c.card);
    EXPECT_EQ(c.dot_edge[1] >> 24, 0u);
    EXPECT_EQ(c.button_edge, argb(THEME.button_text));
    EXPECT_EQ(c.dot[1], argb(THEME.highlight));
    EXPECT_EQ(c.button, argb(THEME.button_face));
    EXPECT_EQ(c.button_label, argb(THEME.button_text));
    EXPECT_EQ(c.button_hover, argb(THEME.highlight));
    EXPECT_EQ(c.button_label_hover, argb(THEME.highlight_text));
    EXPECT_EQ(c.row_highlight, argb(THEME.highlight));
    EXPECT_EQ(c.row_label_highlighted, argb(THEME.highlight_text));
    EXPECT_EQ(c.check_highlighted, argb(THEME.highlight_text));
}

TEST(CardKeys, OnThePopupEveryMoveGoesToTheOtherStopAndEnterOrSpacePressesTheButton) {
    for (const unsigned k : {key::tab, key::left, key::up, key::right, key::down}) {
        for (const int from : {0, 1}) {
            const KeyOutcome moved = card_key(CardKind::popup, from, k);
            EXPECT_EQ(moved.effect, KeyEffect::move) << k;
            EXPECT_EQ(moved.target, 1 - from) << k;
        }
    }
    EXPECT_EQ(card_key(CardKind::popup, -1, key::tab).target, 0);  // from the card itself: the first stop
    EXPECT_EQ(card_key(CardKind::popup, -1, key::up).target, 1);
    for (const unsigned k : {key::enter, key::space}) {
        EXPECT_EQ(card_key(CardKind::popup, 0, k).effect, KeyEffect::none);  // the status line is not pressed
        const KeyOutcome pressed = card_key(CardKind::popup, 1, k);
        EXPECT_EQ(pressed.effect, KeyEffect::press);
        EXPECT_EQ(pressed.target, 1);
    }
    EXPECT_EQ(card_key(CardKind::popup, 0, key::escape).effect, KeyEffect::close);
    EXPECT_EQ(card_key(CardKind::popup, 0, 'Q').effect, KeyEffect::none);
    EXPECT_EQ(card_key(CardKind::popup, 0, key::home).effect, KeyEffect::none);
}

TEST(CardKeys, TheMenuWalksRoundJumpsToItsEndsAndRunsTheMarkedRow) {
    const auto menu = [](int hover, unsigned k) { return card_key(CardKind::menu, hover, k); };
    EXPECT_EQ(menu(-1, key::down).target, 0);
    EXPECT_EQ(menu(3, key::down).target, 0);
    EXPECT_EQ(menu(-1, key::up).target, 3);
    EXPECT_EQ(menu(2, key::home).target, 0);
    EXPECT_EQ(menu(-1, key::home).effect, KeyEffect::move);
    EXPECT_EQ(menu(1, key::end).target, 3);
    EXPECT_EQ(menu(2, key::enter).effect, KeyEffect::press);
    EXPECT_EQ(menu(2, key::space).target, 2);
    EXPECT_EQ(menu(-1, key::enter).effect, KeyEffect::none);
    EXPECT_EQ(menu(1, key::escape).effect, KeyEffect::close);
    EXPECT_EQ(menu(1, key::tab).effect, KeyEffect::none);
}

TEST(CardKeys, ALetterRunsTheOnlyRowStartingWithItAndWalksAmongSeveral) {
    // Today no row starts with a Latin letter: letters do nothing.
    for (unsigned letter = 'A'; letter <= 'Z'; ++letter) {
        EXPECT_EQ(card_key(CardKind::menu, 1, letter).effect, KeyEffect::none);
    }
    const std::array<std::string_view, MENU_ROW_COUNT> labels = {"Open", "status", "Settings", "退出"};
    const KeyOutcome only = card_key(CardKind::menu, -1, 'O', labels);
    EXPECT_EQ(only.effect, KeyEffect::press);
    EXPECT_EQ(only.target, 0);
    // Two rows start with s, in either case: each press marks the next one, round the end.
    EXPECT_EQ(card_key(CardKind::menu, -1, 'S', labels).target, 1);
    EXPECT_EQ(card_key(CardKind::menu, 1, 'S', labels).target, 2);
    const KeyOutcome round = card_key(CardKind::menu, 2, 'S', labels);
    EXPECT_EQ(round.effect, KeyEffect::move);
    EXPECT_EQ(round.target, 1);
    EXPECT_EQ(card_key(CardKind::menu, 0, 'Z', labels).effect, KeyEffect::none);
}

TEST(ScreenReaderItems, ThePopupIsADialogWithItsStatusLineAndAPushButton) {
    for (const bool connected : {false, true}) {
        const CardAccess popup = card_access({CardKind::popup, true, true, connected, false, {-1, -1}, 96});
        EXPECT_EQ(popup.card.name, "Nerova桥");
        EXPECT_EQ(popup.card.role, AccessRole::dialog);
        ASSERT_EQ(popup.children.size(), 2u);
        const AccessItem& status = popup.children[0];
        EXPECT_EQ(status.name, connected ? "网页已连接" : "网页未连接");
        EXPECT_EQ(status.description, connected ? "通道保持中" : "等待网页连接");
        EXPECT_EQ(status.role, AccessRole::static_text);
        EXPECT_TRUE(status.default_action.empty());
        const AccessItem& quit = popup.children[1];
        EXPECT_EQ(quit.name, "退出助手");
        EXPECT_EQ(quit.role, AccessRole::push_button);
        EXPECT_EQ(quit.default_action, "按下");
        EXPECT_FALSE(quit.focused);
    }
    EXPECT_EQ(access_child_of_target(CardKind::popup, 0), 1);
    EXPECT_EQ(target_of_access_child(CardKind::popup, 1), 0);
    EXPECT_EQ(target_of_access_child(CardKind::popup, 0), -1);  // the status line cannot be pressed
}

TEST(ScreenReaderItems, TheMenuIsAMenuOfItsFourRowsWithStartAtLoginChecked) {
    for (const bool on : {false, true}) {
        const CardAccess menu = card_access({CardKind::menu, true, true, false, on, {2, -1}, 96});
        EXPECT_EQ(menu.card.role, AccessRole::menu);
        ASSERT_EQ(menu.children.size(), 4u);
        for (int row = 0; row < MENU_ROW_COUNT; ++row) {
            const AccessItem& item = menu.children[static_cast<std::size_t>(row)];
            EXPECT_EQ(item.name, MENU_LABELS[static_cast<std::size_t>(row)]);
            EXPECT_EQ(item.role, AccessRole::menu_item);
            EXPECT_EQ(item.default_action, "执行");
            EXPECT_EQ(item.checked, on && row == 2) << row;
            EXPECT_EQ(item.focused, row == 2) << row;
            EXPECT_EQ(access_child_of_target(CardKind::menu, row), row);
        }
    }
    EXPECT_EQ(MENU_LABELS[1], "打开Nerova主站");
    EXPECT_EQ(access_child_of_target(CardKind::menu, -1), -1);
}

TEST(ScreenReaderItems, BoxesAreWhatIsDrawnAndWhatTheMouseHitsAtEveryDpi) {
    for (const unsigned dpi : {96u, 120u, 144u, 192u}) {
        const CardAccess popup = card_access({CardKind::popup, true, true, false, false, {0, -1}, dpi});
        const Size popup_size = card_size(CardKind::popup, dpi);
        // The card, not its transparent margin; a point there, or in a rounded corner, hits nothing.
        EXPECT_EQ(popup.card.left, scale_px(8, dpi));
        EXPECT_EQ(popup.card.left + popup.card.width, popup_size.width - scale_px(8, dpi));
        EXPECT_EQ(popup.card.top + popup.card.height, popup_size.height - scale_px(8, dpi));
        EXPECT_EQ(access_child_at(popup, scale_px(8, dpi) - 1, popup_size.height / 2), -2) << dpi;
        EXPECT_EQ(access_child_at(popup, scale_px(8, dpi), popup_size.height / 2), -1) << dpi;
        EXPECT_EQ(access_child_at(popup, scale_px(10, dpi), scale_px(10, dpi)), -2) << dpi;
        EXPECT_EQ(access_child_at(popup, scale_px(16, dpi), scale_px(12, dpi)), -1) << dpi;
        const AccessItem& quit = popup.children[1];
        EXPECT_EQ(quit.left, scale_px(24, dpi));
        EXPECT_EQ(quit.top, scale_px(116, dpi));
        // Every corner pixel of the button's box is on the button; one step outside is not.
        const int right = quit.left + quit.width - 1, bottom = quit.top + quit.height - 1;
        EXPECT_EQ(card_target_at(CardKind::popup, quit.left, quit.top, dpi), 0) << dpi;
        EXPECT_EQ(card_target_at(CardKind::popup, right, bottom, dpi), 0) << dpi;
        EXPECT_EQ(card_target_at(CardKind::popup, right + 1, bottom, dpi), -1) << dpi;
        EXPECT_EQ(card_target_at(CardKind::popup, quit.left, bottom + 1, dpi), -1) << dpi;
        EXPECT_EQ(access_child_at(popup, quit.left, quit.top), 1);
        const AccessItem& status = popup.children[0];
        EXPECT_EQ(access_child_at(popup, status.left, status.top + status.height - 1), 0);
        EXPECT_EQ(access_child_at(popup, scale_px(30, dpi), scale_px(60, dpi)), -1);

        const CardAccess menu = card_access({CardKind::menu, true, true, false, false, {-1, -1}, dpi});
        for (int row = 0; row < MENU_ROW_COUNT; ++row) {
            const AccessItem& item = menu.children[static_cast<std::size_t>(row)];
            EXPECT_EQ(item.width, card_size(CardKind::menu, dpi).width);
            EXPECT_EQ(card_target_at(CardKind::menu, 10, item.top, dpi), row) << dpi;
            EXPECT_EQ(card_target_at(CardKind::menu, 10, item.top + item.height - 1, dpi), row) << dpi;
            EXPECT_NE(card_target_at(CardKind::menu, 10, item.top + item.height, dpi), row) << dpi;
            EXPECT_EQ(access_child_at(menu, 10, item.top + item.height / 2), row);
        }
    }
    // At 150 %, the quit button is 342 x 45 at 36, 174.
    const AccessItem quit = card_access({CardKind::popup, true, true, false, false, {0, -1}, 144}).children[1];
    EXPECT_EQ(quit.width, 342);
    EXPECT_EQ(quit.height, 45);
}
