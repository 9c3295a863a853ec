#include "tray/tray_rules.h"

#include <algorithm>

namespace nerova::tray {
namespace {

// The wish raised to `low` then lowered to `high`; `low` alone when the area is too small.
int clamp_into(long long wish, long long low, long long high) {
    if (high < low) return static_cast<int>(low);
    return static_cast<int>(std::min(std::max(wish, low), high));
}

// How far a point lies outside a rectangle along one axis; 0 inside.
long long outside_by(int value, int low, int high_exclusive) {
    if (value < low) return static_cast<long long>(low) - value;
    if (value >= high_exclusive) return static_cast<long long>(value) - high_exclusive + 1;
    return 0;
}

}  // namespace

int scale_px(int px, unsigned dpi) {
    const long long scaled = static_cast<long long>(px) * dpi;
    const long long half = BASE_DPI / 2;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / BASE_DPI : -((-scaled + half) / BASE_DPI));
}

Size card_size(CardKind kind, unsigned dpi) {
    if (kind == CardKind::popup) return {scale_px(POPUP_WIDTH, dpi), scale_px(POPUP_HEIGHT, dpi)};
    return {scale_px(MENU_WIDTH, dpi), scale_px(MENU_HEIGHT, dpi)};
}

Point place_card(CardKind kind, Rect icon, WorkArea area, unsigned dpi) {
    const Size size = card_size(kind, dpi);
    const int margin = scale_px(kind == CardKind::popup ? 8 : 4, dpi);
    const int gap = kind == CardKind::popup ? scale_px(12, dpi) : margin;
    const long long centre_x = icon.left + (static_cast<long long>(icon.right) - icon.left) / 2;
    const int x = clamp_into(centre_x - size.width / 2, static_cast<long long>(area.left) + margin,
                             static_cast<long long>(area.right) - (size.width + margin));
    const long long low_y = static_cast<long long>(area.top) + margin;
    const long long high_y = static_cast<long long>(area.bottom) - (size.height + margin);
    const long long above = static_cast<long long>(icon.top) - (size.height + gap);
    long long wish_y = above;
    if (kind == CardKind::popup && icon.top > area.bottom) {
        wish_y = high_y;
    } else if (kind == CardKind::popup && icon.bottom < area.top) {
        wish_y = low_y;
    } else if (above < low_y) {
        wish_y = static_cast<long long>(icon.bottom) + gap;
    }
    return {x, clamp_into(wish_y, low_y, high_y)};
}

Point place_card(CardKind kind, Point anchor, WorkArea area, unsigned dpi) {
    return place_card(kind, Rect{anchor.x, anchor.y, anchor.x, anchor.y}, area, dpi);
}

Rect anchor_rect(Point anchor, const std::optional<Rect>& icon) {
    if (icon && anchor.x >= icon->left && anchor.x <= icon->right && anchor.y >= icon->top &&
        anchor.y <= icon->bottom) {
        return *icon;
    }
    return {anchor.x, anchor.y, anchor.x, anchor.y};
}

Point centre_of(Rect rect) {
    return {static_cast<int>(rect.left + (static_cast<long long>(rect.right) - rect.left) / 2),
            static_cast<int>(rect.top + (static_cast<long long>(rect.bottom) - rect.top) / 2)};
}

WorkArea clear_of_bar(WorkArea work, Rect monitor, Edge edge, Rect bar) {
    const int across = edge == Edge::left || edge == Edge::right ? bar.right - bar.left : bar.bottom - bar.top;
    switch (edge) {
        case Edge::left:
            work.left = std::max(work.left, monitor.left + across);
            break;
        case Edge::top:
            work.top = std::max(work.top, monitor.top + across);
            break;
        case Edge::right:
            work.right = std::min(work.right, monitor.right - across);
            break;
        case Edge::bottom:
            work.bottom = std::min(work.bottom, monitor.bottom - across);
            break;
    }
    return work;
}

const Monitor* monitor_at(Point point, const std::vector<Monitor>& monitors) {
    const Monitor* nearest = nullptr;
    long long nearest_distance = 0;
    for (const Monitor& monitor : monitors) {
        const long long dx = outside_by(point.x, monitor.bounds.left, monitor.bounds.right);
        const long long dy = outside_by(point.y, monitor.bounds.top, monitor.bounds.bottom);
        const long long distance = dx * dx + dy * dy;
        if (nearest == nullptr || distance < nearest_distance) {
            nearest = &monitor;
            nearest_distance = distance;
        }
    }
    return nearest;
}

int card_target_at(CardKind kind, int x, int y, unsigned dpi) {
    if (kind == CardKind::popup) {
        const bool over = x >= scale_px(24, dpi) && x < scale_px(252, dpi) && y >= scale_px(116, dpi) &&
                          y < scale_px(146, dpi);
        return over ? 0 : -1;
    }
    for (int row = 0; row < MENU_ROW_COUNT; ++row) {
        if (y >= scale_px(6 + 30 * row, dpi) && y < scale_px(36 + 30 * row, dpi)) return row;
    }
    return -1;
}

int step_menu_row(int row, int step) {
    if (row < 0 || row >= MENU_ROW_COUNT) return step > 0 ? 0 : MENU_ROW_COUNT - 1;
    return ((row + step) % MENU_ROW_COUNT + MENU_ROW_COUNT) % MENU_ROW_COUNT;
}

void note_icon_press(IconPress& press, bool popup_open) { press = {true, popup_open}; }

bool popup_opens_on_select(IconPress& press, bool popup_open) {
    const bool was_open = press.pending ? press.popup_was_open : popup_open;
    press = {};
    return !was_open;
}

namespace {

bool within(std::uint64_t now_ms, std::uint64_t then_ms, std::uint64_t limit_ms) {
    return now_ms >= then_ms && now_ms - then_ms <= limit_ms;
}

IconAction toggle(bool open) { return open ? IconAction::open_popup : IconAction::close_popup; }

}  // namespace

IconAction icon_action(IconClicks& clicks, unsigned event, bool popup_open, std::uint64_t now_ms,
                       std::uint64_t double_click_ms) {
    switch (event) {
        case ICON_LEFT_DOWN:
            note_icon_press(clicks.press, popup_open);
            clicks.double_pending = false;
            return IconAction::none;
        case ICON_LEFT_DOUBLE:
            // The second press of a double-click; only one that follows our own select counts.
            clicks.double_pending = clicks.selected && within(now_ms, clicks.selected_at, double_click_ms);
            return IconAction::none;
        case ICON_SELECT: {
            const bool second_of_double = clicks.double_pending;
            clicks.double_pending = false;
            clicks.selected = !second_of_double;
            clicks.selected_at = now_ms;
            if (second_of_double) {
                clicks.press = {};
                return IconAction::none;
            }
            return toggle(popup_opens_on_select(clicks.press, popup_open));
        }
        case ICON_KEY_SELECT:
            clicks.press = {};
            clicks.double_pending = false;
            clicks.selected = false;
            if (clicks.key_repeat_due && within(now_ms, clicks.key_selected_at, double_click_ms)) {
                clicks.key_repeat_due = false;
                return IconAction::none;
            }
            clicks.key_repeat_due = true;
            clicks.key_selected_at = now_ms;
            return toggle(!popup_open);
        case ICON_CONTEXT_MENU:
            clicks = {};
            return IconAction::open_menu;
        default:
            return IconAction::none;
    }
}

bool foreground_grace_over(std::uint64_t now_ms, std::uint64_t shown_at_ms) {
    const std::uint64_t elapsed = now_ms < shown_at_ms ? 0 : now_ms - shown_at_ms;
    return elapsed >= FOREGROUND_GRACE_MS;
}

bool is_sample_tick(std::uint32_t ticks_before_increment) { return ticks_before_increment % 8 == 0; }

}  // namespace nerova::tray
