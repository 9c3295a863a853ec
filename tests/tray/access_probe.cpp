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
//   access_probe select CARD FLAGS ID accSelect, as NVDA's "move focus to navigator object" calls
//                                     it (SELFLAG_TAKEFOCUS); prints the HRESULT
//   access_probe walk CARD            accNavigate from everywhere in every direction (walk below),
//                                     then the properties no item has, for a valid and an invalid id
//   access_probe unfocused CARD       get_accFocus once the card shows and another window took
//                                     the foreground
//   access_probe watch SECONDS        print "ready", then each card event as it arrives, with the
//                                     card's focus and what NVDA's rules speak (report below)
//   access_probe key NAME...          press and release tab, home, end, up, down, enter, escape
//   access_probe draw SECONDS         the cards drawn with the contrast theme's colours in layered
//                                     windows at 100,100 (popup, connected, quit marked), 100,300
//                                     (menu, start at login on, second row marked) and 400,100
//                                     (popup, not connected, nothing marked)
#include <windows.h>
#include <initguid.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
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

LONG state_of(IAccessible* object, long id) {
    VARIANT state;
    ::VariantInit(&state);
    object->get_accState(child_variant(id), &state);
    return state.vt == VT_I4 ? state.lVal : 0;
}

std::string text_of(IAccessible* object, long id, HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*)) {
    BSTR text = nullptr;
    (object->*get)(child_variant(id), &text);
    return text == nullptr ? std::string() : utf8(text);
}

// Name, role text and description, as a reader speaks an object.
std::string spoken(IAccessible* object, long id) {
    VARIANT role;
    ::VariantInit(&role);
    object->get_accRole(child_variant(id), &role);
    wchar_t role_text[64] = L"";
    if (role.vt == VT_I4) ::GetRoleTextW(static_cast<DWORD>(role.lVal), role_text, 64);
    BSTR role_bstr = ::SysAllocString(role_text);
    std::string words = text_of(object, id, &IAccessible::get_accName) + ", " + utf8(role_bstr);
    const std::string description = text_of(object, id, &IAccessible::get_accDescription);
    return description.empty() ? words : words + ", " + description;
}

struct CardEvent {
    DWORD event;
    HWND window;
    LONG object;
    LONG child;
};
std::deque<CardEvent> pending;  // the hook only queues: its calls into the card may pump messages
HWND focus_window = nullptr;     // NVDA's focus object, from the focus events it accepted
LONG focus_child = -1;

void CALLBACK on_event(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD) {
    wchar_t name[64] = L"-";
    if (window != nullptr) ::GetClassNameW(window, name, 64);
    if (std::wcsncmp(name, L"ORVA", 4) == 0) pending.push_back({event, window, object, child});
}

// NVDA's rules: a focus event counts for an object that (or whose card) says it is focused and
// speaks the card when the focus enters it, then the object; a name or description change is spoken
// only for the focus object.
void report(const CardEvent& event) {
    wchar_t name[64] = L"-";
    ::GetClassNameW(event.window, name, 64);
    std::string focus = "none";
    std::string said = "-";
    IAccessible* card = nullptr;
    if (event.object == OBJID_CLIENT &&
        SUCCEEDED(::AccessibleObjectFromWindow(event.window, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                               reinterpret_cast<void**>(&card))) &&
        card != nullptr) {
        VARIANT focused;
        ::VariantInit(&focused);
        if (card->get_accFocus(&focused) == S_OK && focused.vt == VT_I4) focus = std::to_string(focused.lVal);
        const bool is_focus = event.window == focus_window && event.child == focus_child;
        if (event.event == EVENT_OBJECT_FOCUS &&
            ((state_of(card, event.child) | state_of(card, CHILDID_SELF)) & STATE_SYSTEM_FOCUSED) != 0) {
            said = event.window != focus_window && event.child != CHILDID_SELF ? spoken(card, CHILDID_SELF) + "; "
                                                                                 : std::string();
            said += spoken(card, event.child);
            focus_window = event.window;
            focus_child = event.child;
        } else if (event.event == EVENT_OBJECT_NAMECHANGE && is_focus) {
            said = text_of(card, event.child, &IAccessible::get_accName);
        } else if (event.event == EVENT_OBJECT_DESCRIPTIONCHANGE && is_focus) {
            said = text_of(card, event.child, &IAccessible::get_accDescription);
        }
        card->Release();
    }
    std::printf("event 0x%lx %ls %ld %ld\tfocus=%s\t%s\n", event.event, name, event.object, event.child,
                focus.c_str(), said.c_str());
    std::fflush(stdout);
}

void pump_for(ULONGLONG milliseconds) {
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    while (::GetTickCount64() < end) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        while (!pending.empty()) {
            const CardEvent event = pending.front();
            pending.pop_front();
            report(event);
        }
    }
}

int watch(int seconds) {
    const HWINEVENTHOOK menus = ::SetWinEventHook(EVENT_SYSTEM_MENUPOPUPSTART, EVENT_SYSTEM_MENUPOPUPEND, nullptr,
                                                  on_event, 0, 0, WINEVENT_OUTOFCONTEXT);
    const HWINEVENTHOOK objects = ::SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_DESCRIPTIONCHANGE, nullptr,
                                                    on_event, 0, 0, WINEVENT_OUTOFCONTEXT);
    if (menus == nullptr || objects == nullptr) return 1;
    std::puts("ready");
    std::fflush(stdout);
    pump_for(static_cast<ULONGLONG>(seconds) * 1000);
    ::UnhookWinEvent(menus);
    ::UnhookWinEvent(objects);
    return 0;
}

// Object navigation as NVDA does it, by accNavigate alone: one line per start (the card, each
// child, one past the last) with where each direction from up to last child leads: a child id,
// "-" for nothing there, "x" for refused.
int walk(const char* which) {
    IAccessible* object = open_card(which);
    if (object == nullptr) return 1;
    LONG count = 0;
    object->get_accChildCount(&count);
    for (long from = CHILDID_SELF; from <= count + 1; ++from) {
        std::printf("%ld", from);
        for (long direction = NAVDIR_UP; direction <= NAVDIR_LASTCHILD; ++direction) {
            VARIANT at;
            const HRESULT result = object->accNavigate(direction, child_variant(from), &at);
            if (result == S_OK && at.vt == VT_I4) {
                std::printf(" %ld", at.lVal);
            } else {
                std::printf(" %s", result == S_FALSE ? "-" : "x");
            }
        }
        std::printf("\n");
    }
    // The properties no item has, for the first child and for one past the last.
    for (const long id : {1L, count + 1}) {
        BSTR text = nullptr;
        LONG topic = 0;
        std::printf("properties %ld 0x%lx 0x%lx 0x%lx 0x%lx\n", id,
                    static_cast<unsigned long>(object->get_accValue(child_variant(id), &text)),
                    static_cast<unsigned long>(object->get_accHelp(child_variant(id), &text)),
                    static_cast<unsigned long>(object->get_accHelpTopic(&text, child_variant(id), &topic)),
                    static_cast<unsigned long>(object->get_accKeyboardShortcut(child_variant(id), &text)));
    }
    object->Release();
    return 0;
}

// The card shown but another window in the foreground: nothing in it has the keyboard focus. The
// probe waits for the card and asks at once, inside the grace time before the card closes itself.
int unfocused(const char* which) {
    std::puts("waiting");
    std::fflush(stdout);
    const ULONGLONG end = ::GetTickCount64() + 60000;
    while (!::IsWindowVisible(card(which)) && ::GetTickCount64() < end) ::Sleep(5);
    IAccessible* object = open_card(which);
    if (object == nullptr) return 1;
    const HWND own = ::CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"probe", WS_POPUP | WS_VISIBLE, 0, 0, 20, 20,
                                       nullptr, nullptr, nullptr, nullptr);
    ::SetForegroundWindow(own);
    VARIANT focus;
    ::VariantInit(&focus);
    const HRESULT result = object->get_accFocus(&focus);
    const LONG self = state_of(object, CHILDID_SELF);
    std::printf("hr=0x%lx vt=%d foreground=%d visible=%d focused=%d\n", static_cast<unsigned long>(result),
                focus.vt, ::GetForegroundWindow() == own, ::IsWindowVisible(card(which)) ? 1 : 0,
                (self & STATE_SYSTEM_FOCUSED) != 0);
    object->Release();
    ::DestroyWindow(own);
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
    const CardLook looks[3] = {{CardKind::popup, 0, true, false, nullptr, colours},
                               {CardKind::menu, 1, false, true, nullptr, colours},
                               {CardKind::popup, -1, false, false, nullptr, colours}};
    HWND windows[3] = {};
    for (int i = 0; i < 3; ++i) {
        const Size size = card_size(looks[i].kind, BASE_DPI);
        windows[i] = ::CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, L"STATIC", L"card",
                                       WS_POPUP | WS_VISIBLE, i == 2 ? 400 : 100, i == 1 ? 300 : 100, size.width,
                                       size.height, nullptr, nullptr, nullptr, nullptr);
        render_card(windows[i], looks[i], BASE_DPI);
    }
    std::puts("drawn");
    std::fflush(stdout);
    pump_for(static_cast<ULONGLONG>(seconds) * 1000);
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
    if (command == "select" && argc == 5) {
        IAccessible* object = open_card(argv[2]);
        if (object == nullptr) return 1;
        const HRESULT result = object->accSelect(std::atol(argv[3]), child_variant(std::atol(argv[4])));
        object->Release();
        std::printf("0x%lx\n", static_cast<unsigned long>(result));
        return 0;
    }
    if (command == "walk") return walk(argv[2]);
    if (command == "unfocused") return unfocused(argv[2]);
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
