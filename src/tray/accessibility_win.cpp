#include "tray/accessibility_win.h"

#include <oleacc.h>

#include <atomic>
#include <string_view>

#include "common/text.h"

namespace nerova::tray {
namespace {

// Child ids: CHILDID_SELF (0) for the card, 1 and up for its children.
constexpr LONG child_id(int child) { return child + 1; }

BSTR make_bstr(std::string_view utf8) {
    return ::SysAllocString(text::to_wide<wchar_t>(utf8).data());
}

LONG msaa_role(AccessRole role) {
    switch (role) {
        case AccessRole::dialog:
            return ROLE_SYSTEM_DIALOG;
        case AccessRole::menu:
            return ROLE_SYSTEM_MENUPOPUP;
        case AccessRole::static_text:
            return ROLE_SYSTEM_STATICTEXT;
        case AccessRole::push_button:
            return ROLE_SYSTEM_PUSHBUTTON;
        case AccessRole::menu_item:
            return ROLE_SYSTEM_MENUITEM;
    }
    return ROLE_SYSTEM_CLIENT;
}

// One card's object. Every answer is read afresh from the card, so an object a screen reader keeps
// never tells of an older state; once the window is gone every call says so.
class CardAccessible final : public IAccessible {
public:
    CardAccessible(HWND window, CardHooks hooks) : window_(window), hooks_(hooks) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IAccessible) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: no type information; clients call the IAccessible methods directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (parent == nullptr) return E_POINTER;
        *parent = nullptr;
        if (!::IsWindow(window_)) return RPC_E_DISCONNECTED;
        return ::CreateStdAccessibleObject(window_, OBJID_WINDOW, IID_IDispatch, reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        if (count == nullptr) return E_POINTER;
        if (!::IsWindow(window_)) return RPC_E_DISCONNECTED;
        *count = static_cast<LONG>(access().children.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        const CardAccess now = access();
        const int index = child_index(child, now);
        if (index < 0) return E_INVALIDARG;
        return S_FALSE;  // the children are simple elements: this object answers for them
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        return text_of(child, name, [](const AccessItem& item) { return item.name; });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override { return none(child, value); }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        return text_of(child, description, [](const AccessItem& item) { return item.description; });
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (role == nullptr) return E_POINTER;
        ::VariantInit(role);
        const CardAccess now = access();
        const AccessItem* item = item_of(child, now);
        if (item == nullptr) return E_INVALIDARG;
        role->vt = VT_I4;
        role->lVal = msaa_role(item->role);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (state == nullptr) return E_POINTER;
        ::VariantInit(state);
        const CardAccess now = access();
        const AccessItem* item = item_of(child, now);
        if (item == nullptr) return E_INVALIDARG;
        LONG bits = 0;
        if (!shown().visible) bits |= STATE_SYSTEM_INVISIBLE;
        if (item->role == AccessRole::static_text) bits |= STATE_SYSTEM_READONLY;
        if (item->focusable) bits |= STATE_SYSTEM_FOCUSABLE;
        if (item->focused) bits |= STATE_SYSTEM_FOCUSED;
        if (item->hot) bits |= STATE_SYSTEM_HOTTRACKED;
        if (item->selectable) bits |= STATE_SYSTEM_SELECTABLE;
        if (item->selected) bits |= STATE_SYSTEM_SELECTED;
        if (item->checked) bits |= STATE_SYSTEM_CHECKED;
        state->vt = VT_I4;
        state->lVal = bits;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override { return none(child, help); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        if (topic != nullptr) *topic = 0;
        return none(child, file);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return none(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (focus == nullptr) return E_POINTER;
        ::VariantInit(focus);
        const CardAccess now = access();
        if (!now.card.focused) return S_FALSE;  // not the foreground window: nothing here has the focus
        focus->vt = VT_I4;
        focus->lVal = CHILDID_SELF;
        for (std::size_t i = 0; i < now.children.size(); ++i) {
            if (now.children[i].focused) focus->lVal = child_id(static_cast<int>(i));
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (selection == nullptr) return E_POINTER;
        ::VariantInit(selection);
        const CardAccess now = access();
        for (std::size_t i = 0; i < now.children.size(); ++i) {
            if (!now.children[i].selected) continue;
            selection->vt = VT_I4;
            selection->lVal = child_id(static_cast<int>(i));
            return S_OK;
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return text_of(child, action, [](const AccessItem& item) { return item.default_action; });
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        const CardShown card = shown();
        const CardAccess now = card_access(card);
        if (item_of(child, now) == nullptr) return E_INVALIDARG;
        const std::optional<CardFocus> after =
            select_child(card.kind, card.focus, child_index(child, now), static_cast<unsigned>(flags));
        if (!after) return E_INVALIDARG;
        if (!card.visible) return E_FAIL;  // a hidden card takes no focus
        hooks_.refocus(window_, *after);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) return E_POINTER;
        *left = *top = *width = *height = 0;
        const CardAccess now = access();
        const AccessItem* item = item_of(child, now);
        if (item == nullptr) return E_INVALIDARG;
        // The card is a borderless popup: its window and its drawing share the top-left corner.
        RECT window{};
        if (!::GetWindowRect(window_, &window)) return RPC_E_DISCONNECTED;
        *left = window.left + item->left;
        *top = window.top + item->top;
        *width = item->width;
        *height = item->height;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        if (end == nullptr) return E_POINTER;
        ::VariantInit(end);
        const CardAccess now = access();
        if (item_of(start, now) == nullptr) return E_INVALIDARG;
        const NavOutcome reached = navigate(now, child_index(start, now), static_cast<unsigned>(direction));
        if (reached.result == NavResult::invalid) return E_INVALIDARG;
        if (reached.result == NavResult::none) return S_FALSE;
        end->vt = VT_I4;
        end->lVal = child_id(reached.child);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* at) override {
        if (at == nullptr) return E_POINTER;
        ::VariantInit(at);
        RECT window{};
        if (!::GetWindowRect(window_, &window)) return RPC_E_DISCONNECTED;
        const int child = access_child_at(access(), x - window.left, y - window.top);
        if (child < -1) return S_FALSE;  // the transparent margin, where clicks reach what lies below
        at->vt = VT_I4;
        at->lVal = child < 0 ? CHILDID_SELF : child_id(child);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        const CardShown card = shown();
        const CardAccess now = card_access(card);
        if (child.vt == VT_I4 && child.lVal == CHILDID_SELF) return DISP_E_MEMBERNOTFOUND;
        const int index = child_index(child, now);
        if (index < 0) return E_INVALIDARG;
        if (target_of_access_child(card.kind, index) < 0) return DISP_E_MEMBERNOTFOUND;
        if (!card.visible) return E_FAIL;  // a hidden card's rows cannot be pressed
        return ::PostMessageW(window_, ACCESS_ACTION_MESSAGE, static_cast<WPARAM>(index), 0) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    CardShown shown() const { return hooks_.describe(window_); }
    CardAccess access() const { return card_access(shown()); }

    // The 0-based child a VARIANT names; -1 for the card itself or none (item_of tells which).
    static int child_index(const VARIANT& child, const CardAccess& access) {
        if (child.vt != VT_I4) return -1;
        const LONG index = child.lVal - 1;
        return index >= 0 && index < static_cast<LONG>(access.children.size()) ? static_cast<int>(index) : -1;
    }
    static const AccessItem* item_of(const VARIANT& child, const CardAccess& access) {
        if (child.vt != VT_I4) return nullptr;
        if (child.lVal == CHILDID_SELF) return &access.card;
        const int index = child_index(child, access);
        return index < 0 ? nullptr : &access.children[static_cast<std::size_t>(index)];
    }
    template <typename Field>
    HRESULT text_of(const VARIANT& child, BSTR* out, Field field) const {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        const CardAccess now = access();
        const AccessItem* item = item_of(child, now);
        if (item == nullptr) return E_INVALIDARG;
        const std::string_view words = field(*item);
        if (words.empty()) return DISP_E_MEMBERNOTFOUND;
        *out = make_bstr(words);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    // A property no item has: still an invalid child id is told apart.
    HRESULT none(const VARIANT& child, BSTR* out) const {
        if (out != nullptr) *out = nullptr;
        const CardAccess now = access();
        return item_of(child, now) == nullptr ? E_INVALIDARG : DISP_E_MEMBERNOTFOUND;
    }

    const HWND window_;
    const CardHooks hooks_;
    std::atomic<ULONG> references_{1};
};

}  // namespace

std::optional<LRESULT> answer_get_object(HWND window, WPARAM wparam, LPARAM lparam, CardHooks hooks) {
    // The object id arrives as a DWORD in lParam; on 64-bit Windows the upper half is not
    // sign-extended, so compare the low 32 bits only.
    if (static_cast<DWORD>(lparam) != static_cast<DWORD>(OBJID_CLIENT)) return std::nullopt;
    auto* object = new CardAccessible(window, hooks);
    const LRESULT result = ::LresultFromObject(IID_IAccessible, wparam, object);
    object->Release();  // LresultFromObject holds its own references
    return result;
}

void notify_card_event(DWORD event, HWND window, int child) {
    if (window == nullptr) return;
    ::NotifyWinEvent(event, window, OBJID_CLIENT, child < 0 ? CHILDID_SELF : child_id(child));
}

void notify_card_event(AccessEvent event, HWND window) {
    switch (event.notice) {
        case AccessNotice::focus:
            notify_card_event(EVENT_OBJECT_FOCUS, window, event.child);
            break;
        case AccessNotice::selection:
            notify_card_event(EVENT_OBJECT_SELECTION, window, event.child);
            break;
        case AccessNotice::selection_removed:
            notify_card_event(EVENT_OBJECT_SELECTIONREMOVE, window, event.child);
            break;
    }
}

bool high_contrast_on() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    if (!::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0)) return false;
    return (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

SystemColours system_colours() {
    return {::GetSysColor(COLOR_WINDOW),        ::GetSysColor(COLOR_WINDOWTEXT), ::GetSysColor(COLOR_HIGHLIGHT),
            ::GetSysColor(COLOR_HIGHLIGHTTEXT), ::GetSysColor(COLOR_BTNFACE),    ::GetSysColor(COLOR_BTNTEXT)};
}

CardColours current_card_colours() {
    const bool contrast = high_contrast_on();
    return card_colours(contrast, contrast ? system_colours() : SystemColours{});
}

}  // namespace nerova::tray
