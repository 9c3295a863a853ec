// Drives a running NerovaBridge.exe from inside its Wine prefix for the end-to-end test:
//   tray_probe wait                 wait (up to 20 s) until the tray host window exists
//   tray_probe click left|right     post the icon's callback message, as the shell does
//   tray_probe cursor X Y           put the mouse pointer at X, Y
//   tray_probe press X Y            move there and click the left button (real input)
//   tray_probe key escape           press and release Esc
//   tray_probe close popup|menu     send WM_CLOSE to a card, as Alt+F4 does
//   tray_probe state                print "popup <visible> <left> <top> menu <visible> <left> <top>
//                                   foreground <class of the foreground window>"
//   tray_probe run-value            print the Run value's type, size and data, or "absent"
#include <windows.h>

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
    std::printf("%s %d %ld %ld ", name, window != nullptr && ::IsWindowVisible(window) ? 1 : 0, rect.left, rect.top);
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
        const LPARAM mouse = std::strcmp(argv[2], "right") == 0 ? WM_RBUTTONUP : WM_LBUTTONUP;
        return ::PostMessageW(hidden_window(), TRAY_CALLBACK_MESSAGE, 1, mouse) ? 0 : 1;
    }
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
        INPUT inputs[2];
        std::memset(inputs, 0, sizeof inputs);
        inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
        inputs[0].ki.wVk = inputs[1].ki.wVk = VK_ESCAPE;
        inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
        return ::SendInput(2, inputs, sizeof(INPUT)) == 2 ? 0 : 1;
    }
    if (command == "close" && argc == 3) return ::PostMessageW(card(argv[2]), WM_CLOSE, 0, 0) ? 0 : 1;
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
    return 2;
}
