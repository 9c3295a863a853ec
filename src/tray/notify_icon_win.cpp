#include "tray/notify_icon_win.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shellscalingapi.h>
#include <windowsx.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "assets/assets.h"
#include "common/text.h"
#include "platform/system.h"
#include "tray/card_access.h"
#include "tray/handles_win.h"

namespace nerova::tray {
namespace {

constexpr std::string_view FALLBACK_ICON_FILE = "orva-network-helper-brand.ico";

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the full current NOTIFYICONDATAW");
static_assert(TRAY_CALLBACK_MESSAGE == 1025, "the icon's callback message");
static_assert(static_cast<UINT>(Edge::left) == ABE_LEFT && static_cast<UINT>(Edge::top) == ABE_TOP &&
                  static_cast<UINT>(Edge::right) == ABE_RIGHT && static_cast<UINT>(Edge::bottom) == ABE_BOTTOM,
              "the rules' edges are the shell's");
static_assert(ICON_LEFT_DOWN == WM_LBUTTONDOWN && ICON_LEFT_DOUBLE == WM_LBUTTONDBLCLK &&
                  ICON_CONTEXT_MENU == WM_CONTEXTMENU && ICON_SELECT == NIN_SELECT && ICON_KEY_SELECT == NIN_KEYSELECT,
              "the rules' events are the shell's");
// With version 4 the shell hides the standard tooltip unless every record with a tip asks for it.
constexpr UINT TIP_FLAGS = NIF_TIP | NIF_SHOWTIP;

// Written only by the UI thread.
std::atomic<HWND> host_window{nullptr};
std::atomic<HINSTANCE> module_instance{nullptr};
std::atomic<bool> icon_present{false};
std::atomic<int> icon_size{0};
IconHandle icon_image;
std::atomic<ShellNotifyFn> shell_notify{&::Shell_NotifyIconW};
std::atomic<ShellIconRectFn> shell_icon_rect{&::Shell_NotifyIconGetRect};
std::atomic<ShellAppBarFn> shell_app_bar{&::SHAppBarMessage};

// Zero-filled, sized for the current shell, naming our icon.
NOTIFYICONDATAW icon_record(UINT flags) {
    NOTIFYICONDATAW data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = host_window.load();
    data.uID = TRAY_ICON_ID;
    data.uFlags = flags;
    if ((flags & NIF_TIP) != 0) {
        const std::vector<wchar_t> tip = text::to_wide<wchar_t>(CARD_TITLE);
        const std::size_t units = std::min(tip.size() - 1, std::size(data.szTip) - 1);
        std::copy(tip.begin(), tip.begin() + static_cast<std::ptrdiff_t>(units), data.szTip);
        data.szTip[units] = L'\0';
    }
    if ((flags & NIF_ICON) != 0) data.hIcon = icon_image.get();
    return data;
}

// The small-icon size at the DPI of the primary monitor: 16 px at 96 DPI, 20 at 120, 28 at 168.
int small_icon_size() {
    const HMONITOR primary = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    UINT dpi_x = BASE_DPI;
    UINT dpi_y = BASE_DPI;
    if (primary == nullptr || FAILED(::GetDpiForMonitor(primary, MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y))) {
        dpi_x = ::GetDpiForSystem();
    }
    return ::GetSystemMetricsForDpi(SM_CXSMICON, dpi_x);
}

// At 125 % and 175 % the small icon is 20 and 28 px, which the icon does not hold: the next larger
// frame scaled down stays sharp where LoadImageW would blow up the 16 px one. LoadIconWithScaleDown
// lives in the common controls of version 6, which the manifest asks for; it is looked up so that a
// program without that manifest still starts. The library is loaded once and stays for the life of
// the process, as the common controls do in any program that shows them.
using LoadIconWithScaleDownFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
LoadIconWithScaleDownFn icon_scale_down() {
    static const LoadIconWithScaleDownFn found = [] {
        const HMODULE controls = ::LoadLibraryW(L"comctl32.dll");
        const FARPROC address = controls != nullptr ? ::GetProcAddress(controls, "LoadIconWithScaleDown") : nullptr;
        return reinterpret_cast<LoadIconWithScaleDownFn>(reinterpret_cast<void (*)()>(address));
    }();
    return found;
}

HICON load_icon(HINSTANCE instance, int size) {
    const LoadIconWithScaleDownFn scale_down = icon_scale_down();
    HICON icon = nullptr;
    if (scale_down == nullptr || FAILED(scale_down(instance, MAKEINTRESOURCEW(1), size, size, &icon))) {
        icon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
    }
    if (icon != nullptr) return icon;
    // GetTempPath names a fully qualified folder, or fails: then there is no file rather than one in
    // whatever the working folder is.
    const std::string folder = platform::temp_directory();
    if (folder.empty()) return nullptr;
    const std::string path = platform::join_path(folder, std::string(FALLBACK_ICON_FILE));
    // Written beside and renamed into place, so the file is never half an icon; one that is not
    // exactly ours (missing, or torn by an older program's write) is replaced.
    const std::string_view ico = assets::brand_ico();
    const std::optional<std::string> held = platform::read_private_file(path, ico.size());
    if (!held || *held != ico) platform::replace_private_file(path, ico);
    return static_cast<HICON>(
        ::LoadImageW(nullptr, text::to_wide<wchar_t>(path).data(), IMAGE_ICON, size, size, LR_LOADFROMFILE));
}

}  // namespace

void init_notify_icon(HWND host, HINSTANCE instance) {
    host_window = host;
    module_instance = instance;
    icon_size = small_icon_size();
    icon_image = IconHandle(load_icon(instance, icon_size));
}

void set_shell_notify(ShellNotifyFn notify) { shell_notify = notify != nullptr ? notify : &::Shell_NotifyIconW; }

void set_shell_placement(ShellIconRectFn icon_rect, ShellAppBarFn app_bar) {
    shell_icon_rect = icon_rect != nullptr ? icon_rect : &::Shell_NotifyIconGetRect;
    shell_app_bar = app_bar != nullptr ? app_bar : &::SHAppBarMessage;
}

bool notify_icon_present() { return icon_present; }

void add_notify_icon() {
    NOTIFYICONDATAW data = icon_record(NIF_MESSAGE | NIF_ICON | TIP_FLAGS);
    data.uCallbackMessage = TRAY_CALLBACK_MESSAGE;
    bool present = shell_notify.load()(NIM_ADD, &data) != FALSE;
    // A failed add of an icon the shell already holds is no missing icon: a modify tells which.
    if (!present) present = shell_notify.load()(NIM_MODIFY, &data) != FALSE;
    if (present) {
        data.uVersion = NOTIFYICON_VERSION_4;
        shell_notify.load()(NIM_SETVERSION, &data);
    }
    icon_present = present;
}

void resend_notify_tip() {
    NOTIFYICONDATAW data = icon_record(TIP_FLAGS);
    shell_notify.load()(NIM_MODIFY, &data);
}

void match_notify_icon_to_dpi() {
    const int size = small_icon_size();
    if (size == icon_size) return;
    IconHandle fresh(load_icon(module_instance, size));
    if (!fresh) return;
    icon_size = size;
    icon_image = std::move(fresh);
    NOTIFYICONDATAW data = icon_record(NIF_ICON);
    shell_notify.load()(NIM_MODIFY, &data);
}

void focus_notify_icon() {
    NOTIFYICONDATAW data = icon_record(0);
    shell_notify.load()(NIM_SETFOCUS, &data);
}

void delete_notify_icon() {
    NOTIFYICONDATAW data = icon_record(0);
    shell_notify.load()(NIM_DELETE, &data);
    icon_present = false;
    icon_image.reset();
}

IconEvent decode_icon_event(WPARAM wparam, LPARAM lparam) {
    return {LOWORD(static_cast<DWORD_PTR>(lparam)),
            {GET_X_LPARAM(static_cast<LPARAM>(wparam)), GET_Y_LPARAM(static_cast<LPARAM>(wparam))}};
}

std::optional<Rect> notify_icon_rect() {
    NOTIFYICONIDENTIFIER identifier;
    std::memset(&identifier, 0, sizeof identifier);  // guidItem GUID_NULL: the icon is hWnd and uID
    identifier.cbSize = sizeof identifier;
    identifier.hWnd = host_window.load();
    identifier.uID = TRAY_ICON_ID;
    RECT rect{};
    if (FAILED(shell_icon_rect.load()(&identifier, &rect))) return std::nullopt;
    return Rect{rect.left, rect.top, rect.right, rect.bottom};
}

WorkArea clear_of_auto_hide_bars(WorkArea work, Rect monitor) {
    for (const Edge edge : {Edge::left, Edge::top, Edge::right, Edge::bottom}) {
        APPBARDATA query;
        std::memset(&query, 0, sizeof query);
        query.cbSize = sizeof query;
        query.uEdge = static_cast<UINT>(edge);
        query.rc = RECT{monitor.left, monitor.top, monitor.right, monitor.bottom};
        const HWND bar = reinterpret_cast<HWND>(shell_app_bar.load()(ABM_GETAUTOHIDEBAREX, &query));
        RECT rect{};
        if (bar != nullptr && ::GetWindowRect(bar, &rect)) {
            work = clear_of_bar(work, monitor, edge, Rect{rect.left, rect.top, rect.right, rect.bottom});
        }
    }
    return work;
}

}  // namespace nerova::tray
