// The Windows tray's host: the message-only window with its 250 ms timer, the icon's events and
// the message loop; the cards themselves are the card controller's. Everything here runs on the
// process's main thread.
#include "tray/tray.h"

#include <windows.h>
#include <shlwapi.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "assets/assets.h"
#include "common/text.h"
#include "platform/system.h"
#include "tray/accessibility_win.h"
#include "tray/card_access.h"
#include "tray/card_controller_win.h"
#include "tray/handles_win.h"
#include "tray/log_format.h"
#include "tray/log_win.h"
#include "tray/notify_icon_win.h"
#include "tray/tray_rules.h"
#include "tray/tray_win.h"

namespace nerova {
namespace tray {
namespace {

constexpr UINT_PTR TRAY_TIMER_ID = 1;
constexpr UINT TRAY_TIMER_PERIOD_MS = 250;
const wchar_t* const HIDDEN_CLASS = L"ORVATrayHidden";
// Posted to the host window by a second start of the program: open the status card.
const wchar_t* const SHOW_STATUS_CARD_MESSAGE = L"NerovaBridge.ShowStatusCard";
// How long a second start waits for the running copy's window. The copy binds the port first and
// makes the window after COM, GDI+, the log and the logo: under Wine 0.1 to 0.2 s, up to 2 s on a
// heavily loaded machine, as at a busy sign-in. Only a start that finds no copy waits it out.
constexpr ULONGLONG RUNNING_COPY_WAIT_MS = 5000;
constexpr DWORD RUNNING_COPY_POLL_MS = 50;

std::once_flag bridge_state_once;
std::shared_ptr<BridgeState> bridge_state_slot;
std::atomic<HWND> hidden_window{nullptr};
std::atomic<std::uint32_t> timer_ticks{0};
std::atomic<UINT> show_status_card_message{0};
std::atomic<PostMessageFn> post_message{&::PostMessageW};
IconClicks icon_clicks;

Point cursor_position() {
    POINT cursor{};
    ::GetCursorPos(&cursor);
    return {cursor.x, cursor.y};
}

void on_tick() {
    const std::uint32_t before = timer_ticks.fetch_add(1);
    if (!notify_icon_present()) add_notify_icon();
    close_cards_left();
    if (!is_sample_tick(before)) return;

    resend_notify_tip();
    set_page_connected(bridge_state_slot != nullptr && web_page_connected(*bridge_state_slot));
}

// Version-4 events: a mouse click ends in NIN_SELECT, Enter or Space on the selected icon in
// NIN_KEYSELECT, and a right click, Shift+F10 or the menu key in WM_CONTEXTMENU, each with the
// point to open at (the click, or the icon for the keyboard). The rules drop the repeats the shell
// sends for a double-click and for Enter.
void on_icon_event(WPARAM wparam, LPARAM lparam) {
    const IconEvent icon = decode_icon_event(wparam, lparam);
    const bool popup_shown = card_shown(CardKind::popup);
    switch (icon_action(icon_clicks, icon.event, popup_shown, ::GetTickCount64(), ::GetDoubleClickTime())) {
        case IconAction::open_popup:
            show_card(CardKind::popup, icon.anchor);
            break;
        case IconAction::close_popup:
            hide_card(CardKind::popup);
            break;
        case IconAction::open_menu:
            show_card(CardKind::menu, icon.anchor);
            break;
        case IconAction::none:
            break;
    }
}

LRESULT CALLBACK tray_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        case WM_CLOSE:
            // The way to end the program from outside (an installer, say): the quit button's path.
            quit_program();
            return 0;
        case WM_TIMER:
            on_tick();
            return 0;
        case TRAY_CALLBACK_MESSAGE:
            on_icon_event(wparam, lparam);
            return 0;
        default:
            if (message != 0 && message == show_status_card_message.load()) {
                const std::optional<Rect> icon = notify_icon_rect();
                show_card(CardKind::popup, icon ? centre_of(*icon) : cursor_position());
                return 0;
            }
            return ::DefWindowProcW(window, message, wparam, lparam);
    }
}

Image decode_brand_image() {
    // The 256 px PNG, scaled down when drawn; decoding the ICO may give its 16 px frame.
    const std::string_view png = assets::icon_png();
    const StreamHandle stream(
        ::SHCreateMemStream(reinterpret_cast<const BYTE*>(png.data()), static_cast<UINT>(png.size())));
    if (!stream) return Image();
    GpImage* made = nullptr;
    const Gdiplus::GpStatus status = gp::GdipLoadImageFromStream(stream.get(), &made);
    Image image(made);  // owned before anything is asked of it, so every way out releases it
    if (status != Gdiplus::Ok) image.reset();
    return image;
}

// Start-up through the message loop; returns when the loop ends, releasing the icon, the brand
// image and GDI+ in that order on the way out. Per-monitor DPI awareness comes from the manifest.
void run_ui() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    const ComApartment com;

    const GdiplusSession gdiplus;
    log_line(gdiplus_startup_message(static_cast<int>(gdiplus.status()), gdiplus.returned_token(),
                                     GdiplusSession::INPUT_SIZE, gdiplus.last_error()));
    const Image image = decode_brand_image();
    log_line(init_message(gdiplus.token(), reinterpret_cast<std::intptr_t>(image.get())));

    show_status_card_message = ::RegisterWindowMessageW(SHOW_STATUS_CARD_MESSAGE);
    WNDCLASSW host_class;
    std::memset(&host_class, 0, sizeof host_class);
    host_class.lpfnWndProc = tray_window_proc;
    host_class.hInstance = instance;
    host_class.lpszClassName = HIDDEN_CLASS;
    ::RegisterClassW(&host_class);
    const std::vector<wchar_t> title = text::to_wide<wchar_t>(CARD_TITLE);
    hidden_window = ::CreateWindowExW(0, HIDDEN_CLASS, title.data(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                      nullptr);
    create_cards(instance, ::LoadCursorW(nullptr, IDC_ARROW), title.data());
    if (gdiplus.token() != 0) start_drawing_cards(image.get());

    init_notify_icon(hidden_window, instance);
    add_notify_icon();
    ::SetTimer(hidden_window.load(), TRAY_TIMER_ID, TRAY_TIMER_PERIOD_MS, nullptr);

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }

    delete_notify_icon();
    stop_drawing_cards();
}

}  // namespace
}  // namespace tray

void run_tray(std::shared_ptr<BridgeState> state, std::optional<LogPlace> log) {
    std::call_once(tray::bridge_state_once, [&] { tray::bridge_state_slot = std::move(state); });
    tray::set_log_place(std::move(log));
    tray::run_ui();
    platform::exit_process(0);
}

namespace tray {

void set_post_message(PostMessageFn post) { post_message = post != nullptr ? post : &::PostMessageW; }

}  // namespace tray

RunningCopy show_running_copy() {
    const UINT message = ::RegisterWindowMessageW(tray::SHOW_STATUS_CARD_MESSAGE);
    const ULONGLONG deadline = ::GetTickCount64() + tray::RUNNING_COPY_WAIT_MS;
    while (true) {
        if (const HWND host = ::FindWindowExW(HWND_MESSAGE, nullptr, tray::HIDDEN_CLASS, nullptr)) {
            // This start came from the user, so it may hand the foreground on to the card it asks for.
            DWORD process = 0;
            ::GetWindowThreadProcessId(host, &process);
            ::AllowSetForegroundWindow(process);
            if (tray::post_message.load()(host, message, 0, 0)) return RunningCopy::shown;
            // UIPI keeps a process's messages from one of higher integrity: that copy runs elevated.
            if (::GetLastError() == ERROR_ACCESS_DENIED) return RunningCopy::elevated;
            // Else the window went as it was asked (that copy is ending); another may be starting.
        }
        if (::GetTickCount64() >= deadline) return RunningCopy::absent;
        ::Sleep(tray::RUNNING_COPY_POLL_MS);
    }
}

}  // namespace nerova
