// The notification icon against a double of the shell as strict as the documented one: every
// Shell_NotifyIconW call is recorded (message, flags, version, tip); an add fails while the icon is
// there or the notification area is not ready, a modify or version of a missing icon fails, and a
// version-4 icon shows the standard tooltip only while its tip was last sent with NIF_SHOWTIP. Also
// the cards' place against the icon's rectangle and an auto-hide bar, the icon's fallback file, and a
// second start against UIPI.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "assets/assets.h"
#include "common/text.h"
#include "platform/system.h"
#include "tray/card_controller_win.h"
#include "tray/notify_icon_win.h"
#include "tray/tray.h"
#include "tray/tray_win.h"

using namespace nerova::tray;

namespace {

struct ShellCall {
    DWORD message;
    UINT flags;
    UINT version;
    std::wstring tip;
};

struct StrictShell {
    HWND host = nullptr;
    bool ready = true;
    bool present = false;
    UINT version = 0;
    bool show_tip = false;
    std::wstring tip;
    std::vector<ShellCall> calls;

    bool tooltip_shown() const { return present && !tip.empty() && (version < NOTIFYICON_VERSION_4 || show_tip); }
};

StrictShell shell;

BOOL WINAPI shell_double(DWORD message, PNOTIFYICONDATAW data) {
    shell.calls.push_back({message, data->uFlags, data->uVersion, (data->uFlags & NIF_TIP) ? data->szTip : L""});
    if (data->cbSize != sizeof(NOTIFYICONDATAW) || data->hWnd != shell.host || data->uID != TRAY_ICON_ID) return FALSE;
    switch (message) {
        case NIM_ADD:
            if (!shell.ready || shell.present) return FALSE;
            shell.present = true;
            shell.version = 0;
            break;
        case NIM_MODIFY:
            if (!shell.present) return FALSE;
            break;
        case NIM_SETVERSION:
            if (!shell.present || data->uVersion != NOTIFYICON_VERSION_4) return FALSE;
            shell.version = data->uVersion;
            return TRUE;
        case NIM_DELETE:
            if (!shell.present) return FALSE;
            shell.present = false;
            return TRUE;
        default:
            return shell.present;
    }
    if ((data->uFlags & NIF_TIP) != 0) {
        shell.tip = data->szTip;
        shell.show_tip = (data->uFlags & NIF_SHOWTIP) != 0;
    }
    return TRUE;
}

const std::wstring TITLE = nerova::text::to_wide<wchar_t>("Nerova桥").data();

// Shell_NotifyIconGetRect: the icon named by hWnd and uID with guidItem GUID_NULL (a GUID would
// override them). ABM_GETAUTOHIDEBAREX with cbSize, uEdge and a monitor: here one bar, at the bottom.
RECT icon_at{};
RECT bar_monitor{};
HWND bottom_bar = nullptr;
HRESULT WINAPI icon_rect_double(const NOTIFYICONIDENTIFIER* id, RECT* rect) {
    const bool ours =
        id->cbSize == sizeof *id && id->hWnd == shell.host && id->uID == TRAY_ICON_ID && id->guidItem == GUID{};
    *rect = icon_at;
    return ours && shell.present ? S_OK : E_FAIL;
}
UINT_PTR WINAPI app_bar_double(DWORD message, PAPPBARDATA data) {
    const bool ours = message == ABM_GETAUTOHIDEBAREX && data->cbSize == sizeof *data && data->uEdge == ABE_BOTTOM &&
                      ::EqualRect(&data->rc, &bar_monitor);
    return ours ? reinterpret_cast<UINT_PTR>(bottom_bar) : 0;
}

// PostMessageW refusing as a window that went meanwhile does, then as UIPI refuses a process of
// higher integrity.
int posts = 0;
BOOL WINAPI refusing_post(HWND, UINT, WPARAM, LPARAM) {
    ::SetLastError(posts++ == 0 ? ERROR_INVALID_WINDOW_HANDLE : ERROR_ACCESS_DENIED);
    return FALSE;
}

class NotifyIconShell : public testing::Test {
protected:
    void SetUp() override {
        host_ = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_NE(host_, nullptr);
        shell = StrictShell();
        shell.host = host_;
        set_shell_notify(&shell_double);
        init_notify_icon(host_, ::GetModuleHandleW(nullptr));
    }
    void TearDown() override {
        delete_notify_icon();
        set_shell_notify(nullptr);
        ::DestroyWindow(host_);
    }
    HWND host_ = nullptr;
};

}  // namespace

TEST_F(NotifyIconShell, AddsWithItsTipShownThenSetsVersion4) {
    add_notify_icon();
    ASSERT_GE(shell.calls.size(), 2u);
    EXPECT_EQ(shell.calls[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(shell.calls[0].flags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP));
    EXPECT_EQ(shell.calls[0].tip, TITLE);
    EXPECT_EQ(shell.calls[1].message, static_cast<DWORD>(NIM_SETVERSION));
    EXPECT_EQ(shell.calls[1].version, static_cast<UINT>(NOTIFYICON_VERSION_4));
    EXPECT_TRUE(notify_icon_present());
    EXPECT_TRUE(shell.tooltip_shown()) << "hovering the version-4 icon shows its tooltip";
}

TEST_F(NotifyIconShell, EveryResentTipKeepsTheTooltip) {
    add_notify_icon();
    for (int i = 0; i < 3; ++i) resend_notify_tip();
    const ShellCall& last = shell.calls.back();
    EXPECT_EQ(last.message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(last.flags, static_cast<UINT>(NIF_TIP | NIF_SHOWTIP));
    EXPECT_EQ(last.tip, TITLE);
    EXPECT_TRUE(shell.tooltip_shown());
}

TEST_F(NotifyIconShell, AnAddTheShellRefusesIsRetriedAndAnIconAlreadyThereCounts) {
    shell.ready = false;
    add_notify_icon();
    EXPECT_FALSE(notify_icon_present()) << "the tick adds it again";
    shell.ready = true;
    add_notify_icon();
    EXPECT_TRUE(notify_icon_present());
    // Explorer kept the icon through its restart: the add fails, a modify finds it, version 4 again.
    shell.calls.clear();
    add_notify_icon();
    ASSERT_EQ(shell.calls.size(), 3u);
    EXPECT_EQ(shell.calls[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(shell.calls[1].flags & NIF_SHOWTIP, static_cast<UINT>(NIF_SHOWTIP));
    EXPECT_EQ(shell.calls[2].message, static_cast<DWORD>(NIM_SETVERSION));
    EXPECT_TRUE(notify_icon_present());
    EXPECT_TRUE(shell.tooltip_shown());
}

TEST_F(NotifyIconShell, DeleteRemovesTheIcon) {
    add_notify_icon();
    delete_notify_icon();
    EXPECT_FALSE(shell.present);
    EXPECT_FALSE(notify_icon_present());
}

TEST_F(NotifyIconShell, CardsOpenByTheIconsRectangleAboveAnAutoHideBar) {
    add_notify_icon();
    MONITORINFO monitor{sizeof(MONITORINFO), {}, {}, 0};
    ::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& screen = bar_monitor = monitor.rcMonitor;
    // Message-only (no desktop window can be made here), with the bar's rectangle all the same.
    bottom_bar = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, screen.bottom - 40, screen.right, 40, HWND_MESSAGE,
                                   nullptr, nullptr, nullptr);
    icon_at = {screen.right - 324, screen.bottom - 32, screen.right - 300, screen.bottom - 8};
    set_shell_placement(&icon_rect_double, &app_bar_double);
    // Enter, anchored at the icon's corner: centred on the icon, above the bar.
    const Point at = card_place(CardKind::popup, {icon_at.left, icon_at.top}).at;
    EXPECT_EQ(at.x, screen.right - 312 - 138);
    EXPECT_EQ(at.y, screen.bottom - 40 - 174);
    set_shell_placement(nullptr, nullptr);
    ::DestroyWindow(bottom_bar);
}

TEST_F(NotifyIconShell, TheFallbackIconFileIsWrittenWholeOrNotAtAll) {
    // This program has no icon resource: the icon comes from the file in the temporary folder.
    namespace platform = nerova::platform;
    const std::string folder = platform::join_path(platform::temp_directory(), "nerova-icon-test");
    const std::string file = platform::join_path(folder, "orva-network-helper-brand.ico");
    const std::string_view ico = nerova::assets::brand_ico();
    ASSERT_TRUE(platform::create_directories(folder));
    ASSERT_TRUE(platform::write_file(file, ico.substr(0, ico.size() / 2)));  // torn by an older write
    const std::optional<std::string> tmp = platform::environment_variable("TMP");
    ::SetEnvironmentVariableW(L"TMP", nerova::text::to_wide<wchar_t>(folder).data());
    init_notify_icon(host_, ::GetModuleHandleW(nullptr));
    EXPECT_EQ(platform::read_file(file), std::string(ico));
    // A TMP longer than a path gives no temporary folder: no file then, not one in the working folder.
    ::DeleteFileW(L"orva-network-helper-brand.ico");
    ::SetEnvironmentVariableW(L"TMP", std::wstring(300, L'x').c_str());
    init_notify_icon(host_, ::GetModuleHandleW(nullptr));
    EXPECT_EQ(platform::read_file("orva-network-helper-brand.ico"), std::nullopt);
    ::SetEnvironmentVariableW(L"TMP", tmp ? nerova::text::to_wide<wchar_t>(*tmp).data() : nullptr);
}

TEST(RunningCopy, AskedAgainAfterAWindowThatWentAndAnElevatedCopyIsNamed) {
    const wchar_t* const name = L"ORVATrayHidden";
    const WNDCLASSW host_class{0, ::DefWindowProcW, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, name};
    ::RegisterClassW(&host_class);
    const HWND host = ::CreateWindowExW(0, name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    set_post_message(&refusing_post);
    EXPECT_EQ(nerova::show_running_copy(), nerova::RunningCopy::elevated);
    EXPECT_EQ(posts, 2);
    set_post_message(nullptr);
    ::DestroyWindow(host);
}
