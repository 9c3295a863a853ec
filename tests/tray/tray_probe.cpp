// Drives a running NerovaBridge.exe from inside its Wine prefix for the end-to-end test:
//   tray_probe wait                 wait (up to 20 s) until the tray host window exists
//   tray_probe click left|right     a click on the icon at the pointer, in the shell's version-4
//                                   messages (button down, up, then NIN_SELECT or WM_CONTEXTMENU)
//   tray_probe race                 a closing left click with the taskbar taking the foreground and
//                                   the card's tick between button down and up, as on Windows;
//                                   prints "popup <visible> ..." right after it
//   tray_probe keyselect|keymenu X Y  Enter or Shift+F10 on the selected icon anchored at X, Y
//   tray_probe taskbar-created      broadcast TaskbarCreated, as a restarted Explorer does
//   tray_probe quit                 WM_CLOSE to the tray host window, as an installer would
//   tray_probe cursor X Y           put the mouse pointer at X, Y
//   tray_probe press X Y            move there and click the left button (real input)
//   tray_probe key escape|up|down|enter  press and release a key
//   tray_probe close popup|menu     Alt+F4 on a card: WM_SYSCOMMAND SC_CLOSE
//   tray_probe wmclose popup|menu   WM_CLOSE to a card, as Restart Manager sends
//   tray_probe sequence NAME X Y    the shell's documented version-4 callbacks for click, double,
//                                   enter, space, shift-f10 or right, anchored at X, Y
//   tray_probe endsession [cancel]  WM_QUERYENDSESSION then WM_ENDSESSION (TRUE, or FALSE with
//                                   cancel) to both cards, as Windows sends them to top-level
//                                   windows; prints "query <answer popup> <answer menu>"
//   tray_probe dialog               wait (up to 30 s) for the program's message box, print its
//                                   text in UTF-8 and press OK
//   tray_probe state                print "popup <visible> <left> <top> <width> <height> menu <visible>
//                                   <left> <top> <width> <height> foreground <class of the foreground window>"
//   tray_probe run-value            print the Run value's type, size and data, or "absent"
//   tray_probe reg-dpi N            set the DPI (LogPixels) that programs started afterwards see
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr UINT TRAY_CALLBACK_MESSAGE = WM_USER + 1;

HWND hidden_window() { return ::FindWindowExW(HWND_MESSAGE, nullptr, L"ORVATrayHidden", nullptr); }

HWND card(const char* which) {
    return ::FindWindowW(std::strcmp(which, "menu") == 0 ? L"ORVAMenuCard" : L"ORVAPopupCard", nullptr);
}

// A version-4 callback: the event in the low word of lParam, the icon's id in the high word and the
// anchor point in wParam.
bool post_icon_event(UINT event, POINT anchor) {
    const WPARAM where = MAKEWPARAM(static_cast<WORD>(anchor.x), static_cast<WORD>(anchor.y));
    return ::PostMessageW(hidden_window(), TRAY_CALLBACK_MESSAGE, where, MAKELPARAM(event, 1)) != FALSE;
}

POINT cursor() {
    POINT at{};
    ::GetCursorPos(&at);
    return at;
}

struct ShellStep {
    UINT event;
    DWORD after_ms;
};

// The callbacks the shell sends for each gesture, with the pauses of a person's hand.
std::vector<ShellStep> shell_sequence(const std::string& name) {
    if (name == "click") return {{WM_LBUTTONDOWN, 0}, {WM_LBUTTONUP, 90}, {NIN_SELECT, 0}};
    if (name == "double") {
        return {{WM_LBUTTONDOWN, 0}, {WM_LBUTTONUP, 90}, {NIN_SELECT, 0},
                {WM_LBUTTONDBLCLK, 120}, {WM_LBUTTONUP, 90}, {NIN_SELECT, 0}};
    }
    if (name == "enter") return {{NIN_KEYSELECT, 0}, {NIN_KEYSELECT, 5}};
    if (name == "space") return {{NIN_KEYSELECT, 0}};
    if (name == "shift-f10") return {{WM_CONTEXTMENU, 0}};
    if (name == "right") return {{WM_RBUTTONDOWN, 0}, {WM_RBUTTONUP, 90}, {WM_CONTEXTMENU, 0}};
    return {};
}

LRESULT send_to(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR answer = 0;
    if (!::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 10000, &answer)) return -1;
    return static_cast<LRESULT>(answer);
}

void print_utf8(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    std::fwrite(bytes.data(), 1, std::strlen(bytes.c_str()), stdout);
    std::fputc('\n', stdout);
}

void send_mouse(DWORD flags) {
    INPUT input;
    std::memset(&input, 0, sizeof input);
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    ::SendInput(1, &input, sizeof input);
}

void print_card(const char* name) {
    const HWND window = card(name);
    RECT rect{};
    if (window != nullptr) ::GetWindowRect(window, &rect);
    std::printf("%s %d %ld %ld %ld %ld ", name, window != nullptr && ::IsWindowVisible(window) ? 1 : 0, rect.left,
                rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

int run_value() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_QUERY_VALUE,
                        &key) != ERROR_SUCCESS) {
        std::puts("absent");
        return 0;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key, L"NerovaBridge", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        ::RegCloseKey(key);
        std::puts("absent");
        return 0;
    }
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    ::RegQueryValueExW(key, L"NerovaBridge", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    ::RegCloseKey(key);
    std::printf("type=%lu size=%lu data=%ls\n", type, size, data.data());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string command = argv[1];
    if (command == "wait") {
        for (int i = 0; i < 200 && hidden_window() == nullptr; ++i) ::Sleep(100);
        return hidden_window() != nullptr ? 0 : 1;
    }
    if (command == "click" && argc == 3) {
        const bool right = std::strcmp(argv[2], "right") == 0;
        const POINT at = cursor();
        const bool posted = post_icon_event(right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, at) &&
                            post_icon_event(right ? WM_RBUTTONUP : WM_LBUTTONUP, at) &&
                            post_icon_event(right ? WM_CONTEXTMENU : NIN_SELECT, at);
        return posted ? 0 : 1;
    }
    if (command == "race") {
        // The press reaches the program; the taskbar (here a window of this probe) takes the
        // foreground; the program's ticks see it; then the release and NIN_SELECT arrive.
        const POINT at = cursor();
        if (!post_icon_event(WM_LBUTTONDOWN, at)) return 1;
        ::Sleep(100);
        const HWND taskbar = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"taskbar", WS_POPUP | WS_VISIBLE, 0, 0,
                                               10, 10, nullptr, nullptr, nullptr, nullptr);
        ::SetForegroundWindow(taskbar);
        ::Sleep(700);
        const bool posted = post_icon_event(WM_LBUTTONUP, at) && post_icon_event(NIN_SELECT, at);
        // Well inside the card's grace time, so a card that opened again is still on screen.
        ::Sleep(200);
        print_card("popup");
        std::printf("\n");
        ::DestroyWindow(taskbar);
        return posted ? 0 : 1;
    }
    if ((command == "keyselect" || command == "keymenu") && argc == 4) {
        const POINT anchor{std::atoi(argv[2]), std::atoi(argv[3])};
        return post_icon_event(command == "keyselect" ? NIN_KEYSELECT : WM_CONTEXTMENU, anchor) ? 0 : 1;
    }
    if (command == "taskbar-created") {
        const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
        return ::PostMessageW(HWND_BROADCAST, message, 0, 0) ? 0 : 1;
    }
    if (command == "quit") return ::PostMessageW(hidden_window(), WM_CLOSE, 0, 0) ? 0 : 1;
    if (command == "cursor" && argc == 4) {
        if (!::SetCursorPos(std::atoi(argv[2]), std::atoi(argv[3]))) return 1;
        POINT at{};
        ::GetCursorPos(&at);
        std::printf("cursor %ld %ld\n", at.x, at.y);
        return 0;
    }
    if (command == "press" && argc == 4) {
        ::SetCursorPos(std::atoi(argv[2]), std::atoi(argv[3]));
        ::Sleep(200);
        send_mouse(MOUSEEVENTF_LEFTDOWN);
        ::Sleep(100);
        send_mouse(MOUSEEVENTF_LEFTUP);
        return 0;
    }
    if (command == "key" && argc == 3) {
        const std::string name = argv[2];
        const WORD key = name == "up" ? VK_UP : name == "down" ? VK_DOWN : name == "enter" ? VK_RETURN : VK_ESCAPE;
        INPUT inputs[2];
        std::memset(inputs, 0, sizeof inputs);
        inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
        inputs[0].ki.wVk = inputs[1].ki.wVk = key;
        inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
        return ::SendInput(2, inputs, sizeof(INPUT)) == 2 ? 0 : 1;
    }
    if (command == "close" && argc == 3) return ::PostMessageW(card(argv[2]), WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
    if (command == "wmclose" && argc == 3) return ::PostMessageW(card(argv[2]), WM_CLOSE, 0, 0) ? 0 : 1;
    if (command == "sequence" && argc == 5) {
        const std::vector<ShellStep> steps = shell_sequence(argv[2]);
        const POINT anchor{std::atoi(argv[3]), std::atoi(argv[4])};
        for (const ShellStep& step : steps) {
            ::Sleep(step.after_ms);
            if (!post_icon_event(step.event, anchor)) return 1;
        }
        return steps.empty() ? 2 : 0;
    }
    if (command == "endsession") {
        const BOOL ending = argc == 3 && std::strcmp(argv[2], "cancel") == 0 ? FALSE : TRUE;
        const HWND cards[] = {card("popup"), card("menu")};
        std::printf("query %ld %ld\n", static_cast<long>(send_to(cards[0], WM_QUERYENDSESSION, 0, 0)),
                    static_cast<long>(send_to(cards[1], WM_QUERYENDSESSION, 0, 0)));
        std::fflush(stdout);
        // The second card may belong to a process that has already ended: no answer is fine.
        for (const HWND window : cards) send_to(window, WM_ENDSESSION, ending, 0);
        return 0;
    }
    if (command == "dialog") {
        for (int i = 0; i < 300; ++i) {
            const HWND box = ::FindWindowW(L"#32770", L"Nerova\u6865");
            if (box != nullptr) {
                wchar_t text[1024] = L"";
                ::GetDlgItemTextW(box, 0xFFFF, text, 1024);
                print_utf8(text);
                ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                return 0;
            }
            ::Sleep(100);
        }
        return 1;
    }
    if (command == "state") {
        print_card("popup");
        print_card("menu");
        wchar_t name[64] = L"-";
        const HWND foreground = ::GetForegroundWindow();
        if (foreground != nullptr) ::GetClassNameW(foreground, name, 64);
        std::printf("foreground %ls\n", name);
        return 0;
    }
    if (command == "run-value") return run_value();
    if (command == "reg-dpi" && argc == 3) {
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr) != ERROR_SUCCESS) {
            return 1;
        }
        const DWORD dpi = static_cast<DWORD>(std::atoi(argv[2]));
        const LONG result = ::RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                                             sizeof dpi);
        ::RegCloseKey(key);
        return result == ERROR_SUCCESS ? 0 : 1;
    }
    return 2;
}
