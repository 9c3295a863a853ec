// The cards' windows: one record each with one show/hide pair and one window procedure.
// Everything here runs on the process's main thread.
#include "tray/card_controller_win.h"

#include <shellapi.h>
#include <shellscalingapi.h>
#include <windowsx.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "assets/assets.h"
#include "common/service.h"
#include "common/text.h"
#include "tray/accessibility_win.h"
#include "tray/autostart_win.h"
#include "tray/cards_win.h"
#include "tray/notify_icon_win.h"

namespace nerova::tray {
namespace {

constexpr DWORD CARD_EX_STYLE = WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
const wchar_t* const POPUP_CLASS = L"ORVAPopupCard";
const wchar_t* const MENU_CLASS = L"ORVAMenuCard";

// One card window and its state. Written only by this thread; atomic so that it may be read from
// anywhere.
struct Card {
    explicit Card(CardKind card_kind) : kind(card_kind) {}
    const CardKind kind;
    std::atomic<HWND> window{nullptr};
    std::atomic<bool> visible{false};
    std::atomic<std::uint64_t> shown_at{0};
    // The keyboard focus and the mouse's hot item, as screen-reader children (see CardFocus).
    std::atomic<int> focus{-1};
    std::atomic<int> hot{-1};
    // The pointer where the card last saw it, in screen pixels: a WM_MOUSEMOVE that Windows sends
    // when a window appears under a resting pointer must not choose a row.
    std::atomic<int> pointer_x{0};
    std::atomic<int> pointer_y{0};
    std::atomic<unsigned> dpi{BASE_DPI};
    // Where the card was opened for: the click, or the icon for the keyboard.
    std::atomic<int> anchor_x{0};
    std::atomic<int> anchor_y{0};
};

Card popup_card(CardKind::popup);
Card menu_card(CardKind::menu);
std::atomic<bool> drawing{false};  // while GDI+ is up
std::atomic<GpImage*> brand_image{nullptr};
std::atomic<HCURSOR> hand_cursor{nullptr};
std::atomic<bool> web_connected{false};
std::atomic<bool> autostart_on{false};
std::atomic<UINT> taskbar_created_message{0};

Card& card_for(CardKind kind) { return kind == CardKind::popup ? popup_card : menu_card; }

std::uint64_t now_ms() { return ::GetTickCount64(); }

Card& other_card(const Card& card) { return card.kind == CardKind::popup ? menu_card : popup_card; }

Card* card_of(HWND window) {
    if (window == nullptr) return nullptr;
    if (window == popup_card.window.load()) return &popup_card;
    if (window == menu_card.window.load()) return &menu_card;
    return nullptr;
}

WorkArea to_area(const RECT& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }

std::vector<Monitor> monitors() {
    std::vector<Monitor> found;
    const auto add = [](HMONITOR handle, HDC, LPRECT, LPARAM list) -> BOOL {
        MONITORINFO info;
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        if (!::GetMonitorInfoW(handle, &info)) return TRUE;
        UINT dpi_x = BASE_DPI;
        UINT dpi_y = BASE_DPI;
        if (FAILED(::GetDpiForMonitor(handle, MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y))) dpi_x = ::GetDpiForSystem();
        reinterpret_cast<std::vector<Monitor>*>(list)->push_back({to_area(info.rcMonitor), to_area(info.rcWork), dpi_x});
        return TRUE;
    };
    ::EnumDisplayMonitors(nullptr, nullptr, add, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The work area and DPI of the monitor that holds the anchor.
Monitor monitor_for(Point anchor) {
    const std::vector<Monitor> all = monitors();
    if (const Monitor* monitor = monitor_at(anchor, all)) return *monitor;
    RECT rect{};
    if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rect, 0)) {
        rect = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    }
    return {to_area(rect), to_area(rect), ::GetDpiForSystem()};
}

CardFocus focus_of(const Card& card) { return {card.focus, card.hot}; }

void render(Card& card) {
    const HWND window = card.window.load();
    if (window == nullptr || !card.visible || !drawing) return;
    const int marked = target_of_access_child(card.kind, marked_child(card.kind, focus_of(card)));
    const CardLook look{card.kind, marked, web_connected, autostart_on, brand_image.load(), current_card_colours()};
    render_card(window, look, card.dpi);
}

// What a screen reader is told about a card.
CardShown describe_card(HWND window) {
    const Card* card = card_of(window);
    if (card == nullptr) return {CardKind::popup, false, false, false, false, {-1, -1}, BASE_DPI};
    return {card->kind, card->visible, ::GetForegroundWindow() == window, web_connected, autostart_on,
            focus_of(*card), card->dpi};
}

// Moves the keyboard focus or the hot item, redraws what that changes and tells screen readers.
void change_focus(Card& card, CardFocus after) {
    const CardFocus before = focus_of(card);
    if (before == after) return;
    card.focus = after.focus;
    card.hot = after.hot;
    if (marked_child(card.kind, before) != marked_child(card.kind, after)) render(card);
    for (const AccessEvent& event : focus_events(card.kind, before, after)) notify_card_event(event, card.window);
}

void refocus_card(HWND window, CardFocus focus) {
    if (Card* card = card_of(window)) change_focus(*card, focus);
}

// Whether the pointer is elsewhere than when the card last saw it; remembers where it is.
bool pointer_moved_to(Card& card, POINT screen) {
    const bool moved = screen.x != card.pointer_x || screen.y != card.pointer_y;
    card.pointer_x = screen.x;
    card.pointer_y = screen.y;
    return moved;
}

// Sizes the card for the DPI of the monitor under the icon and puts it there.
void place(Card& card, UINT flags) {
    const CardPlace where = card_place(card.kind, {card.anchor_x, card.anchor_y});
    // Set first: moving the window onto another monitor sends WM_DPICHANGED from inside SetWindowPos.
    card.dpi = where.dpi;
    const Size size = card_size(card.kind, where.dpi);
    ::SetWindowPos(card.window.load(), HWND_TOPMOST, where.at.x, where.at.y, size.width, size.height, flags);
}

void hide(Card& card) {
    const HWND window = card.window.load();
    if (window != nullptr) ::ShowWindow(window, SW_HIDE);
    if (card.visible.exchange(false) && card.kind == CardKind::menu) {
        notify_card_event(EVENT_SYSTEM_MENUPOPUPEND, window, -1);
    }
    card.focus = -1;
    card.hot = -1;
}

void show(Card& card, Point anchor) {
    const HWND window = card.window.load();
    if (window == nullptr) {
        hide(other_card(card));
        return;
    }
    if (card.kind == CardKind::menu) autostart_on = is_autostart_enabled();
    const CardFocus opening = opening_focus(card.kind);
    card.focus = opening.focus;
    card.hot = opening.hot;
    POINT pointer{};
    ::GetCursorPos(&pointer);
    pointer_moved_to(card, pointer);
    card.anchor_x = anchor.x;
    card.anchor_y = anchor.y;
    // Drawn while still hidden, then shown: showing first flashes the bitmap of its last opening.
    place(card, SWP_NOACTIVATE);
    card.visible = true;
    card.shown_at = now_ms();
    render(card);
    ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    ::SetForegroundWindow(window);
    // The other card goes only once this one holds the foreground: hiding the window that holds
    // it first hands it to the desktop for a moment, and a late focus event (Wine's X11 driver
    // sends them) can leave it there, so the tick would close this card as left.
    hide(other_card(card));
    // After the window's own focus: a reader then announces the card and the focused status line.
    if (card.kind == CardKind::menu) {
        notify_card_event(EVENT_SYSTEM_MENUPOPUPSTART, window, -1);
    } else {
        notify_card_event(EVENT_OBJECT_FOCUS, window, opening.focus);
    }
}

void open_url(std::string_view url) {
    ::ShellExecuteW(nullptr, L"open", text::to_wide<wchar_t>(url).data(), nullptr, nullptr, SW_SHOW);
}

void run_menu_row(int row) {
    switch (row) {
        case 0:
            open_url(service_url("/ui"));
            break;
        case 1:
            open_url(assets::main_site_url());
            break;
        case 2:
            toggle_autostart();
            break;
        case 3:
            quit_program();
            break;
        default:
            break;
    }
}

Point client_cursor(HWND window) {
    POINT cursor{};
    ::GetCursorPos(&cursor);
    ::ScreenToClient(window, &cursor);
    return {cursor.x, cursor.y};
}

void track_mouse_leave(HWND window) {
    TRACKMOUSEEVENT request{sizeof(TRACKMOUSEEVENT), TME_LEAVE, window, 0};
    ::TrackMouseEvent(&request);
}

// A card closes at a tick once another window holds the foreground and the grace time is over.
void close_if_left(Card& card) {
    if (!card.visible || !foreground_grace_over(now_ms(), card.shown_at)) return;
    const HWND foreground = ::GetForegroundWindow();
    if (foreground != nullptr && foreground != card.window.load()) hide(card);
}

void on_key(Card& card, WPARAM key) {
    const KeyOutcome outcome = card_key(card.kind, card.focus, static_cast<unsigned>(key));
    switch (outcome.effect) {
        case KeyEffect::close:
            hide(card);
            focus_notify_icon();
            break;
        case KeyEffect::move:
            change_focus(card, {outcome.target, card.hot});
            break;
        case KeyEffect::press:
            if (card.kind == CardKind::popup) {
                quit_program();
                break;
            }
            hide(card);
            focus_notify_icon();
            run_menu_row(target_of_access_child(card.kind, outcome.target));
            break;
        case KeyEffect::none:
            break;
    }
}

// A click inside a card: the popup's quit button quits; anywhere on the menu closes it first, so a
// slow action (a browser starting) never leaves it on screen, then runs the row.
void on_click(Card& card, int target) {
    if (card.kind == CardKind::popup) {
        if (target == 0) quit_program();
        return;
    }
    hide(card);
    run_menu_row(target);
}

LRESULT CALLBACK card_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Card* const card = card_of(window);
    if (card == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            ::BeginPaint(window, &paint);
            ::EndPaint(window, &paint);
            render(*card);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_GETOBJECT:
            if (const auto answer = answer_get_object(window, wparam, lparam, {describe_card, refocus_card})) {
                return *answer;
            }
            return ::DefWindowProcW(window, message, wparam, lparam);
        case ACCESS_ACTION_MESSAGE:
            if (card->visible) on_click(*card, target_of_access_child(card->kind, static_cast<int>(wparam)));
            return 0;
        case WM_SETTINGCHANGE:
        case WM_SYSCOLORCHANGE:
        case WM_THEMECHANGED:
            // A contrast theme turned on or off, or its colours changed.
            render(*card);
            return ::DefWindowProcW(window, message, wparam, lparam);
        case WM_KEYDOWN:
            on_key(*card, wparam);
            return 0;
        case WM_MOUSEMOVE: {
            const int target = card_target_at(card->kind, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam), card->dpi);
            if (target >= 0) ::SetCursor(hand_cursor.load());
            POINT screen{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
            ::ClientToScreen(window, &screen);
            if (pointer_moved_to(*card, screen)) {
                const int child = access_child_of_target(card->kind, target);
                change_focus(*card, pointer_moved(card->kind, focus_of(*card), child));
                track_mouse_leave(window);
            }
            return 0;
        }
        case WM_LBUTTONUP:
            on_click(*card, card_target_at(card->kind, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam), card->dpi));
            return 0;
        case WM_MOUSELEAVE:
            change_focus(*card, pointer_moved(card->kind, focus_of(*card), -1));
            return 0;
        case WM_SYSCOMMAND:
            // Alt+F4 on the focused card would destroy it for good; only hide it.
            if ((wparam & 0xFFF0) != SC_CLOSE) return ::DefWindowProcW(window, message, wparam, lparam);
            hide(*card);
            return 0;
        case WM_CLOSE:
            // From outside: Restart Manager closes a program that did not end at WM_ENDSESSION.
            quit_program();
            return 0;
        case WM_QUERYENDSESSION:
            // Never stands in the way of a log-off, shutdown or update.
            return TRUE;
        case WM_ENDSESSION:
            // The process may be ended any time after this returns: the icon goes now.
            if (wparam != FALSE) quit_program();
            return 0;
        case WM_SETCURSOR: {
            // Answered, or the class's arrow replaces the hand on every move.
            const Point at = client_cursor(window);
            if (LOWORD(lparam) == HTCLIENT && card_target_at(card->kind, at.x, at.y, card->dpi) >= 0) {
                ::SetCursor(hand_cursor.load());
                return TRUE;
            }
            return ::DefWindowProcW(window, message, wparam, lparam);
        }
        case WM_DPICHANGED:
            // The monitor's scaling changed under the card, or it was moved to another monitor. The
            // card places itself, so the suggested rectangle is not taken.
            if (LOWORD(wparam) != card->dpi) {
                if (card->visible) {
                    place(*card, SWP_NOACTIVATE);
                } else {
                    card->dpi = LOWORD(wparam);
                }
                render(*card);
            }
            match_notify_icon_to_dpi();
            return 0;
        default:
            // TaskbarCreated is broadcast to both cards: the popup alone adds the icon again.
            if (message != 0 && message == taskbar_created_message.load()) {
                if (card->kind == CardKind::popup) {
                    match_notify_icon_to_dpi();
                    add_notify_icon();
                }
                return 0;
            }
            return ::DefWindowProcW(window, message, wparam, lparam);
    }
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

void create_card(Card& card, HINSTANCE instance, const wchar_t* class_name, const wchar_t* title) {
    const Size size = card_size(card.kind, BASE_DPI);
    card.window = ::CreateWindowExW(CARD_EX_STYLE, class_name, title, WS_POPUP, 0, 0, size.width, size.height,
                                    nullptr, nullptr, instance, nullptr);
    if (card.window.load() != nullptr) card.dpi = ::GetDpiForWindow(card.window.load());
}

}  // namespace

CardPlace card_place(CardKind kind, Point anchor) {
    const Rect icon = anchor_rect(anchor, notify_icon_rect());
    const Monitor monitor = monitor_for(centre_of(icon));
    const WorkArea area = clear_of_auto_hide_bars(monitor.work, monitor.bounds);
    return {place_card(kind, icon, area, monitor.dpi), monitor.dpi};
}

void create_cards(HINSTANCE instance, HCURSOR arrow, const wchar_t* title) {
    hand_cursor = ::LoadCursorW(nullptr, IDC_HAND);
    // Broadcast to top-level windows only, so the cards hear it and not the message-only host.
    taskbar_created_message = ::RegisterWindowMessageW(L"TaskbarCreated");
    register_class(instance, arrow, POPUP_CLASS, card_window_proc);
    register_class(instance, arrow, MENU_CLASS, card_window_proc);
    create_card(popup_card, instance, POPUP_CLASS, title);
    create_card(menu_card, instance, MENU_CLASS, title);
}

void start_drawing_cards(GpImage* logo) {
    brand_image = logo;
    drawing = true;
}

void stop_drawing_cards() {
    drawing = false;
    brand_image = nullptr;
}

void show_card(CardKind kind, Point anchor) { show(card_for(kind), anchor); }
void hide_card(CardKind kind) { hide(card_for(kind)); }
bool card_shown(CardKind kind) { return card_for(kind).visible; }

void close_cards_left() {
    close_if_left(popup_card);
    close_if_left(menu_card);
}

void set_page_connected(bool connected) {
    if (web_connected.exchange(connected) == connected) return;
    render(popup_card);
    if (popup_card.visible) {
        notify_card_event(EVENT_OBJECT_NAMECHANGE, popup_card.window, 0);
        notify_card_event(EVENT_OBJECT_DESCRIPTIONCHANGE, popup_card.window, 0);
    }
}

void quit_program() {
    hide(menu_card);
    hide(popup_card);
    delete_notify_icon();
    ::PostQuitMessage(0);
}

}  // namespace nerova::tray
