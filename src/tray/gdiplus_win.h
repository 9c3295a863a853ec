// Drawing primitives over the GDI+ flat interface, with owners for every GDI+ object.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>

// The GDI+ headers use min and max, which NOMINMAX takes away from the Windows headers.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

namespace nerova::tray {

namespace gp = Gdiplus::DllExports;
using Gdiplus::GpBrush;
using Gdiplus::GpFont;
using Gdiplus::GpFontFamily;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;
using Gdiplus::GpPath;
using Gdiplus::GpPen;
using Gdiplus::GpStringFormat;

using Argb = std::uint32_t;

struct GdipDelete {
    void operator()(GpBrush* brush) const { gp::GdipDeleteBrush(brush); }
    void operator()(GpPath* path) const { gp::GdipDeletePath(path); }
    void operator()(GpPen* pen) const { gp::GdipDeletePen(pen); }
    void operator()(GpFont* font) const { gp::GdipDeleteFont(font); }
    void operator()(GpFontFamily* family) const { gp::GdipDeleteFontFamily(family); }
    void operator()(GpStringFormat* format) const { gp::GdipDeleteStringFormat(format); }
    void operator()(GpGraphics* graphics) const { gp::GdipDeleteGraphics(graphics); }
    void operator()(GpImage* image) const { gp::GdipDisposeImage(image); }
};

using Brush = std::unique_ptr<GpBrush, GdipDelete>;
using Path = std::unique_ptr<GpPath, GdipDelete>;
using Pen = std::unique_ptr<GpPen, GdipDelete>;
using Font = std::unique_ptr<GpFont, GdipDelete>;
using FontFamily = std::unique_ptr<GpFontFamily, GdipDelete>;
using StringFormat = std::unique_ptr<GpStringFormat, GdipDelete>;
using Graphics = std::unique_ptr<GpGraphics, GdipDelete>;
using Image = std::unique_ptr<GpImage, GdipDelete>;

// The border colour of both cards.
constexpr Argb CARD_BORDER = 0xFFE0E3E9;

enum class FontStyle { regular = 0, bold = 1 };
enum class Align { near_edge = 0, centre = 1, far_edge = 2 };

Brush solid_brush(Argb colour);
Path rounded_rect_path(float x, float y, float width, float height, float radius);
void fill_rounded_rect(GpGraphics* graphics, Argb colour, float x, float y, float width, float height, float radius);
void stroke_rounded_rect(GpGraphics* graphics, float x, float y, float width, float height, float radius);
Pen solid_pen(Argb colour, float width);
// "Microsoft YaHei UI", "Microsoft YaHei", "SimSun", then the generic sans-serif family.
FontFamily pick_font_family();
Font make_font(const GpFontFamily* family, float size_px, FontStyle style);
// Vertically centred, never wrapped: text too long for its box is cut at the box.
StringFormat make_string_format(Align align);
void draw_text(GpGraphics* graphics, const GpFont* font, const GpStringFormat* format, Argb colour, float x, float y,
               float width, float height, std::string_view text);

}  // namespace nerova::tray
