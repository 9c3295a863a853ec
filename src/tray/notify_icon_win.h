// The notification icon: added with version 4, so the keyboard can select it and every event
// carries the icon's anchor point; re-added after Explorer restarts; sized for the DPI of the
// primary monitor, where the notification area is. Also where the shell puts it and its bars.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <optional>

#include "tray/tray_rules.h"

namespace nerova::tray {

constexpr UINT TRAY_CALLBACK_MESSAGE = WM_USER + 1;
constexpr UINT TRAY_ICON_ID = 1;

// The shell's Shell_NotifyIconW; a test hands in a double of the shell (null puts the shell back).
using ShellNotifyFn = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAW);
void set_shell_notify(ShellNotifyFn notify);
// The same for Shell_NotifyIconGetRect and SHAppBarMessage, which tell where cards may open.
using ShellIconRectFn = HRESULT(WINAPI*)(const NOTIFYICONIDENTIFIER*, RECT*);
using ShellAppBarFn = UINT_PTR(WINAPI*)(DWORD, PAPPBARDATA);
void set_shell_placement(ShellIconRectFn icon_rect, ShellAppBarFn app_bar);

// Loads the icon for `host`'s notification record; call once before adding.
void init_notify_icon(HWND host, HINSTANCE instance);

bool notify_icon_present();
// NIM_ADD, then NIM_SETVERSION 4 (which every add needs). An add that fails because the icon is
// already there counts as present.
void add_notify_icon();
void resend_notify_tip();
// Loads the icon again when the small-icon size of the primary monitor's DPI has changed.
void match_notify_icon_to_dpi();
// Gives the keyboard focus back to the notification area once a card closes from the keyboard.
void focus_notify_icon();
// Removes the icon and releases its image.
void delete_notify_icon();

// A version-4 callback: the event in the low word of lParam, the anchor point in wParam.
struct IconEvent {
    UINT event;
    Point anchor;
};
IconEvent decode_icon_event(WPARAM wparam, LPARAM lparam);

// The icon's rectangle on the screen, when the shell tells.
std::optional<Rect> notify_icon_rect();
// The monitor's work area without the bands its auto-hide bars take when they show.
WorkArea clear_of_auto_hide_bars(WorkArea work, Rect monitor);

}  // namespace nerova::tray
