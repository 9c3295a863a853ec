#include "tray/tray_rules.h"

#include <algorithm>

namespace nerova::tray {
namespace {

// The wish raised to `low` then lowered to `high`; `low` alone when the area is too small.
int clamp_into(long long wish, long long low, long long high) {
    if (high < low) return static_cast<int>(low);
    return static_cast<int>(std::min(std::max(wish, low), high));
}

}  // namespace

Point place_popup(Point cursor, WorkArea area) {
    constexpr int MARGIN = 8;
    const int x = clamp_into(static_cast<long long>(cursor.x) - POPUP_WIDTH / 2,
                             static_cast<long long>(area.left) + MARGIN,
                             static_cast<long long>(area.right) - (POPUP_WIDTH + MARGIN));
    const long long low_y = static_cast<long long>(area.top) + MARGIN;
    const long long high_y = static_cast<long long>(area.bottom) - (POPUP_HEIGHT + MARGIN);
    long long wish_y = static_cast<long long>(cursor.y) - (POPUP_HEIGHT + 12);
    if (cursor.y > area.bottom) {
        wish_y = high_y;
    } else if (cursor.y < area.top) {
        wish_y = low_y;
    }
    return {x, clamp_into(wish_y, low_y, high_y)};
}

Point place_menu(Point cursor, WorkArea area) {
    constexpr int MARGIN = 4;
    const int x = clamp_into(static_cast<long long>(cursor.x) - (MENU_WIDTH / 2),
                             static_cast<long long>(area.left) + MARGIN,
                             static_cast<long long>(area.right) - (MENU_WIDTH + MARGIN));
    const long long low_y = static_cast<long long>(area.top) + MARGIN;
    const long long high_y = static_cast<long long>(area.bottom) - (MENU_HEIGHT + MARGIN);
    const long long above = static_cast<long long>(cursor.y) - (MENU_HEIGHT + MARGIN);
    const long long wish_y = above >= low_y ? above : static_cast<long long>(cursor.y) + MARGIN;
    return {x, clamp_into(wish_y, low_y, high_y)};
}

bool over_quit_button(int x, int y) {
    return static_cast<unsigned>(x - 24) < 228u && static_cast<unsigned>(y - 116) < 30u;
}

int menu_row_at(int y) {
    if (y < 6 || y - 6 > 119) return -1;
    return (y - 6) / 30;
}

bool foreground_grace_over(std::uint64_t now_ms, std::uint64_t shown_at_ms) {
    const std::uint64_t elapsed = now_ms < shown_at_ms ? 0 : now_ms - shown_at_ms;
    return elapsed >= FOREGROUND_GRACE_MS;
}

bool is_sample_tick(std::uint32_t ticks_before_increment) { return ticks_before_increment % 8 == 0; }

}  // namespace nerova::tray
