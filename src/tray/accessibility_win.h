// The cards for screen readers and contrast themes: each card window answers WM_GETOBJECT with an
// IAccessible of its own (through oleacc, which UI Automation clients read through its proxy),
// tells of changes with NotifyWinEvent, and reads whether a contrast theme is on.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <optional>

#include "tray/card_access.h"

namespace nerova::tray {

// What the accessible object asks of the card window it stands for; called on the UI thread.
struct CardHooks {
    // What the card shows now.
    CardShown (*describe)(HWND window);
    // Puts the focus model in this state as the keys would: drawn and told to screen readers.
    void (*refocus)(HWND window, CardFocus focus);
};

// Posted to the card window by accDoDefaultAction, the child (0-based) in wParam: the action runs
// from the message loop, as a click's does, not inside the screen reader's call.
constexpr UINT ACCESS_ACTION_MESSAGE = WM_APP + 23;

// The answer to WM_GETOBJECT for OBJID_CLIENT; nothing for any other object (pass it on to
// DefWindowProcW).
std::optional<LRESULT> answer_get_object(HWND window, WPARAM wparam, LPARAM lparam, CardHooks hooks);

// NotifyWinEvent for the card itself (child -1) or one of its children (0-based).
void notify_card_event(DWORD event, HWND window, int child);
void notify_card_event(AccessEvent event, HWND window);

// Whether a contrast theme is on, and its colours.
bool high_contrast_on();
SystemColours system_colours();
CardColours current_card_colours();

// COM for the UI thread: a single-threaded apartment, so the screen reader's calls arrive through
// the message loop on this thread; without OLE 1 DDE, as ShellExecute asks of its callers.
class ComApartment {
public:
    ComApartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT result_;
};

}  // namespace nerova::tray
