#include "tray/cards_win.h"

#include <cstring>
#include <functional>

#include "tray/gdi_win.h"
#include "tray/log_format.h"
#include "tray/log_win.h"
#include "tray/pixels.h"
#include "tray/tray_rules.h"

namespace nerova::tray {
namespace {

constexpr Argb WHITE = 0xFFFFFFFF;
constexpr Argb PRIMARY_TEXT = 0xFF0C1220;
constexpr Argb SECONDARY_TEXT = 0xFF3A4258;
constexpr Argb MUTED_TEXT = 0xFF7D869B;
constexpr Argb GREEN_ACCENT = 0xFF30D158;

struct PopupStateLook {
    Argb pill;
    Argb dot;
    const char* status;
    Argb status_colour;
    const char* channel;
    Argb channel_colour;
};

constexpr PopupStateLook NOT_CONNECTED_LOOK{0xFFF2F3F5, 0xFFB0B5BF, "网页未连接", MUTED_TEXT, "等待网页连接", MUTED_TEXT};
constexpr PopupStateLook CONNECTED_LOOK{0xFFE6F8EC, GREEN_ACCENT, "网页已连接", PRIMARY_TEXT, "通道保持中", 0xFF1FA255};

constexpr const char* MENU_LABELS[MENU_ROW_COUNT] = {"打开状态面板", "打开Nerova主站", "开机自启", "退出助手"};

using Painter = std::function<void(GpGraphics*)>;

void paint_popup(GpGraphics* graphics, GpImage* image, bool connected, bool quit_hover) {
    const PopupStateLook& look = connected ? CONNECTED_LOOK : NOT_CONNECTED_LOOK;
    fill_rounded_rect(graphics, WHITE, 8, 8, 260, 150, 16);
    stroke_rounded_rect(graphics, 8, 8, 260, 150, 16);
    if (image != nullptr) gp::GdipDrawImageRect(graphics, image, 24, 22, 32, 32);

    const FontFamily family = pick_font_family();
    const Font title_font = make_font(family.get(), 13, FontStyle::bold);
    const Font small_font = make_font(family.get(), 11, FontStyle::regular);
    const Font text_font = make_font(family.get(), 12, FontStyle::regular);
    const StringFormat near_format = make_string_format(Align::near_edge);
    const StringFormat far_format = make_string_format(Align::far_edge);
    const StringFormat centre_format = make_string_format(Align::centre);

    draw_text(graphics, title_font.get(), near_format.get(), PRIMARY_TEXT, 66, 21, 188, 20, "Nerova桥");
    draw_text(graphics, small_font.get(), near_format.get(), MUTED_TEXT, 66, 43, 188, 16, "本地网络桥接服务");
    fill_rounded_rect(graphics, look.pill, 24, 72, 228, 34, 17);
    const Brush dot = solid_brush(look.dot);
    gp::GdipFillEllipse(graphics, dot.get(), 37, 84, 10, 10);
    draw_text(graphics, text_font.get(), near_format.get(), look.status_colour, 54, 72, 120, 34, look.status);
    draw_text(graphics, small_font.get(), far_format.get(), look.channel_colour, 128, 72, 118, 34, look.channel);
    fill_rounded_rect(graphics, quit_hover ? 0xFFE4E6EB : 0xFFF2F3F5, 24, 116, 228, 30, 8);
    draw_text(graphics, text_font.get(), centre_format.get(), SECONDARY_TEXT, 24, 116, 228, 30, "退出助手");
}

void paint_menu(GpGraphics* graphics, int hover_row, bool autostart_on) {
    fill_rounded_rect(graphics, WHITE, 0.5f, 0.5f, 189, 131, 10);
    stroke_rounded_rect(graphics, 0.5f, 0.5f, 189, 131, 10);
    const FontFamily family = pick_font_family();
    const Font font = make_font(family.get(), 13, FontStyle::regular);
    const StringFormat format = make_string_format(Align::near_edge);
    for (int row = 0; row < MENU_ROW_COUNT; ++row) {
        const float top = 6.0f + 30.0f * static_cast<float>(row);
        if (hover_row == row) fill_rounded_rect(graphics, 0xFFF0F1F4, 4, top + 1, 182, 28, 6);
        if (row == 2 && autostart_on) {
            const Pen pen = solid_pen(GREEN_ACCENT, 2.0f);
            gp::GdipDrawLine(graphics, pen.get(), 14, top + 16, 18, top + 20);
            gp::GdipDrawLine(graphics, pen.get(), 18, top + 20, 26, top + 10);
        }
        draw_text(graphics, font.get(), format.get(), PRIMARY_TEXT, 36, top, 146, 30, MENU_LABELS[row]);
    }
}

// One rendering: a fresh bitmap, the painter, premultiplication, then the push to `window` (when
// given) and a copy of the pixels into `pixels_out` (when given). Every failure is logged and
// abandons the rendering; the handles are released in reverse order on every path.
void render_card(HWND window, int width, int height, const Painter& paint, std::vector<std::uint8_t>* pixels_out) {
    const ScreenDc screen;
    if (screen.get() == nullptr) {
        log_line(render_failure_message("GetDC", ::GetLastError()));
        return;
    }
    const MemoryDc memory(screen.get());
    if (memory.get() == nullptr) {
        log_line(render_failure_message("CreateCompatibleDC", ::GetLastError()));
        return;
    }
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // negative: top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const BitmapHandle bitmap(::CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (bitmap.get() == nullptr || bits == nullptr) {
        log_line(render_failure_message("CreateDIBSection", ::GetLastError()));
        return;
    }
    const Selection selection(memory.get(), bitmap.get());
    {
        GpGraphics* raw = nullptr;
        const Gdiplus::GpStatus status = gp::GdipCreateFromHDC(memory.get(), &raw);
        const Graphics graphics(raw);
        if (status != Gdiplus::Ok || !graphics) {
            // The bitmap stays all zero: the card turns fully transparent until the next rendering.
            log_line(graphics_failure_message(static_cast<int>(status)));
        } else {
            gp::GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeAntiAlias);
            gp::GdipSetTextRenderingHint(graphics.get(), Gdiplus::TextRenderingHintClearTypeGridFit);
            gp::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
            gp::GdipSetPixelOffsetMode(graphics.get(), Gdiplus::PixelOffsetModeHighQuality);
            gp::GdipSetCompositingQuality(graphics.get(), Gdiplus::CompositingQualityHighQuality);
            gp::GdipGraphicsClear(graphics.get(), 0x00000000);
            paint(graphics.get());
        }
    }
    ::GdiFlush();  // GDI may still hold batched drawing for the bitmap
    auto* pixels = static_cast<std::uint8_t*>(bits);
    premultiply_alpha(pixels, width, height);
    if (pixels_out != nullptr) {
        pixels_out->assign(pixels, pixels + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    }
    if (window == nullptr) return;

    RECT rect{};
    ::GetWindowRect(window, &rect);
    POINT destination{rect.left, rect.top};
    SIZE size{width, height};
    POINT source{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    if (!::UpdateLayeredWindow(window, screen.get(), &destination, &size, memory.get(), &source, 0, &blend,
                               ULW_ALPHA)) {
        log_line(layered_update_failure_message(::GetLastError(), rect.left, rect.top));
    }
}

}  // namespace

void render_popup(HWND window, GpImage* image, bool connected, bool quit_hover) {
    render_card(window, POPUP_WIDTH, POPUP_HEIGHT,
                [&](GpGraphics* graphics) { paint_popup(graphics, image, connected, quit_hover); }, nullptr);
}

void render_menu_card(HWND window, int hover_row, bool autostart_on) {
    render_card(window, MENU_WIDTH, MENU_HEIGHT,
                [&](GpGraphics* graphics) { paint_menu(graphics, hover_row, autostart_on); }, nullptr);
}

std::vector<std::uint8_t> render_popup_pixels(GpImage* image, bool connected, bool quit_hover) {
    std::vector<std::uint8_t> pixels;
    render_card(nullptr, POPUP_WIDTH, POPUP_HEIGHT,
                [&](GpGraphics* graphics) { paint_popup(graphics, image, connected, quit_hover); }, &pixels);
    return pixels;
}

std::vector<std::uint8_t> render_menu_pixels(int hover_row, bool autostart_on) {
    std::vector<std::uint8_t> pixels;
    render_card(nullptr, MENU_WIDTH, MENU_HEIGHT,
                [&](GpGraphics* graphics) { paint_menu(graphics, hover_row, autostart_on); }, &pixels);
    return pixels;
}

}  // namespace nerova::tray
