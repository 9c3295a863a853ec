#include "tray/card_access.h"

#include <algorithm>

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
KeyOutcome letter_key(int focus, char letter, const std::array<std::string_view, MENU_ROW_COUNT>& labels) {
    int matches = 0;
    int next = -1;
    for (int step = 1; step <= MENU_ROW_COUNT; ++step) {
        const int row = ((focus < 0 ? -1 : focus) + step + MENU_ROW_COUNT) % MENU_ROW_COUNT;
        if (latin_initial(labels[row]) != letter) continue;
        if (next < 0) next = row;
        ++matches;
    }
    if (matches == 0) return {KeyEffect::none, focus};
    return {matches == 1 ? KeyEffect::press : KeyEffect::move, next};
}

// A box at 96 DPI as device pixels, its edges rounded as the painter rounds them.
AccessItem item(std::string_view name, AccessRole role, int x, int y, int width, int height, unsigned dpi) {
    const int left = scale_px(x, dpi);
    const int top = scale_px(y, dpi);
    return {name, {}, {}, role, false, false, false, false, false, false, left, top,
            scale_px(x + width, dpi) - left, scale_px(y + height, dpi) - top};
}

int child_count(CardKind kind) { return kind == CardKind::popup ? 2 : MENU_ROW_COUNT; }

// The next (+1) or previous (-1) of `count` children, round the ends; from none (-1) forwards gives
// the first and backwards the last.
int step_child(int child, int step, int count) {
    if (child < 0) return step > 0 ? 0 : count - 1;
    return (child + step + count) % count;
}

// A point (a pixel's centre) inside a rounded rectangle.
bool inside_rounded(const AccessItem& box, int radius, int x, int y) {
    const double px = x + 0.5;
    const double py = y + 0.5;
    if (px < box.left || py < box.top || px > box.left + box.width || py > box.top + box.height) return false;
    const double nearest_x = std::clamp(px, static_cast<double>(box.left + radius),
                                        static_cast<double>(box.left + box.width - radius));
    const double nearest_y = std::clamp(py, static_cast<double>(box.top + radius),
                                        static_cast<double>(box.top + box.height - radius));
    const double dx = px - nearest_x;
    const double dy = py - nearest_y;
    return dx * dx + dy * dy <= static_cast<double>(radius) * radius;
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
                primary, 0xFFF0F1F4, primary, green, green, {0, 0}, 0};
    }
    const Argb window = opaque_from_colorref(system.window);
    const Argb text = opaque_from_colorref(system.window_text);
    const Argb highlight = opaque_from_colorref(system.highlight);
    const Argb highlight_text = opaque_from_colorref(system.highlight_text);
    const Argb button_text = opaque_from_colorref(system.button_text);
    // Both states are normal text (gray text means disabled): the waiting state's dot is a ring, the
    // live channel's a disc in the highlight colour, as a selection is marked. The button has the
    // rim Windows' own buttons have, so it shows where its face is the window's colour.
    return {window, text, text, text,
            {window, window}, {window, highlight}, {text, text}, {text, text},
            opaque_from_colorref(system.button_face), highlight, button_text, highlight_text,
            text, highlight, highlight_text, text, highlight_text, {text, 0}, button_text};
}

KeyOutcome card_key(CardKind kind, int focus, unsigned virtual_key,
                    const std::array<std::string_view, MENU_ROW_COUNT>& labels) {
    if (virtual_key == key::escape) return {KeyEffect::close, focus};
    if (virtual_key == key::enter || virtual_key == key::space) {
        return target_of_access_child(kind, focus) >= 0 ? KeyOutcome{KeyEffect::press, focus}
                                                        : KeyOutcome{KeyEffect::none, focus};
    }
    if (kind == CardKind::popup) {
        // Two stops, the status line and the quit button: every way of moving goes to the other.
        const bool back = virtual_key == key::left || virtual_key == key::up;
        const bool forth = virtual_key == key::tab || virtual_key == key::right || virtual_key == key::down;
        if (!back && !forth) return {KeyEffect::none, focus};
        return {KeyEffect::move, step_child(focus, back ? -1 : 1, child_count(kind))};
    }
    switch (virtual_key) {
        case key::up:
            return {KeyEffect::move, step_menu_row(focus, -1)};
        case key::down:
            return {KeyEffect::move, step_menu_row(focus, 1)};
        case key::home:
            return {KeyEffect::move, 0};
        case key::end:
            return {KeyEffect::move, MENU_ROW_COUNT - 1};
        default:
            break;
    }
    if (virtual_key >= 'A' && virtual_key <= 'Z') return letter_key(focus, static_cast<char>(virtual_key), labels);
    return {KeyEffect::none, focus};
}

CardFocus opening_focus(CardKind kind) { return {kind == CardKind::popup ? 0 : -1, -1}; }

CardFocus pointer_moved(CardKind kind, CardFocus now, int child) {
    if (child == now.hot) return now;
    return {kind == CardKind::menu ? child : now.focus, child};
}

int marked_child(CardKind kind, CardFocus now) {
    if (kind == CardKind::menu) return now.focus;
    constexpr int quit = 1;
    return now.hot == quit || now.focus == quit ? quit : -1;
}

std::vector<AccessEvent> focus_events(CardKind kind, CardFocus before, CardFocus after) {
    std::vector<AccessEvent> events;
    if (before.focus == after.focus) return events;
    events.push_back({AccessNotice::focus, after.focus});
    // The menu's one selected row is its focused one.
    if (kind == CardKind::menu && after.focus >= 0) events.push_back({AccessNotice::selection, after.focus});
    if (kind == CardKind::menu && after.focus < 0) events.push_back({AccessNotice::selection_removed, before.focus});
    return events;
}

std::optional<CardFocus> select_child(CardKind kind, CardFocus now, int child, unsigned flags) {
    // A single selection: extending, adding or removing makes no sense.
    if ((flags & ~(select_flag::take_focus | select_flag::take_selection)) != 0) return std::nullopt;
    if (flags == 0) return now;
    const bool selectable = kind == CardKind::menu && child >= 0;
    if ((flags & select_flag::take_selection) != 0 && !selectable) return std::nullopt;
    return CardFocus{child, now.hot};
}

CardAccess card_access(const CardShown& shown) {
    const unsigned dpi = shown.dpi;
    const bool has_focus = shown.visible && shown.foreground;
    const auto mark = [&](AccessItem& entry, int child, bool selectable) {
        entry.focusable = true;
        entry.focused = has_focus && shown.focus.focus == child;
        entry.hot = shown.visible && shown.focus.hot == child;
        entry.selectable = selectable;
        entry.selected = selectable && shown.visible && shown.focus.focus == child;
    };
    CardAccess access;
    if (shown.kind == CardKind::popup) {
        // The card is inset by 8 px in its window; a dialog, so readers announce what it holds.
        access.card = item(CARD_TITLE, AccessRole::dialog, 8, 8, 260, 150, dpi);
        access.corner_radius = scale_px(16, dpi);
        access.card.description = CARD_SUBTITLE;
        AccessItem status = item(popup_status_text(shown.connected), AccessRole::static_text, 24, 72, 228, 34, dpi);
        status.description = popup_detail_text(shown.connected);
        mark(status, 0, false);
        AccessItem quit = item(QUIT_LABEL, AccessRole::push_button, 24, 116, 228, 30, dpi);
        quit.default_action = PRESS_ACTION;
        mark(quit, 1, false);
        access.children = {status, quit};
    } else {
        access.card = item(CARD_TITLE, AccessRole::menu, 0, 0, MENU_WIDTH, MENU_HEIGHT, dpi);
        access.corner_radius = scale_px(10, dpi);
        for (int row = 0; row < MENU_ROW_COUNT; ++row) {
            // A row is as wide as the card, as its click area is.
            AccessItem entry = item(MENU_LABELS[row], AccessRole::menu_item, 0, 6 + 30 * row, MENU_WIDTH, 30, dpi);
            entry.default_action = RUN_ACTION;
            mark(entry, row, true);
            entry.checked = row == 2 && shown.autostart_on;
            access.children.push_back(entry);
        }
    }
    // The window holds the keyboard focus while it is the foreground, whichever item has it inside.
    access.card.focusable = shown.visible;
    access.card.focused = has_focus;
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
    if (!inside_rounded(access.card, access.corner_radius, x, y)) return -2;
    for (std::size_t i = 0; i < access.children.size(); ++i) {
        const AccessItem& child = access.children[i];
        if (x >= child.left && x < child.left + child.width && y >= child.top && y < child.top + child.height) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

NavOutcome navigate(const CardAccess& access, int from, unsigned direction) {
    const int count = static_cast<int>(access.children.size());
    if (from < -1 || from >= count) return {NavResult::invalid, -1};
    const auto reach = [](int child, bool exists) {
        return exists ? NavOutcome{NavResult::found, child} : NavOutcome{NavResult::none, -1};
    };
    switch (direction) {
        case nav::first_child:
        case nav::last_child:
            if (from != -1) return {NavResult::invalid, -1};
            return reach(direction == nav::first_child ? 0 : count - 1, count > 0);
        // Both cards hold their children in one column, top to bottom: down is next, up is
        // previous, and nothing stands beside an item.
        case nav::next:
        case nav::down:
            return reach(from + 1, from >= 0 && from + 1 < count);
        case nav::previous:
        case nav::up:
            return reach(from - 1, from > 0);
        case nav::left:
        case nav::right:
            return {NavResult::none, -1};
        default:
            return {NavResult::invalid, -1};
    }
}

}  // namespace nerova::tray
