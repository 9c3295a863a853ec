#include "tray/gdiplus_win.h"

#include <vector>

#include "common/text.h"

namespace nerova::tray {

Brush solid_brush(Argb colour) {
    Gdiplus::GpSolidFill* fill = nullptr;
    gp::GdipCreateSolidFill(colour, &fill);
    return Brush(fill);
}

Path rounded_rect_path(float x, float y, float width, float height, float radius) {
    GpPath* raw = nullptr;
    gp::GdipCreatePath(Gdiplus::FillModeAlternate, &raw);
    Path path(raw);
    const float d = 2 * radius;
    gp::GdipAddPathArc(path.get(), x, y, d, d, 180, 90);
    gp::GdipAddPathArc(path.get(), x + width - d, y, d, d, 270, 90);
    gp::GdipAddPathArc(path.get(), x + width - d, y + height - d, d, d, 0, 90);
    gp::GdipAddPathArc(path.get(), x, y + height - d, d, d, 90, 90);
    gp::GdipClosePathFigure(path.get());
    return path;
}

void fill_rounded_rect(GpGraphics* graphics, Argb colour, float x, float y, float width, float height, float radius) {
    const Path path = rounded_rect_path(x, y, width, height, radius);
    const Brush brush = solid_brush(colour);
    gp::GdipFillPath(graphics, brush.get(), path.get());
}

void stroke_rounded_rect(GpGraphics* graphics, Argb colour, float x, float y, float width, float height,
                         float radius, float pen_width) {
    const Path path = rounded_rect_path(x, y, width, height, radius);
    const Pen pen = solid_pen(colour, pen_width);
    gp::GdipDrawPath(graphics, pen.get(), path.get());
}

Pen solid_pen(Argb colour, float width) {
    GpPen* pen = nullptr;
    gp::GdipCreatePen1(colour, width, Gdiplus::UnitPixel, &pen);
    return Pen(pen);
}

FontFamily pick_font_family() {
    for (const char* name : {"Microsoft YaHei UI", "Microsoft YaHei", "SimSun"}) {
        GpFontFamily* made = nullptr;
        const Gdiplus::GpStatus status =
            gp::GdipCreateFontFamilyFromName(text::to_wide<wchar_t>(name).data(), nullptr, &made);
        FontFamily family(made);  // owned at once, so a failure releases whatever came back
        if (status == Gdiplus::Ok && family) return family;
    }
    GpFontFamily* generic = nullptr;
    gp::GdipGetGenericFontFamilySansSerif(&generic);
    return FontFamily(generic);
}

Font make_font(const GpFontFamily* family, float size_px, FontStyle style) {
    GpFont* font = nullptr;
    gp::GdipCreateFont(family, size_px, static_cast<INT>(style), Gdiplus::UnitPixel, &font);
    return Font(font);
}

StringFormat make_string_format(Align align) {
    GpStringFormat* raw = nullptr;
    gp::GdipCreateStringFormat(0, 0, &raw);
    StringFormat format(raw);
    if (format) {
        gp::GdipSetStringFormatAlign(format.get(), static_cast<Gdiplus::StringAlignment>(align));
        gp::GdipSetStringFormatLineAlign(format.get(), Gdiplus::StringAlignmentCenter);
        gp::GdipSetStringFormatFlags(format.get(), Gdiplus::StringFormatFlagsNoWrap);
    }
    return format;
}

void draw_text(GpGraphics* graphics, const GpFont* font, const GpStringFormat* format, Argb colour, float x, float y,
               float width, float height, std::string_view text) {
    if (font == nullptr || format == nullptr) return;
    const Brush brush = solid_brush(colour);
    const Gdiplus::RectF box(x, y, width, height);
    gp::GdipDrawString(graphics, text::to_wide<wchar_t>(text).data(), -1, font, &box, format, brush.get());
}

}  // namespace nerova::tray
