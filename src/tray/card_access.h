// What the cards offer beyond the pointer, free of any window system: the colours for a contrast
// theme, the keys, and the items a screen reader is told about (names, roles, states, boxes).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "tray/tray_rules.h"

namespace nerova::tray {

// The title of every window, the icon's tooltip and the card; the popup's subtitle.
constexpr std::string_view CARD_TITLE = "Nerova桥";
constexpr std::string_view CARD_SUBTITLE = "本地网络桥接服务";
constexpr std::string_view QUIT_LABEL = "退出助手";
constexpr std::array<std::string_view, MENU_ROW_COUNT> MENU_LABELS = {
    "打开状态面板", "打开Nerova主站", "开机自启", "退出助手"};
// The popup's status line and detail line, by connection state.
std::string_view popup_status_text(bool connected);
std::string_view popup_detail_text(bool connected);

// Colours as GDI+ takes them: 0xAARRGGBB.
using Argb = std::uint32_t;

// The system colours a contrast theme sets, as GetSysColor gives them: 0x00BBGGRR.
struct SystemColours {
    std::uint32_t window;
    std::uint32_t window_text;
    std::uint32_t highlight;
    std::uint32_t highlight_text;
    std::uint32_t button_face;
    std::uint32_t button_text;
};

Argb opaque_from_colorref(std::uint32_t colorref);

// Every colour the two cards are drawn with; [0] not connected, [1] connected.
struct CardColours {
    Argb card;
    Argb border;
    Argb title;
    Argb subtitle;
    Argb pill[2];
    Argb dot[2];
    Argb status[2];
    Argb detail[2];
    Argb button;
    Argb button_hover;
    Argb button_label;
    Argb button_label_hover;
    Argb row_label;
    Argb row_highlight;
    Argb row_label_highlighted;
    Argb check;
    Argb check_highlighted;
    // Edges drawn only in a contrast theme (alpha 0: none): the status dot's ring, the button's rim.
    Argb dot_edge[2];
    Argb button_edge;
};

// Outside a contrast theme the cards' own palette, whatever the system colours are; inside one,
// only the system's colours, each text on the background it is paired with.
CardColours card_colours(bool high_contrast, const SystemColours& system);

// Windows' virtual-key codes of the keys the cards answer.
namespace key {
constexpr unsigned tab = 0x09;
constexpr unsigned enter = 0x0D;
constexpr unsigned escape = 0x1B;
constexpr unsigned space = 0x20;
constexpr unsigned end = 0x23;
constexpr unsigned home = 0x24;
constexpr unsigned left = 0x25;
constexpr unsigned up = 0x26;
constexpr unsigned right = 0x27;
constexpr unsigned down = 0x28;
}  // namespace key

enum class KeyEffect { none, move, press, close };

// What a key does on a card whose keyboard focus is on child `focus` (0-based, -1 for the card
// itself): move the focus to child `target`, press child `target`, or close the card.
struct KeyOutcome {
    KeyEffect effect;
    int target;
};
KeyOutcome card_key(CardKind kind, int focus, unsigned virtual_key,
                    const std::array<std::string_view, MENU_ROW_COUNT>& labels = MENU_LABELS);

// A card's keyboard focus (what Tab, the arrows and accSelect move) and the mouse's hot item, as
// children (0-based): focus -1 is the card itself, hot -1 is no item.
struct CardFocus {
    int focus;
    int hot;
};
inline bool operator==(CardFocus a, CardFocus b) { return a.focus == b.focus && a.hot == b.hot; }
inline bool operator!=(CardFocus a, CardFocus b) { return !(a == b); }

// Where the focus is when a card opens: on the popup's status line, so that a change of the
// connection is a change of the focused object's name (screen readers speak name changes of the
// focus only); on the menu itself until a row is chosen.
CardFocus opening_focus(CardKind kind);
// The pointer moved onto child `child` (-1 for none). It becomes the hot item; on the menu the
// focus follows each change of it, as a native menu's selection follows the mouse.
CardFocus pointer_moved(CardKind kind, CardFocus now, int child);
// The child drawn marked, -1 for none: the popup's quit button while hot or focused, the menu's
// focused row.
int marked_child(CardKind kind, CardFocus now);

// What screen readers are told of a change of the focus model, in order; `child` -1 is the card.
enum class AccessNotice { focus, selection, selection_removed };
struct AccessEvent {
    AccessNotice notice;
    int child;
};
std::vector<AccessEvent> focus_events(CardKind kind, CardFocus before, CardFocus after);

// accSelect's flags (SELFLAG_*) and what they do: the focus model after them on child `child`
// (-1 the card itself), or nothing for flags that make no sense there.
namespace select_flag {
constexpr unsigned take_focus = 0x1;
constexpr unsigned take_selection = 0x2;
}  // namespace select_flag
std::optional<CardFocus> select_child(CardKind kind, CardFocus now, int child, unsigned flags);

enum class AccessRole { dialog, menu, static_text, push_button, menu_item };

// One item a screen reader sees, its box in the card window's pixels.
struct AccessItem {
    std::string_view name;
    std::string_view description;
    std::string_view default_action;
    AccessRole role;
    bool focusable;
    bool focused;
    bool hot;
    bool selectable;
    bool selected;
    bool checked;
    int left;
    int top;
    int width;
    int height;
};

struct CardAccess {
    AccessItem card;
    int corner_radius;  // of the card's drawn shape; the window is transparent outside it
    std::vector<AccessItem> children;
};

// What the card shows now. A hidden card's items are all unfocused, and only the foreground
// window holds the keyboard focus.
struct CardShown {
    CardKind kind;
    bool visible;
    bool foreground;
    bool connected;
    bool autostart_on;
    CardFocus focus;
    unsigned dpi;
};
CardAccess card_access(const CardShown& shown);

// The child (0-based) that stands for a hover target, -1 for none.
int access_child_of_target(CardKind kind, int target);
// The hover target a child stands for, -1 for one that is not pressable.
int target_of_access_child(CardKind kind, int child);
// What a point in window pixels hits: a child (0-based), -1 for the card itself, or -2 for none
// (the transparent margin and corners, through which clicks pass).
int access_child_at(const CardAccess& access, int x, int y);

// accNavigate's directions (NAVDIR_*) and where they lead from child `from` (-1 the card itself).
namespace nav {
constexpr unsigned up = 1;
constexpr unsigned down = 2;
constexpr unsigned left = 3;
constexpr unsigned right = 4;
constexpr unsigned next = 5;
constexpr unsigned previous = 6;
constexpr unsigned first_child = 7;
constexpr unsigned last_child = 8;
}  // namespace nav
enum class NavResult { found, none, invalid };
struct NavOutcome {
    NavResult result;
    int child;
};
NavOutcome navigate(const CardAccess& access, int from, unsigned direction);

}  // namespace nerova::tray
