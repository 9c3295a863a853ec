#include "tray/card_access.h"

namespace nerova::tray {
namespace {

constexpr std::string_view PRESS_ACTION = "按下";
constexpr std::string_view RUN_ACTION = "执行";

// The upper-case Latin letter a label starts with, 0 for any other start.
char latin_initial(std::string_view label) {
    if (label.empty()) return 0;
    const char c = label.front();
    if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return c;
    return 0;
}

// Windows' rule for letters without mnemonics: the only row with the letter runs; of several, the
// next one after the highlight is marked.
KeyOutcome letter_key(int hover, char letter, const std::array<std::string_view, MENU_ROW_COUNT>& labels) {
    int matches = 0;
    int next = -1;
    for (int step = 1; step <= MENU_ROW_COUNT; ++step) {
        const int row = ((hover < 0 ? -1 : hover) + step + MENU_ROW_COUNT) % MENU_ROW_COUNT;
        if (latin_initial(labels[row]) != letter) continue;
        if (next < 0) next = row;
        ++matches;
    }
    if (matches == 0) return {KeyEffect::none, hover};
    return {matches == 1 ? KeyEffect::press : KeyEffect::move, next};
}

// A box at 96 DPI as device pixels, its edges rounded as the painter rounds them.
AccessItem item(std::string_view name, AccessRole role, int x, int y, int width, int height, unsigned dpi) {
    const int left = scale_px(x, dpi);
    const int top = scale_px(y, dpi);
    return {name, {}, {}, role, false, false, false, left, top, scale_px(x + width, dpi) - left,
            scale_px(y + height, dpi) - top};
}

}  // namespace

std::string_view popup_status_text(bool connected) { return connected ? "网页已连接" : "网页未连接"; }
std::string_view popup_detail_text(bool connected) { return connected ? "通道保持中" : "等待网页连接"; }

Argb opaque_from_colorref(std::uint32_t colorref) {
    const Argb red = colorref & 0xFF;
    const Argb green = (colorref >> 8) & 0xFF;
    const Argb blue = (colorref >> 16) & 0xFF;
    return 0xFF000000u | (red << 16) | (green << 8) | blue;
}

CardColours card_colours(bool high_contrast, const SystemColours& system) {
    if (!high_contrast) {
        constexpr Argb primary = 0xFF0C1220;
        constexpr Argb muted = 0xFF7D869B;
        constexpr Argb green = 0xFF30D158;
        return {0xFFFFFFFF, 0xFFE0E3E9, primary, muted,
                {0xFFF2F3F5, 0xFFE6F8EC}, {0xFFB0B5BF, green}, {muted, primary}, {muted, 0xFF1FA255},
                0xFFF2F3F5, 0xFFE4E6EB, 0xFF3A4258, 0xFF3A4258,
                primary, 0xFFF0F1F4, primary, green, green};
    }
    const Argb window = opaque_from_colorref(system.window);
    const Argb text = opaque_from_colorref(system.window_text);
    const Argb highlight = opaque_from_colorref(system.highlight);
    const Argb highlight_text = opaque_from_colorref(system.highlight_text);
    const Argb gray = opaque_from_colorref(system.gray_text);
    // The waiting state keeps its quieter look in the theme's gray text; the live channel is marked
    // by the highlight colour, as a selection is.
    return {window, text, text, text,
            {window, window}, {gray, highlight}, {gray, text}, {gray, text},
            opaque_from_colorref(system.button_face), highlight, opaque_from_colorref(system.button_text),
            highlight_text,
            text, highlight, highlight_text, text, highlight_text};
}

KeyOutcome card_key(CardKind kind, int hover, unsigned virtual_key,
                    const std::array<std::string_view, MENU_ROW_COUNT>& labels) {
    if (virtual_key == key::escape) return {KeyEffect::close, hover};
    if (virtual_key == key::enter || virtual_key == key::space) {
        return hover >= 0 ? KeyOutcome{KeyEffect::press, hover} : KeyOutcome{KeyEffect::none, hover};
    }
    if (kind == CardKind::popup) {
        // The quit button is the card's one control: every way of moving lands on it.
        const bool moves = virtual_key == key::tab || (virtual_key >= key::left && virtual_key <= key::down);
        return moves ? KeyOutcome{KeyEffect::move, 0} : KeyOutcome{KeyEffect::none, hover};
    }
    switch (virtual_key) {
        case key::up:
            return {KeyEffect::move, step_menu_row(hover, -1)};
        case key::down:
            return {KeyEffect::move, step_menu_row(hover, 1)};
        case key::home:
            return {KeyEffect::move, 0};
        case key::end:
            return {KeyEffect::move, MENU_ROW_COUNT - 1};
        default:
            break;
    }
    if (virtual_key >= 'A' && virtual_key <= 'Z') return letter_key(hover, static_cast<char>(virtual_key), labels);
    return {KeyEffect::none, hover};
}

CardAccess card_access(const CardShown& shown) {
    const unsigned dpi = shown.dpi;
    const int hover = shown.visible ? shown.hover : -1;
    CardAccess access;
    if (shown.kind == CardKind::popup) {
        access.card = item(CARD_TITLE, AccessRole::pane, 0, 0, POPUP_WIDTH, POPUP_HEIGHT, dpi);
        access.card.description = CARD_SUBTITLE;
        AccessItem status = item(popup_status_text(shown.connected), AccessRole::static_text, 24, 72, 228, 34, dpi);
        status.description = popup_detail_text(shown.connected);
        AccessItem quit = item(QUIT_LABEL, AccessRole::push_button, 24, 116, 228, 30, dpi);
        quit.default_action = PRESS_ACTION;
        quit.focusable = true;
        quit.focused = hover == 0;
        access.children = {status, quit};
        return access;
    }
    access.card = item(CARD_TITLE, AccessRole::menu, 0, 0, MENU_WIDTH, MENU_HEIGHT, dpi);
    for (int row = 0; row < MENU_ROW_COUNT; ++row) {
        // A row is as wide as the card, as its click area is.
        AccessItem entry = item(MENU_LABELS[row], AccessRole::menu_item, 0, 6 + 30 * row, MENU_WIDTH, 30, dpi);
        entry.default_action = RUN_ACTION;
        entry.focusable = true;
        entry.focused = hover == row;
        entry.checked = row == 2 && shown.autostart_on;
        access.children.push_back(entry);
    }
    return access;
}

int access_child_of_target(CardKind kind, int target) {
    if (target < 0) return -1;
    return kind == CardKind::popup ? (target == 0 ? 1 : -1) : (target < MENU_ROW_COUNT ? target : -1);
}

int target_of_access_child(CardKind kind, int child) {
    if (kind == CardKind::popup) return child == 1 ? 0 : -1;
    return child >= 0 && child < MENU_ROW_COUNT ? child : -1;
}

int access_child_at(const CardAccess& access, int x, int y) {
    for (std::size_t i = 0; i < access.children.size(); ++i) {
        const AccessItem& child = access.children[i];
        if (x >= child.left && x < child.left + child.width && y >= child.top && y < child.top + child.height) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace nerova::tray
