// The Windows tray under Wine: both cards rendered into their bitmaps at several DPIs and checked
// pixel by pixel, start at login against the registry, the diagnostic log (also as the real program
// writes it), and the executable's manifest and version.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "tray/autostart_win.h"
#include "tray/cards_win.h"
#include "tray/gdiplus_win.h"
#include "tray/log_win.h"
#include "common/text.h"

using namespace nerova::tray;
using nerova::text::to_wide;

namespace {

const wchar_t* const RUN_KEY = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t* const RUN_VALUE = L"NerovaBridge";
const wchar_t* const APPROVED_KEY = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

struct Rgba {
    int r, g, b, a;
};

class Canvas {
public:
    Canvas(std::vector<std::uint8_t> bytes, int width, int height)
        : bytes_(std::move(bytes)), width_(width), height_(height) {}
    int width() const { return width_; }
    int height() const { return height_; }
    bool complete() const { return bytes_.size() == static_cast<std::size_t>(width_) * height_ * 4; }
    Rgba at(int x, int y) const {
        const std::uint8_t* p = &bytes_[(static_cast<std::size_t>(y) * width_ + x) * 4];
        return {p[2], p[1], p[0], p[3]};
    }
    // The straight (not premultiplied) colour, as a person sees it over any background.
    Rgba colour_at(int x, int y) const {
        const Rgba p = at(x, y);
        if (p.a == 0) return p;
        return {p.r * 255 / p.a, p.g * 255 / p.a, p.b * 255 / p.a, p.a};
    }
    bool any_in(int left, int top, int right, int bottom, const std::function<bool(Rgba)>& test) const {
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                if (test(colour_at(x, y))) return true;
        return false;
    }
    // Pixels that differ from another rendering lie only inside the given rectangle.
    bool differs_only_inside(const Canvas& other, int left, int top, int right, int bottom) const {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                const bool inside = x >= left && x < right && y >= top && y < bottom;
                const Rgba a = at(x, y), b = other.at(x, y);
                if (!inside && (a.r != b.r || a.g != b.g || a.b != b.b || a.a != b.a)) return false;
            }
        return true;
    }

private:
    std::vector<std::uint8_t> bytes_;
    int width_;
    int height_;
};

::testing::AssertionResult is_colour(const Canvas& canvas, int x, int y, std::uint32_t argb, int tolerance = 3) {
    const Rgba p = canvas.colour_at(x, y);
    const int r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    if (p.a == 255 && std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance &&
        std::abs(p.b - b) <= tolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") is rgba(" << p.r << "," << p.g << ","
                                         << p.b << "," << p.a << "), expected " << std::hex << argb;
}

// Walking in from outside the card, the first painted pixel has the border's colour.
::testing::AssertionResult has_border(const Canvas& canvas, int x, int y, int step_x, int step_y) {
    while (x >= 0 && y >= 0 && x < canvas.width() && y < canvas.height() && canvas.at(x, y).a == 0) {
        x += step_x;
        y += step_y;
    }
    if (x < 0 || y < 0 || x >= canvas.width() || y >= canvas.height()) {
        return ::testing::AssertionFailure() << "nothing painted on that line";
    }
    const Rgba p = canvas.colour_at(x, y);
    if (p.a > 60 && std::abs(p.r - 0xE0) <= 12 && std::abs(p.g - 0xE3) <= 12 && std::abs(p.b - 0xE9) <= 12) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "edge pixel (" << x << "," << y << ") is rgba(" << p.r << "," << p.g << ","
                                         << p.b << "," << p.a << ")";
}

bool greenish(Rgba p) { return p.a > 0 && p.g > p.r + 60 && p.g > p.b + 30; }
bool dark(Rgba p) { return p.a > 0 && p.r + p.g + p.b < 200; }
bool not_white(Rgba p) { return p.a > 0 && p.r + p.g + p.b < 700; }

bool family_available(const char* name) {
    GpFontFamily* family = nullptr;
    if (gp::GdipCreateFontFamilyFromName(to_wide<wchar_t>(name).data(), nullptr, &family) != Gdiplus::Ok) return false;
    gp::GdipDeleteFontFamily(family);
    return true;
}

Canvas render(const CardLook& look, unsigned dpi) {
    const Size size = card_size(look.kind, dpi);
    return Canvas(render_card_pixels(look, dpi), size.width, size.height);
}

Canvas popup(bool connected, bool hover, GpImage* image = nullptr, unsigned dpi = 96) {
    return render({CardKind::popup, hover ? 0 : -1, connected, false, image}, dpi);
}

Canvas menu(int hover_row, bool autostart_on, unsigned dpi = 96) {
    return render({CardKind::menu, hover_row, false, autostart_on, nullptr}, dpi);
}

// Every pixel is a valid premultiplied value: no colour channel above its alpha.
::testing::AssertionResult premultiplied(const Canvas& canvas) {
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x) {
            const Rgba p = canvas.at(x, y);
            if (p.r > p.a || p.g > p.a || p.b > p.a) {
                return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") is rgba(" << p.r << ","
                                                     << p.g << "," << p.b << "," << p.a << ")";
            }
        }
    return ::testing::AssertionSuccess();
}

// The rows that hold pixels matching `test` inside a box: their count from first to last.
int inked_height(const Canvas& canvas, int left, int top, int right, int bottom, const std::function<bool(Rgba)>& test) {
    int first = -1;
    int last = -1;
    for (int y = top; y < bottom; ++y) {
        if (canvas.any_in(left, y, right, y + 1, test)) {
            if (first < 0) first = y;
            last = y;
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

Image decode_png(std::string_view png) {
    IStream* stream = ::SHCreateMemStream(reinterpret_cast<const BYTE*>(png.data()), static_cast<UINT>(png.size()));
    if (stream == nullptr) return Image();
    GpImage* raw = nullptr;
    gp::GdipLoadImageFromStream(stream, &raw);
    stream->Release();
    return Image(raw);
}

class TrayCards : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    }
    static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token_); }
    void SkipWithoutCardFont() {
        if (!family_available("Microsoft YaHei UI")) GTEST_SKIP() << "no font for the cards' texts on this system "
                                                                "(tests/wine-run's prefix names one under Wine)";
    }
    static ULONG_PTR token_;
};
ULONG_PTR TrayCards::token_ = 0;

TEST_F(TrayCards, PopupIsAWhiteRoundedCardWithABorderInATransparentMargin) {
    const Canvas card = popup(false, false);
    ASSERT_TRUE(card.complete());
    for (int y = 0; y < 166; ++y) {
        for (int x = 0; x < 276; ++x) {
            if (x <= 6 || x >= 270 || y <= 6 || y >= 160) {
                ASSERT_EQ(card.at(x, y).a, 0) << x << "," << y;
            }
        }
    }
    for (auto corner : {std::pair{9, 9}, {266, 9}, {9, 156}, {266, 156}})
        EXPECT_EQ(card.at(corner.first, corner.second).a, 0) << "rounded corner " << corner.first;
    EXPECT_TRUE(is_colour(card, 138, 65, 0xFFFFFFFF, 0));
    EXPECT_TRUE(is_colour(card, 100, 111, 0xFFFFFFFF, 0));
    EXPECT_TRUE(is_colour(card, 60, 38, 0xFFFFFFFF, 0));  // no image: the logo area stays white
    EXPECT_TRUE(has_border(card, 138, 0, 0, 1));
    EXPECT_TRUE(has_border(card, 0, 80, 1, 0));
    EXPECT_TRUE(has_border(card, 138, 165, 0, -1));
    EXPECT_TRUE(has_border(card, 275, 80, -1, 0));
}

TEST_F(TrayCards, PopupPillDotAndTextsFollowTheConnectionState) {
    const Canvas waiting = popup(false, false);
    EXPECT_TRUE(is_colour(waiting, 30, 89, 0xFFF2F3F5));
    EXPECT_TRUE(is_colour(waiting, 249, 89, 0xFFF2F3F5));
    EXPECT_TRUE(is_colour(waiting, 42, 89, 0xFFB0B5BF));
    const Canvas connected = popup(true, false);
    EXPECT_TRUE(is_colour(connected, 30, 89, 0xFFE6F8EC));
    EXPECT_TRUE(is_colour(connected, 249, 89, 0xFFE6F8EC));
    EXPECT_TRUE(is_colour(connected, 42, 89, 0xFF30D158));
    // Only the pill changes with the state.
    EXPECT_TRUE(connected.differs_only_inside(waiting, 24, 72, 252, 106));

    SkipWithoutCardFont();
    // Connected: dark status text, green channel text; waiting: both muted grey.
    EXPECT_TRUE(connected.any_in(54, 72, 128, 106, dark));
    EXPECT_TRUE(connected.any_in(150, 72, 246, 106, greenish));
    EXPECT_FALSE(waiting.any_in(24, 72, 252, 106, dark));
    EXPECT_FALSE(waiting.any_in(50, 72, 252, 106, greenish));
    EXPECT_TRUE(waiting.any_in(54, 72, 128, 106, [](Rgba p) { return p.r + p.g + p.b < 560; }));
    EXPECT_TRUE(waiting.any_in(150, 72, 246, 106, [](Rgba p) { return p.r + p.g + p.b < 560; }));
}

TEST_F(TrayCards, QuitButtonHoverChangesOnlyTheButton) {
    const Canvas plain = popup(false, false);
    const Canvas hovered = popup(false, true);
    EXPECT_TRUE(is_colour(plain, 28, 131, 0xFFF2F3F5));
    EXPECT_TRUE(is_colour(hovered, 28, 131, 0xFFE4E6EB));
    EXPECT_TRUE(is_colour(hovered, 248, 131, 0xFFE4E6EB));
    EXPECT_TRUE(hovered.differs_only_inside(plain, 24, 116, 252, 146));
    SkipWithoutCardFont();
    EXPECT_TRUE(hovered.any_in(100, 116, 176, 146, [](Rgba p) { return p.r + p.g + p.b < 300; }));  // "退出助手"
    EXPECT_TRUE(plain.any_in(66, 21, 254, 41, dark));       // the title
}

TEST_F(TrayCards, LogoIsTheBrandImageScaledIntoItsBox) {
    const Image image = decode_png(nerova::assets::icon_png());
    ASSERT_TRUE(image);
    for (const unsigned dpi : {96u, 144u}) {
        const int low = scale_px(22, dpi) - 1;
        const int high = scale_px(56, dpi) + 1;
        const Canvas with_logo = popup(false, false, image.get(), dpi);
        const Canvas without = popup(false, false, nullptr, dpi);
        EXPECT_TRUE(with_logo.any_in(scale_px(24, dpi), scale_px(22, dpi), scale_px(56, dpi), scale_px(54, dpi),
                                     not_white));
        EXPECT_FALSE(without.any_in(scale_px(24, dpi), scale_px(22, dpi), scale_px(56, dpi), scale_px(54, dpi),
                                    not_white));
        EXPECT_TRUE(with_logo.differs_only_inside(without, scale_px(24, dpi) - 1, low, high + 2, high)) << dpi;
        EXPECT_TRUE(premultiplied(with_logo));
    }
}

TEST_F(TrayCards, EdgePixelsArePremultipliedAndRoundedCornersLetTheScreenThrough) {
    for (const unsigned dpi : {96u, 120u, 144u, 192u}) {
        const Canvas card = popup(true, false, nullptr, dpi);
        ASSERT_TRUE(card.complete()) << dpi;
        EXPECT_TRUE(premultiplied(card)) << dpi;
        EXPECT_TRUE(premultiplied(menu(1, true, dpi))) << dpi;
        // The top-left corner's square, radius 16 scaled: clear outside the arc, opaque inside.
        const int from = scale_px(8, dpi);
        const int radius = scale_px(16, dpi);
        EXPECT_EQ(card.at(from, from).a, 0) << dpi;
        EXPECT_EQ(card.at(from + radius, from + radius).a, 255) << dpi;
        int clear = 0;
        for (int y = from; y < from + radius; ++y)
            for (int x = from; x < from + radius; ++x) clear += card.at(x, y).a < 255 ? 1 : 0;
        // Outside a quarter circle lies 1 - pi / 4 of its square, about 21 %.
        EXPECT_GT(clear, radius * radius / 8) << dpi;
        EXPECT_LT(clear, radius * radius / 3) << dpi;
    }
}

TEST_F(TrayCards, EverySizeAndFontScalesWithTheDpi) {
    SkipWithoutCardFont();
    const auto title_height = [](const Canvas& card, unsigned dpi) {
        return inked_height(card, scale_px(66, dpi), scale_px(21, dpi), scale_px(254, dpi), scale_px(41, dpi), dark);
    };
    const auto label_height = [](const Canvas& card, unsigned dpi) {
        return inked_height(card, scale_px(36, dpi), scale_px(36, dpi), scale_px(182, dpi), scale_px(66, dpi), dark);
    };
    const Canvas popup_96 = popup(false, false);
    const Canvas menu_96 = menu(-1, false);
    const int title_96 = title_height(popup_96, 96);
    const int label_96 = label_height(menu_96, 96);
    ASSERT_GT(title_96, 6);
    ASSERT_GT(label_96, 6);
    for (const unsigned dpi : {120u, 144u, 192u}) {
        const Canvas card = popup(false, true, nullptr, dpi);
        const Canvas rows = menu(3, false, dpi);
        ASSERT_TRUE(card.complete() && rows.complete()) << dpi;
        // The same picture at every scale: white card, pill, dot, hovered quit button, hovered row.
        EXPECT_TRUE(is_colour(card, scale_px(138, dpi), scale_px(65, dpi), 0xFFFFFFFF, 0)) << dpi;
        EXPECT_TRUE(is_colour(card, scale_px(30, dpi), scale_px(89, dpi), 0xFFF2F3F5)) << dpi;
        EXPECT_TRUE(is_colour(card, scale_px(42, dpi), scale_px(89, dpi), 0xFFB0B5BF)) << dpi;
        EXPECT_TRUE(is_colour(card, scale_px(248, dpi), scale_px(131, dpi), 0xFFE4E6EB)) << dpi;
        EXPECT_EQ(card.at(scale_px(6, dpi), scale_px(80, dpi)).a, 0) << dpi;
        EXPECT_TRUE(is_colour(rows, scale_px(10, dpi), scale_px(111, dpi), 0xFFF0F1F4)) << dpi;
        EXPECT_TRUE(is_colour(rows, scale_px(10, dpi), scale_px(81, dpi), 0xFFFFFFFF, 0)) << dpi;
        // Text grows with the scale (hinting moves a glyph's height by a pixel or two).
        const double scale = dpi / 96.0;
        EXPECT_NEAR(title_height(card, dpi), title_96 * scale, 2 + scale) << dpi;
        EXPECT_NEAR(label_height(rows, dpi), label_96 * scale, 2 + scale) << dpi;
    }
}

TEST_F(TrayCards, MenuIsARoundedCardWithAHoverRow) {
    const Canvas plain = menu(-1, false);
    ASSERT_TRUE(plain.complete());
    for (auto corner : {std::pair{0, 0}, {189, 0}, {0, 131}, {189, 131}})
        EXPECT_EQ(plain.at(corner.first, corner.second).a, 0) << "rounded corner " << corner.first;
    EXPECT_TRUE(is_colour(plain, 10, 3, 0xFFFFFFFF, 0));
    EXPECT_TRUE(is_colour(plain, 10, 51, 0xFFFFFFFF, 0));
    EXPECT_TRUE(has_border(plain, 95, 0, 0, 1));
    EXPECT_TRUE(has_border(plain, 0, 66, 1, 0));

    const Canvas hovered = menu(1, false);
    EXPECT_TRUE(is_colour(hovered, 10, 51, 0xFFF0F1F4));
    EXPECT_TRUE(is_colour(hovered, 183, 51, 0xFFF0F1F4));
    EXPECT_TRUE(is_colour(hovered, 10, 21, 0xFFFFFFFF, 0));
    EXPECT_TRUE(hovered.differs_only_inside(plain, 4, 37, 186, 65));
    const Canvas last = menu(3, false);
    EXPECT_TRUE(is_colour(last, 10, 111, 0xFFF0F1F4));

    SkipWithoutCardFont();
    for (int row = 0; row < 4; ++row) EXPECT_TRUE(plain.any_in(36, 6 + 30 * row, 182, 36 + 30 * row, dark)) << row;
}

TEST_F(TrayCards, CheckMarkOnlyWhileStartAtLoginIsOn) {
    const Canvas off = menu(-1, false);
    const Canvas on = menu(-1, true);
    EXPECT_FALSE(off.any_in(0, 0, 190, 132, greenish));
    EXPECT_TRUE(greenish(on.colour_at(22, 81)));  // on the stroke from (18, 86) to (26, 76)
    EXPECT_TRUE(greenish(on.colour_at(16, 84)));  // on the stroke from (14, 82) to (18, 86)
    EXPECT_FALSE(greenish(on.colour_at(20, 76)));
    EXPECT_TRUE(on.differs_only_inside(off, 12, 74, 29, 89));
    const Canvas on_200 = menu(-1, true, 192);
    EXPECT_TRUE(greenish(on_200.colour_at(44, 162)));
    EXPECT_TRUE(on_200.differs_only_inside(menu(-1, false, 192), 24, 148, 58, 178));
}

// Start at login, against the registry of the test's own Wine prefix.
class StartAtLogin : public ::testing::Test {
protected:
    void SetUp() override {
        delete_value(RUN_KEY);
        delete_value(APPROVED_KEY);
    }
    static void delete_value(const wchar_t* key_path) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, key_path, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            ::RegDeleteValueW(key, RUN_VALUE);
            ::RegCloseKey(key);
        }
    }
    static void set_value(const wchar_t* key_path, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(key, RUN_VALUE, 0, type, static_cast<const BYTE*>(data), size);
        ::RegCloseKey(key);
    }
    static void set_run_text(DWORD type, const std::wstring& text) {
        set_value(RUN_KEY, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    static bool read_value(const wchar_t* key_path, DWORD& type, std::vector<BYTE>& data) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, key_path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
        DWORD size = 0;
        LONG result = ::RegQueryValueExW(key, RUN_VALUE, nullptr, &type, nullptr, &size);
        if (result == ERROR_SUCCESS) {
            data.assign(size, 0);
            result = ::RegQueryValueExW(key, RUN_VALUE, nullptr, &type, data.data(), &size);
        }
        ::RegCloseKey(key);
        return result == ERROR_SUCCESS;
    }
    static std::wstring this_program() {
        wchar_t path[MAX_PATH * 4];
        const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
        return std::wstring(path, length);
    }
    static ::testing::AssertionResult run_value_starts_this_program() {
        const std::wstring expected = L"\"" + this_program() + L"\"";
        DWORD type = 0;
        std::vector<BYTE> data;
        if (!read_value(RUN_KEY, type, data)) return ::testing::AssertionFailure() << "no Run value";
        const auto* units = reinterpret_cast<const wchar_t*>(data.data());
        if (type != REG_SZ || data.size() != (expected.size() + 1) * 2 ||
            std::wstring(units, expected.size()) != expected || units[expected.size()] != L'\0') {
            return ::testing::AssertionFailure() << "Run value of type " << type << " and " << data.size() << " bytes";
        }
        return ::testing::AssertionSuccess();
    }
};

TEST_F(StartAtLogin, ToggleWritesTheQuotedExecutablePathThenDeletesIt) {
    EXPECT_FALSE(is_autostart_enabled());
    toggle_autostart();
    EXPECT_TRUE(is_autostart_enabled());
    EXPECT_TRUE(run_value_starts_this_program()) << "the terminating NUL is stored";

    toggle_autostart();
    EXPECT_FALSE(is_autostart_enabled());
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(read_value(RUN_KEY, type, data));

    // A missing Run key is created.
    ::RegDeleteKeyW(HKEY_CURRENT_USER, RUN_KEY);
    EXPECT_FALSE(is_autostart_enabled());
    toggle_autostart();
    EXPECT_TRUE(run_value_starts_this_program());
}

TEST_F(StartAtLogin, AnEntryTurnedOffInTaskManagerIsUncheckedAndTurningItOnClearsTheRecord) {
    toggle_autostart();
    const unsigned char off[12] = {3, 0, 0, 0, 0x17, 0x79, 0xBD, 0x01, 0x17, 0xD9, 0xD1, 0x01};
    set_value(APPROVED_KEY, REG_BINARY, off, sizeof off);
    EXPECT_FALSE(is_autostart_enabled()) << "the Run value is still there, but Windows will not start it";
    toggle_autostart();
    EXPECT_TRUE(is_autostart_enabled());
    EXPECT_TRUE(run_value_starts_this_program());
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(read_value(APPROVED_KEY, type, data)) << "the record that turned it off is gone";

    const unsigned char on[12] = {2};
    set_value(APPROVED_KEY, REG_BINARY, on, sizeof on);
    EXPECT_TRUE(is_autostart_enabled());
    toggle_autostart();
    EXPECT_FALSE(is_autostart_enabled());
    EXPECT_TRUE(read_value(APPROVED_KEY, type, data)) << "turning off touches only the Run value";
}

TEST_F(StartAtLogin, AValueForAnotherCopyIsUncheckedAndTurningItOnPointsItHere) {
    set_run_text(REG_EXPAND_SZ, L"\"%SystemRoot%\\elsewhere\\NerovaBridge.exe\"");
    EXPECT_FALSE(is_autostart_enabled());
    toggle_autostart();
    EXPECT_TRUE(run_value_starts_this_program());

    // The same executable, written another way, counts: expanded, unquoted, another case.
    ASSERT_TRUE(::SetEnvironmentVariableW(L"NEROVA_TEST_PROGRAM", this_program().c_str()));
    set_run_text(REG_EXPAND_SZ, L"\"%NEROVA_TEST_PROGRAM%\" --from-login");
    EXPECT_TRUE(is_autostart_enabled());
    std::wstring upper = this_program();
    for (wchar_t& c : upper) c = static_cast<wchar_t>(::towupper(c));
    set_run_text(REG_SZ, upper);
    EXPECT_TRUE(is_autostart_enabled());
    // Data that is no text never counts.
    const DWORD number = 1;
    set_value(RUN_KEY, REG_DWORD, &number, sizeof number);
    EXPECT_FALSE(is_autostart_enabled());
    toggle_autostart();
    EXPECT_TRUE(run_value_starts_this_program());
}

// A fresh folder under the temporary directory, used as APPDATA.
std::wstring fresh_appdata(const wchar_t* name) {
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp) + L"nerova-tray-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + name +
           L"\\Roaming";
}

std::string read_all(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) content.append(buffer, read);
    ::CloseHandle(file);
    return content;
}

TEST(DiagnosticLog, AppendsExactLinesToAFileItCreatesAndSharesWithOthers) {
    const std::wstring appdata = fresh_appdata(L"log");
    const std::wstring file = appdata + L"\\NerovaBridge\\popup.log";
    const auto utf8 = [](const std::wstring& wide) { return nerova::text::from_wide(wide.data(), wide.size()); };
    set_log_place(nerova::LogPlace{utf8(appdata + L"\\NerovaBridge"), utf8(file)});
    log_line("first");
    log_line("two\nlines");
    {
        // Another program holding the file open with shared access does not stop a line.
        const HANDLE reader = ::CreateFileW(file.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        log_line("third");
        ::CloseHandle(reader);
    }
    set_log_place(std::nullopt);
    log_line("lost: no log place");
    EXPECT_TRUE(std::regex_match(read_all(file),
                                 std::regex(R"(\[tick=\d+\] first\n\[tick=\d+\] two\nlines\n\[tick=\d+\] third\n)")))
        << read_all(file);
}

// The program as Windows sees it: Wine maps the Unix root to drive Z:.
std::wstring program_path() {
    std::wstring program = L"Z:" + std::wstring(to_wide<wchar_t>(NEROVA_BRIDGE_EXE).data());
    for (wchar_t& c : program)
        if (c == L'/') c = L'\\';
    return program;
}

TEST(Executable, CarriesItsVersionAndAManifestForPerMonitorDpi) {
    const std::wstring program = program_path();
    DWORD ignored = 0;
    std::vector<BYTE> info(::GetFileVersionInfoSizeW(program.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(::GetFileVersionInfoW(program.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    const auto text = [&](const wchar_t* name) {
        void* value = nullptr;
        UINT units = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
        if (!::VerQueryValueW(info.data(), path.c_str(), &value, &units) || units == 0) return std::wstring();
        return std::wstring(static_cast<const wchar_t*>(value), units - 1);
    };
    EXPECT_EQ(text(L"ProductName"), std::wstring(to_wide<wchar_t>("Nerova桥").data()));
    EXPECT_EQ(text(L"FileDescription"), std::wstring(to_wide<wchar_t>("本地网络桥接服务").data()));
    EXPECT_EQ(text(L"ProductVersion"), std::wstring(to_wide<wchar_t>(NEROVA_VERSION).data()));
    EXPECT_EQ(text(L"FileVersion"), std::wstring(to_wide<wchar_t>(NEROVA_VERSION).data()));
    // Task Manager's Startup tab and Settings show these as the publisher.
    EXPECT_EQ(text(L"CompanyName"), L"Nerova");
    EXPECT_EQ(text(L"LegalCopyright"), std::wstring(to_wide<wchar_t>("© Nerova").data()));
    void* fixed = nullptr;
    UINT fixed_size = 0;
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", &fixed, &fixed_size));
    const auto* version = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    const std::string dotted = std::to_string(HIWORD(version->dwProductVersionMS)) + "." +
                               std::to_string(LOWORD(version->dwProductVersionMS)) + "." +
                               std::to_string(HIWORD(version->dwProductVersionLS));
    EXPECT_EQ(dotted, NEROVA_VERSION);

    const HMODULE module = ::LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    std::string manifest;
    if (found != nullptr) {
        const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(module, found)));
        manifest.assign(bytes, ::SizeofResource(module, found));
    }
    ::FreeLibrary(module);
    for (const char* part : {"<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
                             "PerMonitorV2, PerMonitor</dpiAwareness>",
                             ">true/pm</dpiAware>", "level=\"asInvoker\"",
                             "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
                             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""}) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part << " in\n" << manifest;
    }
}

TEST(DiagnosticLog, HealthyStartOfTheProgramLeavesExactlyTheTwoStartUpLines) {
    const std::wstring appdata = fresh_appdata(L"start");
    ASSERT_TRUE(::SetEnvironmentVariableW(L"APPDATA", appdata.c_str()));
    const std::wstring program = program_path();
    std::wstring command = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process))
        << ::GetLastError();
    const std::wstring file = appdata + L"\\NerovaBridge\\popup.log";
    std::string log;
    for (int i = 0; i < 150 && std::count(log.begin(), log.end(), '\n') < 2; ++i) {
        ::Sleep(100);
        log = read_all(file);
    }
    ::Sleep(1000);  // time for a stray third line to show up
    log = read_all(file);
    DWORD still_running = ::WaitForSingleObject(process.hProcess, 0);
    ::TerminateProcess(process.hProcess, 0);
    ::WaitForSingleObject(process.hProcess, 5000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ::SetEnvironmentVariableW(L"APPDATA", nullptr);

    EXPECT_EQ(still_running, static_cast<DWORD>(WAIT_TIMEOUT)) << "the program ended on its own";
    std::smatch match;
    ASSERT_TRUE(std::regex_match(log, match,
                                 std::regex(R"(\[tick=\d+\] gdiplus_startup: status=0 token=(\d+) input_size=24 )"
                                            R"(last_err=\d+\n\[tick=\d+\] init: gdiplus_token=(\d+), )"
                                            R"(icon_image=(-?\d+)\n)")))
        << log;
    EXPECT_NE(match[1].str(), "0");
    EXPECT_EQ(match[1].str(), match[2].str());
    EXPECT_NE(match[3].str(), "0");
}

}  // namespace
