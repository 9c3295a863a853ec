// The Windows tray: the notification icon, its message-only host window and 250 ms timer, the
// popup status card and the menu card. Everything here runs on the process's main thread.
#include "tray/tray.h"

#include <windows.h>
#include <objidl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <windowsx.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "http/assets.h"
#include "netinfo/wide_text.h"
#include "platform/system.h"
#include "tray/autostart_win.h"
#include "tray/cards_win.h"
#include "tray/gdi_win.h"
#include "tray/gdiplus_win.h"
#include "tray/log_format.h"
#include "tray/log_win.h"
#include "tray/tray_rules.h"
#include "tray/wide.h"

namespace nerova {
namespace tray {
namespace {

constexpr UINT TRAY_CALLBACK_MESSAGE = WM_USER + 1;
constexpr UINT TRAY_ICON_ID = 1;
constexpr UINT_PTR TRAY_TIMER_ID = 1;
constexpr UINT TRAY_TIMER_PERIOD_MS = 250;
constexpr std::string_view WINDOW_TITLE = "Nerova桥";
constexpr std::string_view STATUS_PAGE_URL = "http://127.0.0.1:17668/ui";
constexpr std::string_view FALLBACK_ICON_FILE = "orva-network-helper-brand.ico";
constexpr DWORD CARD_EX_STYLE = WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
const wchar_t* const HIDDEN_CLASS = L"ORVATrayHidden";
const wchar_t* const POPUP_CLASS = L"ORVAPopupCard";
const wchar_t* const MENU_CLASS = L"ORVAMenuCard";

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the full current NOTIFYICONDATAW");
static_assert(TRAY_CALLBACK_MESSAGE == 1025, "the icon's callback message");

// Tray UI state: written only by this thread; atomic so that it may be read from anywhere.
std::once_flag bridge_state_once;
std::shared_ptr<BridgeState> bridge_state_slot;
std::atomic<HWND> hidden_window{nullptr};
std::atomic<HWND> popup_window{nullptr};
std::atomic<HWND> menu_window{nullptr};
std::atomic<bool> popup_visible{false};
std::atomic<std::uint64_t> popup_shown_at{0};
std::atomic<bool> menu_visible{false};
std::atomic<std::uint64_t> menu_shown_at{0};
std::atomic<ULONG_PTR> gdiplus_token{0};
std::atomic<GpImage*> brand_image{nullptr};
std::atomic<HCURSOR> hand_cursor{nullptr};
std::atomic<bool> web_connected{false};
std::atomic<bool> quit_hover{false};
std::atomic<int> menu_hover{-1};
std::atomic<bool> autostart_on{false};
std::atomic<std::uint32_t> timer_ticks{0};
std::atomic<HICON> notification_icon{nullptr};
std::atomic<bool> icon_added{false};
std::atomic<UINT> taskbar_created_message{0};

// Zero-filled, sized for the current shell, naming our icon.
NOTIFYICONDATAW icon_record(UINT flags) {
    NOTIFYICONDATAW data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = hidden_window.load();
    data.uID = TRAY_ICON_ID;
    data.uFlags = flags;
    if ((flags & NIF_TIP) != 0) {
        const std::vector<wchar_t> title = to_wide<wchar_t>(WINDOW_TITLE);
        const std::size_t units = std::min(title.size() - 1, std::size(data.szTip) - 1);
        std::copy(title.begin(), title.begin() + static_cast<std::ptrdiff_t>(units), data.szTip);
        data.szTip[units] = L'\0';
    }
    return data;
}

// Shell_NotifyIconW fails while the shell's notification area is not up yet (common for a program
// started at login), and TaskbarCreated then never comes: the timer keeps calling this until an
// add succeeds.
void add_notification_icon() {
    NOTIFYICONDATAW data = icon_record(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    data.uCallbackMessage = TRAY_CALLBACK_MESSAGE;
    data.hIcon = notification_icon.load();
    icon_added = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

void delete_notification_icon() {
    NOTIFYICONDATAW data = icon_record(0);
    ::Shell_NotifyIconW(NIM_DELETE, &data);
}

std::uint64_t now_ms() { return ::GetTickCount64(); }

WorkArea work_area() {
    RECT rect{};
    if (::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rect, 0)) {
        return {rect.left, rect.top, rect.right, rect.bottom};
    }
    return {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
}

Point cursor_position() {
    POINT cursor{};
    ::GetCursorPos(&cursor);
    return {cursor.x, cursor.y};
}

void refresh_popup() {
    const HWND window = popup_window.load();
    if (window == nullptr || !popup_visible || gdiplus_token == 0) return;
    render_popup(window, brand_image.load(), web_connected, quit_hover);
}

void render_menu() {
    const HWND window = menu_window.load();
    if (window == nullptr || !menu_visible || gdiplus_token == 0) return;
    render_menu_card(window, menu_hover, autostart_on);
}

void hide_popup() {
    const HWND window = popup_window.load();
    if (window != nullptr) ::ShowWindow(window, SW_HIDE);
    popup_visible = false;
}

void hide_menu() {
    const HWND window = menu_window.load();
    if (window != nullptr) ::ShowWindow(window, SW_HIDE);
    menu_visible = false;
    menu_hover = -1;
}

void show_popup() {
    hide_menu();
    const HWND window = popup_window.load();
    if (window == nullptr) return;
    const Point at = place_popup(cursor_position(), work_area());
    ::SetWindowPos(window, HWND_TOPMOST, at.x, at.y, POPUP_WIDTH, POPUP_HEIGHT, SWP_SHOWWINDOW);
    ::SetForegroundWindow(window);
    popup_visible = true;
    popup_shown_at = now_ms();
    refresh_popup();
}

void show_menu() {
    hide_popup();
    const HWND window = menu_window.load();
    if (window == nullptr) return;
    autostart_on = is_autostart_enabled();
    menu_hover = -1;
    const Point at = place_menu(cursor_position(), work_area());
    ::SetWindowPos(window, HWND_TOPMOST, at.x, at.y, MENU_WIDTH, MENU_HEIGHT, SWP_SHOWWINDOW);
    ::SetForegroundWindow(window);
    menu_visible = true;
    menu_shown_at = now_ms();
    render_menu();
}

void quit_app() {
    hide_menu();
    hide_popup();
    delete_notification_icon();
    ::PostQuitMessage(0);
}

void open_url(std::string_view url) {
    ::ShellExecuteW(nullptr, L"open", to_wide<wchar_t>(url).data(), nullptr, nullptr, SW_SHOW);
}

void track_mouse_leave(HWND window) {
    TRACKMOUSEEVENT request{sizeof(TRACKMOUSEEVENT), TME_LEAVE, window, 0};
    ::TrackMouseEvent(&request);
}

// A card closes at a tick once another window holds the foreground and the grace time is over.
void close_if_left(const std::atomic<bool>& visible, const std::atomic<std::uint64_t>& shown_at,
                   const std::atomic<HWND>& card, void (*hide)()) {
    if (!visible || !foreground_grace_over(now_ms(), shown_at)) return;
    const HWND foreground = ::GetForegroundWindow();
    if (foreground != nullptr && foreground != card.load()) hide();
}

void on_tick() {
    const std::uint32_t before = timer_ticks.fetch_add(1);
    if (!icon_added) add_notification_icon();
    close_if_left(popup_visible, popup_shown_at, popup_window, hide_popup);
    close_if_left(menu_visible, menu_shown_at, menu_window, hide_menu);
    if (!is_sample_tick(before)) return;

    const bool connected = bridge_state_slot != nullptr && web_page_connected(*bridge_state_slot);
    NOTIFYICONDATAW tip = icon_record(NIF_TIP);
    ::Shell_NotifyIconW(NIM_MODIFY, &tip);
    if (web_connected.exchange(connected) != connected) refresh_popup();
}

bool is_taskbar_created(UINT message) {
    const UINT registered = taskbar_created_message.load();
    return registered != 0 && message == registered;
}

LRESULT CALLBACK tray_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        case WM_TIMER:
            on_tick();
            return 0;
        case TRAY_CALLBACK_MESSAGE:
            switch (static_cast<UINT>(static_cast<std::uint64_t>(lparam) & 0xFFFFFFFFu)) {
                case WM_LBUTTONUP:
                    if (popup_visible) {
                        hide_popup();
                    } else {
                        show_popup();
                    }
                    break;
                case WM_RBUTTONUP:
                    show_menu();
                    break;
                default:
                    break;
            }
            return 0;
        default:
            return ::DefWindowProcW(window, message, wparam, lparam);
    }
}

LRESULT CALLBACK popup_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            ::BeginPaint(window, &paint);
            ::EndPaint(window, &paint);
            if (gdiplus_token != 0) render_popup(window, brand_image.load(), web_connected, quit_hover);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_MOUSEMOVE: {
            const bool over = over_quit_button(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
            if (over) ::SetCursor(hand_cursor.load());
            if (quit_hover.exchange(over) != over) refresh_popup();
            track_mouse_leave(window);
            return 0;
        }
        case WM_LBUTTONUP:
            if (over_quit_button(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam))) quit_app();
            return 0;
        case WM_MOUSELEAVE:
            if (quit_hover.exchange(false)) refresh_popup();
            return 0;
        case WM_CLOSE:
            // Alt+F4 on the focused card would destroy it for good; only hide it.
            hide_popup();
            return 0;
        default:
            if (is_taskbar_created(message)) {
                add_notification_icon();
                return 0;
            }
            return ::DefWindowProcW(window, message, wparam, lparam);
    }
}

void run_menu_row(int row) {
    switch (row) {
        case 0:
            open_url(STATUS_PAGE_URL);
            break;
        case 1:
            open_url(http::main_site_url());
            break;
        case 2:
            toggle_autostart();
            break;
        case 3:
            quit_app();
            break;
        default:
            break;
    }
}

LRESULT CALLBACK menu_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            ::BeginPaint(window, &paint);
            ::EndPaint(window, &paint);
            render_menu();
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_KEYDOWN:
            if (LOWORD(wparam) == VK_ESCAPE) hide_menu();
            return 0;
        case WM_MOUSEMOVE: {
            const int row = menu_row_at(GET_Y_LPARAM(lparam));
            if (row >= 0) ::SetCursor(hand_cursor.load());
            if (menu_hover.exchange(row) != row) render_menu();
            track_mouse_leave(window);
            return 0;
        }
        case WM_LBUTTONUP: {
            // The menu goes first, so a slow action (a browser starting) never leaves it on screen.
            const int row = menu_row_at(GET_Y_LPARAM(lparam));
            hide_menu();
            run_menu_row(row);
            return 0;
        }
        case WM_MOUSELEAVE:
            if (menu_hover.exchange(-1) != -1) render_menu();
            return 0;
        case WM_CLOSE:
            hide_menu();
            return 0;
        default:
            if (is_taskbar_created(message)) {
                add_notification_icon();
                return 0;
            }
            return ::DefWindowProcW(window, message, wparam, lparam);
    }
}

class GdiplusSession {
public:
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        input.GdiplusVersion = 1;
        input.DebugEventCallback = nullptr;
        input.SuppressBackgroundThread = FALSE;
        input.SuppressExternalCodecs = FALSE;
        ULONG_PTR token = 0;
        const Gdiplus::Status status = Gdiplus::GdiplusStartup(&token, &input, nullptr);
        const DWORD last_error = ::GetLastError();
        log_line(gdiplus_startup_message(static_cast<int>(status), token, static_cast<unsigned>(sizeof input),
                                         last_error));
        token_ = status == Gdiplus::Ok ? token : 0;
    }
    ~GdiplusSession() {
        if (token_ != 0) Gdiplus::GdiplusShutdown(token_);
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;
    ULONG_PTR token() const { return token_; }

private:
    ULONG_PTR token_ = 0;
};

class StreamHandle {
public:
    explicit StreamHandle(IStream* stream) : stream_(stream) {}
    ~StreamHandle() {
        if (stream_ != nullptr) stream_->Release();
    }
    StreamHandle(const StreamHandle&) = delete;
    StreamHandle& operator=(const StreamHandle&) = delete;
    IStream* get() const { return stream_; }

private:
    IStream* stream_;
};

Image decode_brand_image() {
    const std::string_view ico = http::brand_ico();
    const StreamHandle stream(
        ::SHCreateMemStream(reinterpret_cast<const BYTE*>(ico.data()), static_cast<UINT>(ico.size())));
    if (stream.get() == nullptr) return Image();
    GpImage* image = nullptr;
    if (gp::GdipLoadImageFromStream(stream.get(), &image) != Gdiplus::Ok && image != nullptr) {
        gp::GdipDisposeImage(image);
        image = nullptr;
    }
    return Image(image);
}

// GetTempPath2W where the system has it (Windows 11, recent 10), else GetTempPathW.
std::string temp_directory() {
    using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel != nullptr ? ::GetProcAddress(kernel, "GetTempPath2W") : nullptr;
    const auto get_temp_path2 = reinterpret_cast<GetTempPath2Fn>(reinterpret_cast<void (*)()>(found));
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length =
        get_temp_path2 != nullptr ? get_temp_path2(MAX_PATH + 1, buffer) : ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return {};
    return netinfo::utf16_to_utf8(std::u16string(buffer, buffer + length));
}

HICON load_notification_icon(HINSTANCE instance) {
    const int width = ::GetSystemMetrics(SM_CXSMICON);
    const int height = ::GetSystemMetrics(SM_CYSMICON);
    HANDLE icon = ::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, width, height, 0);
    if (icon != nullptr) return static_cast<HICON>(icon);
    const std::string path = platform::join_path(temp_directory(), std::string(FALLBACK_ICON_FILE));
    const std::vector<wchar_t> wide_path = to_wide<wchar_t>(path);
    if (::GetFileAttributesW(wide_path.data()) == INVALID_FILE_ATTRIBUTES) {
        platform::write_file(path, http::brand_ico());
    }
    icon = ::LoadImageW(nullptr, wide_path.data(), IMAGE_ICON, width, height, LR_LOADFROMFILE);
    return static_cast<HICON>(icon);
}

void register_class(HINSTANCE instance, HCURSOR arrow, const wchar_t* name, WNDPROC procedure) {
    WNDCLASSW window_class;
    std::memset(&window_class, 0, sizeof window_class);
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = instance;
    window_class.hCursor = arrow;
    window_class.lpszClassName = name;
    ::RegisterClassW(&window_class);
}

// Start-up through the message loop; returns when the loop ends, releasing the icon, the brand
// image and GDI+ in that order on the way out.
void run_ui() {
    ::SetProcessDPIAware();
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    const HCURSOR arrow = ::LoadCursorW(nullptr, IDC_ARROW);
    hand_cursor = ::LoadCursorW(nullptr, IDC_HAND);

    const GdiplusSession gdiplus;
    gdiplus_token = gdiplus.token();
    const Image image = decode_brand_image();
    brand_image = image.get();
    log_line(init_message(gdiplus_token, reinterpret_cast<std::intptr_t>(image.get())));

    taskbar_created_message = ::RegisterWindowMessageW(L"TaskbarCreated");
    register_class(instance, arrow, HIDDEN_CLASS, tray_window_proc);
    register_class(instance, arrow, POPUP_CLASS, popup_window_proc);
    register_class(instance, arrow, MENU_CLASS, menu_window_proc);
    const std::vector<wchar_t> title = to_wide<wchar_t>(WINDOW_TITLE);
    hidden_window = ::CreateWindowExW(0, HIDDEN_CLASS, title.data(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                      nullptr);
    popup_window = ::CreateWindowExW(CARD_EX_STYLE, POPUP_CLASS, title.data(), WS_POPUP, 0, 0, POPUP_WIDTH,
                                     POPUP_HEIGHT, nullptr, nullptr, instance, nullptr);
    menu_window = ::CreateWindowExW(CARD_EX_STYLE, MENU_CLASS, title.data(), WS_POPUP, 0, 0, MENU_WIDTH, MENU_HEIGHT,
                                    nullptr, nullptr, instance, nullptr);

    const IconHandle icon(load_notification_icon(instance));
    notification_icon = icon.get();
    add_notification_icon();
    ::SetTimer(hidden_window.load(), TRAY_TIMER_ID, TRAY_TIMER_PERIOD_MS, nullptr);

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }

    delete_notification_icon();
    brand_image = nullptr;
    gdiplus_token = 0;
}

}  // namespace
}  // namespace tray

void run_tray(std::shared_ptr<BridgeState> state) {
    std::call_once(tray::bridge_state_once, [&] { tray::bridge_state_slot = std::move(state); });
    tray::run_ui();
    platform::exit_process(0);
}

}  // namespace nerova
