// The two self-drawn cards: GDI+ into a top-down 32-bit bitmap, premultiplied, pushed to a
// per-pixel-alpha layered window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "tray/gdiplus_win.h"

namespace nerova::tray {

// The popup status card at the window's current top-left corner; `image` may be null (no logo).
void render_popup(HWND window, GpImage* image, bool connected, bool quit_hover);

// The menu card; `hover_row` is -1 for none.
void render_menu_card(HWND window, int hover_row, bool autostart_on);

// What the two renderers would push, as premultiplied blue, green, red, alpha bytes in top-down
// rows; empty when the bitmap could not be made.
std::vector<std::uint8_t> render_popup_pixels(GpImage* image, bool connected, bool quit_hover);
std::vector<std::uint8_t> render_menu_pixels(int hover_row, bool autostart_on);

}  // namespace nerova::tray
