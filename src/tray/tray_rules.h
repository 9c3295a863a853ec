// The tray's arithmetic, free of any window system: where a card opens, what the mouse is over,
// and what the 250 ms tick does when.
#pragma once

#include <cstdint>

namespace nerova::tray {

constexpr int POPUP_WIDTH = 276;
constexpr int POPUP_HEIGHT = 166;
constexpr int MENU_WIDTH = 190;
constexpr int MENU_HEIGHT = 132;
constexpr int MENU_ROW_COUNT = 4;

struct Point {
    int x;
    int y;
};

struct WorkArea {
    int left;
    int top;
    int right;
    int bottom;
};

// Top-left corner of the popup card for a click at `cursor`: centred on the cursor and above it,
// kept 8 px inside the work area.
Point place_popup(Point cursor, WorkArea area);

// Top-left corner of the menu card: centred on the cursor, above it where it fits, else below,
// kept 4 px inside the work area.
Point place_menu(Point cursor, WorkArea area);

// The popup card's quit button, in window coordinates.
bool over_quit_button(int x, int y);

// The menu row under window-relative y, or -1 between or outside the rows.
int menu_row_at(int y);

// A card closes when another window is in the foreground at least this long after it opened.
constexpr std::uint64_t FOREGROUND_GRACE_MS = 601;
bool foreground_grace_over(std::uint64_t now_ms, std::uint64_t shown_at_ms);

// The bridge state is sampled on the first tick and every eighth after it (about every 2 s).
bool is_sample_tick(std::uint32_t ticks_before_increment);

}  // namespace nerova::tray
