// A screen reader's view of a running NerovaBridge.exe, from inside its Wine prefix, in the order
// Microsoft documents for an MSAA client:
//   AccessibleObjectFromWindow(card, OBJID_CLIENT, IID_IAccessible) sends WM_GETOBJECT; the card
//   answers with LresultFromObject and the client holds a proxy. get_accChildCount, then for each
//   child id 1..n get_accChild (S_FALSE: a simple element the parent answers for) and the parent's
//   get_accName / get_accDescription / get_accRole / get_accState / accLocation (screen pixels) /
//   get_accDefaultAction with that child id; accDoDefaultAction runs it. Events come through
//   SetWinEventHook(WINEVENT_OUTOFCONTEXT), delivered to this thread's message loop.
//   access_probe tree popup|menu      print the card and its children, one tab-separated line each
//   access_probe do popup|menu ID     accDoDefaultAction on child ID; prints the HRESULT
//   access_probe watch SECONDS        print "ready", then each card event as it arrives
//   access_probe key NAME...          press and release tab, home, end, up, down, enter, escape
//   access_probe draw SECONDS         both cards drawn with the contrast theme's colours in layered
//                                     windows at 100,100 (popup, connected, quit marked) and 100,300
//                                     (menu, start at login on, second row marked)
#include <windows.h>
#include <initguid.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tray/accessibility_win.h"
#include "tray/cards_win.h"
#include "tray/handles_win.h"

namespace {

HWND card(const char* which) {
    return ::FindWindowW(std::strcmp(which, "menu") == 0 ? L"ORVAMenuCard" : L"ORVAPopupCard", nullptr);
}

std::string utf8(BSTR text) {
    if (text == nullptr) return "-";
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    if (size > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    ::SysFreeString(text);
    return out;
}

VARIANT child_variant(long id) {
    VARIANT child;
    ::VariantInit(&child);
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

void print_item(IAccessible* object, long id) {
    const VARIANT child = child_variant(id);
    VARIANT role, state;
    ::VariantInit(&role);
    ::VariantInit(&state);
    object->get_accRole(child, &role);
    object->get_accState(child, &state);
    LONG left = 0, top = 0, width = 0, height = 0;
    object->accLocation(&left, &top, &width, &height, child);
    BSTR name = nullptr, description = nullptr, action = nullptr;
    object->get_accName(child, &name);
    object->get_accDescription(child, &description);
    object->get_accDefaultAction(child, &action);
    std::printf("%ld\t%ld\t0x%lx\t%ld\t%ld\t%ld\t%ld\t%s\t%s\t%s\n", id, role.vt == VT_I4 ? role.lVal : -1,
                state.vt == VT_I4 ? static_cast<unsigned long>(state.lVal) : 0ul, left, top, width, height,
                utf8(name).c_str(), utf8(description).c_str(), utf8(action).c_str());
}

IAccessible* open_card(const char* which) {
    IAccessible* object = nullptr;
    const HRESULT result = ::AccessibleObjectFromWindow(card(which), static_cast<DWORD>(OBJID_CLIENT),
                                                        IID_IAccessible, reinterpret_cast<void**>(&object));
    if (FAILED(result) || object == nullptr) {
        std::printf("error 0x%lx\n", static_cast<unsigned long>(result));
        return nullptr;
    }
    return object;
}

int tree(const char* which) {
    IAccessible* object = open_card(which);
    if (object == nullptr) return 1;
    LONG count = 0;
    object->get_accChildCount(&count);
    print_item(object, CHILDID_SELF);
    for (long id = 1; id <= count; ++id) {
        IDispatch* dispatch = nullptr;
        const HRESULT simple = object->get_accChild(child_variant(id), &dispatch);
        if (dispatch != nullptr) dispatch->Release();
        if (simple != S_FALSE) std::printf("child %ld is not a simple element: 0x%lx\n", id, simple);
        print_item(object, id);
    }
    object->Release();
    return 0;
}

void CALLBACK on_event(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD) {
    wchar_t name[64] = L"-";
    if (window != nullptr) ::GetClassNameW(window, name, 64);
    if (std::wcsncmp(name, L"ORVA", 4) != 0) return;
    std::printf("event 0x%lx %ls %ld %ld\n", event, name, object, child);
    std::fflush(stdout);
}

int watch(int seconds) {
    const HWINEVENTHOOK menus = ::SetWinEventHook(EVENT_SYSTEM_MENUPOPUPSTART, EVENT_SYSTEM_MENUPOPUPEND, nullptr,
                                                  on_event, 0, 0, WINEVENT_OUTOFCONTEXT);
    const HWINEVENTHOOK objects = ::SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_DESCRIPTIONCHANGE, nullptr,
                                                    on_event, 0, 0, WINEVENT_OUTOFCONTEXT);
    if (menus == nullptr || objects == nullptr) return 1;
    std::puts("ready");
    std::fflush(stdout);
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (::GetTickCount64() < end) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
    ::UnhookWinEvent(menus);
    ::UnhookWinEvent(objects);
    return 0;
}

WORD key_of(const std::string& name) {
    if (name == "tab") return VK_TAB;
    if (name == "home") return VK_HOME;
    if (name == "end") return VK_END;
    if (name == "up") return VK_UP;
    if (name == "down") return VK_DOWN;
    if (name == "enter") return VK_RETURN;
    return VK_ESCAPE;
}

int draw(int seconds) {
    using namespace nerova::tray;
    const GdiplusSession gdiplus;
    if (gdiplus.token() == 0) return 1;
    const CardColours colours = card_colours(true, system_colours());
    const CardLook looks[2] = {{CardKind::popup, 0, true, false, nullptr, colours},
                               {CardKind::menu, 1, false, true, nullptr, colours}};
    HWND windows[2] = {};
    for (int i = 0; i < 2; ++i) {
        const Size size = card_size(looks[i].kind, BASE_DPI);
        windows[i] = ::CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, L"STATIC", L"card",
                                       WS_POPUP | WS_VISIBLE, 100, 100 + 200 * i, size.width, size.height, nullptr,
                                       nullptr, nullptr, nullptr);
        render_card(windows[i], looks[i], BASE_DPI);
    }
    std::puts("drawn");
    std::fflush(stdout);
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (::GetTickCount64() < end) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
    for (HWND window : windows) ::DestroyWindow(window);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string command = argv[1];
    const nerova::tray::ComApartment com;
    if (command == "tree") return tree(argv[2]);
    if (command == "do" && argc == 4) {
        IAccessible* object = open_card(argv[2]);
        if (object == nullptr) return 1;
        const HRESULT result = object->accDoDefaultAction(child_variant(std::atol(argv[3])));
        object->Release();
        std::printf("0x%lx\n", static_cast<unsigned long>(result));
        return 0;
    }
    if (command == "watch") return watch(std::atoi(argv[2]));
    if (command == "draw") return draw(std::atoi(argv[2]));
    if (command == "key") {
        for (int i = 2; i < argc; ++i) {
            INPUT inputs[2];
            std::memset(inputs, 0, sizeof inputs);
            inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
            inputs[0].ki.wVk = inputs[1].ki.wVk = key_of(argv[i]);
            inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
            if (::SendInput(2, inputs, sizeof(INPUT)) != 2) return 1;
            ::Sleep(150);
        }
        return 0;
    }
    return 2;
}
