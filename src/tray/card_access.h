// What the cards offer beyond the pointer, free of any window system: the colours for a contrast
// theme, the keys, and the items a screen reader is told about (names, roles, states, boxes).
#pragma once

#include <array>
#include <cstdint>
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
    std::uint32_t gray_text;
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

// What a key does on a card whose highlight is `hover` (the popup's quit button 0, a menu row, -1
// for none): move the highlight to `target`, press `target`, or close the card.
struct KeyOutcome {
    KeyEffect effect;
    int target;
};
KeyOutcome card_key(CardKind kind, int hover, unsigned virtual_key,
                    const std::array<std::string_view, MENU_ROW_COUNT>& labels = MENU_LABELS);

enum class AccessRole { pane, menu, static_text, push_button, menu_item };

// One item a screen reader sees, its box in the card window's pixels.
struct AccessItem {
    std::string_view name;
    std::string_view description;
    std::string_view default_action;
    AccessRole role;
    bool focusable;
    bool focused;
    bool checked;
    int left;
    int top;
    int width;
    int height;
};

struct CardAccess {
    AccessItem card;
    std::vector<AccessItem> children;
};

// What the card shows now. `hover` as for card_key; a hidden card's items are all unfocused.
struct CardShown {
    CardKind kind;
    bool visible;
    bool connected;
    bool autostart_on;
    int hover;
    unsigned dpi;
};
CardAccess card_access(const CardShown& shown);

// The child (0-based) that stands for a hover target, -1 for none.
int access_child_of_target(CardKind kind, int target);
// The hover target a child stands for, -1 for one that is not pressable.
int target_of_access_child(CardKind kind, int child);
// The child under a point in window pixels, -1 for none.
int access_child_at(const CardAccess& access, int x, int y);

}  // namespace nerova::tray
