// The tray's arithmetic, free of any window system: card sizes at a DPI, which monitor and where a
// card opens, what the mouse is over, what a click on the icon does, and what the 250 ms tick does
// when.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace nerova::tray {

// Every size of the cards is given at 96 DPI and scaled by DPI / 96; at 96 nothing changes.
constexpr unsigned BASE_DPI = 96;
constexpr int POPUP_WIDTH = 276;
constexpr int POPUP_HEIGHT = 166;
constexpr int MENU_WIDTH = 190;
constexpr int MENU_HEIGHT = 132;
constexpr int MENU_ROW_COUNT = 4;

// `px` at 96 DPI in device pixels at `dpi`, rounded to nearest (halves away from zero).
int scale_px(int px, unsigned dpi);

struct Size {
    int width;
    int height;
};

enum class CardKind { popup, menu };

Size card_size(CardKind kind, unsigned dpi);

struct Point {
    int x;
    int y;
};

// Screen rectangles: right and bottom lie just outside.
struct Rect {
    int left;
    int top;
    int right;
    int bottom;
};
using WorkArea = Rect;

// Top-left corner of a card for the notification icon's rectangle `icon` on a monitor with work
// area `area`: the popup centred on the icon and 12 px above it, kept 8 px inside the work area;
// the menu centred, 4 px above the icon, and kept 4 px inside. Where there is no room above, a
// card opens below the icon, clear of it; an icon outside the work area (in a taskbar) puts the
// popup at the area's edge next to it.
Point place_card(CardKind kind, Rect icon, WorkArea area, unsigned dpi);
// For a click at `anchor` where the icon's rectangle is not known: a rectangle of no size there.
Point place_card(CardKind kind, Point anchor, WorkArea area, unsigned dpi);

// The icon's rectangle when the shell names one that holds the event's anchor (the click, or
// for the keyboard the icon's corner), else the anchor alone.
Rect anchor_rect(Point anchor, const std::optional<Rect>& icon);
Point centre_of(Rect rect);

// The screen edges as the shell numbers them (ABE_LEFT, ABE_TOP, ABE_RIGHT, ABE_BOTTOM).
enum class Edge : unsigned { left = 0, top = 1, right = 2, bottom = 3 };
// An auto-hide bar takes no part of the work area, yet covers a card when it shows: the work area
// without the band the bar `bar` (where it is now, shown or slid away) takes on `edge` of `monitor`.
WorkArea clear_of_bar(WorkArea work, Rect monitor, Edge edge, Rect bar);

struct Monitor {
    WorkArea bounds;
    WorkArea work;
    unsigned dpi;
};

// The monitor holding `point`, else the nearest one; null only for an empty list.
const Monitor* monitor_at(Point point, const std::vector<Monitor>& monitors);

// What the mouse is over in a card's window coordinates: the popup's quit button (0) or a menu
// row (0 to 3); -1 for nothing.
int card_target_at(CardKind kind, int x, int y, unsigned dpi);

// The next menu row for Up (-1) or Down (+1), wrapping; from no row Down gives the first and Up
// the last.
int step_menu_row(int row, int step);

// A left click on the icon arrives as a press and then a select. Between the two the taskbar holds
// the foreground and a tick may close the popup: what the click does is decided by the popup's
// state at the press, so a click meant to close never reopens it.
struct IconPress {
    bool pending = false;
    bool popup_was_open = false;
};
void note_icon_press(IconPress& press, bool popup_open);
// True to open the popup, false to close it; forgets the press.
bool popup_opens_on_select(IconPress& press, bool popup_open);

// The icon's version-4 callback events the rules act on (the values of the Windows headers).
constexpr unsigned ICON_LEFT_DOWN = 0x0201;    // WM_LBUTTONDOWN
constexpr unsigned ICON_LEFT_DOUBLE = 0x0203;  // WM_LBUTTONDBLCLK
constexpr unsigned ICON_CONTEXT_MENU = 0x007B; // WM_CONTEXTMENU
constexpr unsigned ICON_SELECT = 0x0400;       // NIN_SELECT
constexpr unsigned ICON_KEY_SELECT = 0x0401;   // NIN_KEYSELECT

enum class IconAction { none, open_popup, close_popup, open_menu };

// What the shell's callbacks for the icon do, from the sequences it documents and sends:
//   click         WM_LBUTTONDOWN, WM_LBUTTONUP, NIN_SELECT
//   double-click  the click, then WM_LBUTTONDBLCLK, WM_LBUTTONUP, NIN_SELECT
//   Enter         NIN_KEYSELECT twice in a row; Space: NIN_KEYSELECT once
//   right click   WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU; Shift+F10 and the menu key:
//                 WM_CONTEXTMENU
// A double-click leaves the popup as its first click left it, and Enter toggles it once: the
// second NIN_SELECT of a double-click and a NIN_KEYSELECT within the system's double-click time
// of the one that acted are dropped.
struct IconClicks {
    IconPress press;
    bool double_pending = false;
    bool selected = false;
    std::uint64_t selected_at = 0;
    bool key_repeat_due = false;
    std::uint64_t key_selected_at = 0;
};
IconAction icon_action(IconClicks& clicks, unsigned event, bool popup_open, std::uint64_t now_ms,
                       std::uint64_t double_click_ms);

// A card closes when another window is in the foreground at least this long after it opened.
constexpr std::uint64_t FOREGROUND_GRACE_MS = 601;
bool foreground_grace_over(std::uint64_t now_ms, std::uint64_t shown_at_ms);

// The bridge state is sampled on the first tick and every eighth after it (about every 2 s).
bool is_sample_tick(std::uint32_t ticks_before_increment);

}  // namespace nerova::tray
