#include "tray/cards_win.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "tray/log_format.h"
#include "tray/log_win.h"

namespace nerova::tray {
namespace {

// Drawing in the card's 96-DPI coordinates. Rectangle edges land on whole device pixels, so a card
// stays crisp at 125 % and 150 %; radii, fonts and strokes scale by the same factor.
class Painter {
public:
    Painter(GpGraphics* graphics, unsigned dpi)
        : graphics_(graphics), dpi_(dpi), scale_(static_cast<float>(dpi) / BASE_DPI), family_(pick_font_family()) {}

    float edge(float at) const { return std::round(at * scale_); }
    float length(float value) const { return value * scale_; }
    float pen_width() const { return static_cast<float>(scale_px(1, dpi_)); }
    Font font(float size_px, FontStyle style) const { return make_font(family_.get(), length(size_px), style); }

    void fill_rounded(Argb colour, float x, float y, float width, float height, float radius) const {
        fill_rounded_rect(graphics_, colour, edge(x), edge(y), edge(x + width) - edge(x), edge(y + height) - edge(y),
                          length(radius));
    }
    void stroke_rounded(Argb colour, float x, float y, float width, float height, float radius) const {
        stroke_rounded_rect(graphics_, colour, edge(x), edge(y), edge(x + width) - edge(x),
                            edge(y + height) - edge(y), length(radius), pen_width());
    }
    void fill_ellipse(Argb colour, float x, float y, float width, float height) const {
        const Brush brush = solid_brush(colour);
        gp::GdipFillEllipse(graphics_, brush.get(), edge(x), edge(y), edge(x + width) - edge(x),
                            edge(y + height) - edge(y));
    }
    void stroke_ellipse(Argb colour, float x, float y, float width, float height) const {
        const Pen pen = solid_pen(colour, pen_width());
        gp::GdipDrawEllipse(graphics_, pen.get(), edge(x), edge(y), edge(x + width) - edge(x),
                            edge(y + height) - edge(y));
    }
    void line(const GpPen* pen, float x1, float y1, float x2, float y2) const {
        gp::GdipDrawLine(graphics_, const_cast<GpPen*>(pen), length(x1), length(y1), length(x2), length(y2));
    }
    void text(const Font& font, const StringFormat& format, Argb colour, float x, float y, float width, float height,
              std::string_view words) const {
        draw_text(graphics_, font.get(), format.get(), colour, edge(x), edge(y), edge(x + width) - edge(x),
                  edge(y + height) - edge(y), words);
    }
    void image(GpImage* image, float x, float y, float size) const {
        gp::GdipDrawImageRect(graphics_, image, edge(x), edge(y), edge(x + size) - edge(x), edge(y + size) - edge(y));
    }
    GpGraphics* graphics() const { return graphics_; }

private:
    GpGraphics* graphics_;
    unsigned dpi_;
    float scale_;
    FontFamily family_;
};

bool visible(Argb colour) { return (colour >> 24) != 0; }

void paint_popup(const Painter& paint, const CardLook& look) {
    const CardColours& colour = look.colours;
    const int state = look.connected ? 1 : 0;
    paint.fill_rounded(colour.card, 8, 8, 260, 150, 16);
    paint.stroke_rounded(colour.border, 8, 8, 260, 150, 16);
    if (look.logo != nullptr) paint.image(look.logo, 24, 22, 32);

    const Font title_font = paint.font(13, FontStyle::bold);
    const Font small_font = paint.font(11, FontStyle::regular);
    const Font text_font = paint.font(12, FontStyle::regular);
    const StringFormat near_format = make_string_format(Align::near_edge);
    const StringFormat far_format = make_string_format(Align::far_edge);
    const StringFormat centre_format = make_string_format(Align::centre);

    paint.text(title_font, near_format, colour.title, 66, 21, 188, 20, CARD_TITLE);
    paint.text(small_font, near_format, colour.subtitle, 66, 43, 188, 16, CARD_SUBTITLE);
    paint.fill_rounded(colour.pill[state], 24, 72, 228, 34, 17);
    paint.fill_ellipse(colour.dot[state], 37, 84, 10, 10);
    if (visible(colour.dot_edge[state])) paint.stroke_ellipse(colour.dot_edge[state], 37, 84, 10, 10);
    paint.text(text_font, near_format, colour.status[state], 54, 72, 120, 34, popup_status_text(look.connected));
    paint.text(small_font, far_format, colour.detail[state], 128, 72, 118, 34, popup_detail_text(look.connected));
    const bool hover = look.hover == 0;
    paint.fill_rounded(hover ? colour.button_hover : colour.button, 24, 116, 228, 30, 8);
    if (visible(colour.button_edge)) paint.stroke_rounded(colour.button_edge, 24, 116, 228, 30, 8);
    paint.text(text_font, centre_format, hover ? colour.button_label_hover : colour.button_label, 24, 116, 228, 30,
               QUIT_LABEL);
}

void paint_menu(const Painter& paint, const CardLook& look, Size canvas) {
    // The border's pen sits half inside the canvas on every side (0.5 px at 96 DPI).
    const CardColours& colour = look.colours;
    const float pen = paint.pen_width();
    const float radius = paint.length(10);
    fill_rounded_rect(paint.graphics(), colour.card, pen / 2, pen / 2, canvas.width - pen, canvas.height - pen, radius);
    stroke_rounded_rect(paint.graphics(), colour.border, pen / 2, pen / 2, canvas.width - pen, canvas.height - pen,
                        radius, pen);
    const Font font = paint.font(13, FontStyle::regular);
    const StringFormat format = make_string_format(Align::near_edge);
    for (int row = 0; row < MENU_ROW_COUNT; ++row) {
        const float top = 6.0f + 30.0f * static_cast<float>(row);
        const bool hover = look.hover == row;
        if (hover) paint.fill_rounded(colour.row_highlight, 4, top + 1, 182, 28, 6);
        if (row == 2 && look.autostart_on) {
            const Pen check_pen = solid_pen(hover ? colour.check_highlighted : colour.check, paint.length(2));
            paint.line(check_pen.get(), 14, top + 16, 18, top + 20);
            paint.line(check_pen.get(), 18, top + 20, 26, top + 10);
        }
        paint.text(font, format, hover ? colour.row_label_highlighted : colour.row_label, 36, top, 146, 30,
                   MENU_LABELS[row]);
    }
}

// One rendering: a DIB section whose bits GDI+ draws into as premultiplied ARGB (the form
// UpdateLayeredWindow takes, written by GDI+ itself), then the push to `window` (when given) and a
// copy of the pixels into `pixels_out` (when given). Every failure is logged and abandons the
// rendering; the owners release in reverse order on every path.
void render(HWND window, const CardLook& look, unsigned dpi, std::vector<std::uint8_t>* pixels_out) {
    const Size size = card_size(look.kind, dpi);
    const ScreenDc screen(::GetDC(nullptr));
    if (!screen) {
        log_line(render_failure_message("GetDC", ::GetLastError()));
        return;
    }
    const MemoryDc memory(::CreateCompatibleDC(screen.get()));
    if (!memory) {
        log_line(render_failure_message("CreateCompatibleDC", ::GetLastError()));
        return;
    }
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = size.width;
    info.bmiHeader.biHeight = -size.height;  // negative: top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const BitmapHandle bitmap(::CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || bits == nullptr) {
        log_line(render_failure_message("CreateDIBSection", ::GetLastError()));
        return;
    }
    const Selection selection(memory.get(), bitmap.get());
    {
        GpBitmap* raw_canvas = nullptr;
        GpGraphics* raw_graphics = nullptr;
        Gdiplus::GpStatus status = gp::GdipCreateBitmapFromScan0(size.width, size.height, size.width * 4,
                                                                 PixelFormat32bppPARGB, static_cast<BYTE*>(bits),
                                                                 &raw_canvas);
        const Image canvas(raw_canvas);
        if (status == Gdiplus::Ok && canvas) status = gp::GdipGetImageGraphicsContext(canvas.get(), &raw_graphics);
        const Graphics graphics(raw_graphics);
        if (status != Gdiplus::Ok || !graphics) {
            // The bits stay all zero: the card turns fully transparent until the next rendering.
            log_line(graphics_failure_message(static_cast<int>(status)));
        } else {
            gp::GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeAntiAlias);
            gp::GdipSetTextRenderingHint(graphics.get(), Gdiplus::TextRenderingHintClearTypeGridFit);
            gp::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
            gp::GdipSetPixelOffsetMode(graphics.get(), Gdiplus::PixelOffsetModeHighQuality);
            gp::GdipSetCompositingQuality(graphics.get(), Gdiplus::CompositingQualityHighQuality);
            gp::GdipGraphicsClear(graphics.get(), 0x00000000);
            const Painter paint(graphics.get(), dpi);
            if (look.kind == CardKind::popup) {
                paint_popup(paint, look);
            } else {
                paint_menu(paint, look, size);
            }
        }
    }  // the graphics and the GDI+ bitmap end here, so every drawn pixel is in the bits
    ::GdiFlush();
    if (pixels_out != nullptr) {
        const auto* pixels = static_cast<const std::uint8_t*>(bits);
        pixels_out->assign(pixels, pixels + static_cast<std::size_t>(size.width) * size.height * 4);
    }
    if (window == nullptr) return;

    RECT rect{};
    ::GetWindowRect(window, &rect);
    POINT destination{rect.left, rect.top};
    SIZE extent{size.width, size.height};
    POINT source{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    if (!::UpdateLayeredWindow(window, screen.get(), &destination, &extent, memory.get(), &source, 0, &blend,
                               ULW_ALPHA)) {
        log_line(layered_update_failure_message(::GetLastError(), rect.left, rect.top));
    }
}

}  // namespace

void render_card(HWND window, const CardLook& look, unsigned dpi) { render(window, look, dpi, nullptr); }

std::vector<std::uint8_t> render_card_pixels(const CardLook& look, unsigned dpi) {
    std::vector<std::uint8_t> pixels;
    render(nullptr, look, dpi, &pixels);
    return pixels;
}

}  // namespace nerova::tray
