// The two self-drawn cards: GDI+ into a premultiplied 32-bit bitmap over a DIB section's bits,
// pushed to a per-pixel-alpha layered window. Every size is scaled by the window's DPI / 96.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "tray/card_access.h"
#include "tray/gdiplus_win.h"
#include "tray/tray_rules.h"

namespace nerova::tray {

// What a rendering shows. `hover` is the popup's quit button (0) or a menu row, -1 for none;
// `logo` may be null (no logo); `connected` is for the popup, `autostart_on` for the menu;
// `colours` the cards' own, or a contrast theme's.
struct CardLook {
    CardKind kind;
    int hover;
    bool connected;
    bool autostart_on;
    GpImage* logo;
    CardColours colours = card_colours(false, {});
};

// Draws the card and pushes it to the window at its current top-left corner.
void render_card(HWND window, const CardLook& look, unsigned dpi);

// What render_card would push, as premultiplied blue, green, red, alpha bytes in top-down rows of
// card_size(look.kind, dpi); empty when the bitmap could not be made.
std::vector<std::uint8_t> render_card_pixels(const CardLook& look, unsigned dpi);

}  // namespace nerova::tray
