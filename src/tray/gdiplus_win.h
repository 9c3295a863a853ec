// Drawing primitives over the GDI+ flat interface; the objects they return belong to the caller.
#pragma once

#include <cstdint>
#include <string_view>

#include "tray/handles_win.h"

namespace nerova::tray {

using Argb = std::uint32_t;

// The border colour of both cards.
constexpr Argb CARD_BORDER = 0xFFE0E3E9;

enum class FontStyle { regular = 0, bold = 1 };
enum class Align { near_edge = 0, centre = 1, far_edge = 2 };

Brush solid_brush(Argb colour);
Path rounded_rect_path(float x, float y, float width, float height, float radius);
void fill_rounded_rect(GpGraphics* graphics, Argb colour, float x, float y, float width, float height, float radius);
// The border of both cards, `pen_width` device pixels wide (1 at 96 DPI); CARD_BORDER outside a
// contrast theme.
void stroke_rounded_rect(GpGraphics* graphics, Argb colour, float x, float y, float width, float height, float radius,
                         float pen_width);
Pen solid_pen(Argb colour, float width);
// "Microsoft YaHei UI", "Microsoft YaHei", "SimSun", then the generic sans-serif family.
FontFamily pick_font_family();
Font make_font(const GpFontFamily* family, float size_px, FontStyle style);
// Vertically centred, never wrapped: text too long for its box is cut at the box.
StringFormat make_string_format(Align align);
void draw_text(GpGraphics* graphics, const GpFont* font, const GpStringFormat* format, Argb colour, float x, float y,
               float width, float height, std::string_view text);

}  // namespace nerova::tray
