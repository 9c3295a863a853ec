#include "tray/autostart_win.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "tray/autostart_value.h"
#include "tray/wide.h"

namespace nerova::tray {
namespace {

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_ != nullptr) ::RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY get() const { return key_; }
    HKEY* out() { return &key_; }

private:
    HKEY key_ = nullptr;
};

// The main module's full path, however long.
std::optional<std::u16string> executable_path() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::nullopt;
        // A full buffer means the path was cut: Windows may or may not report ERROR_INSUFFICIENT_BUFFER.
        if (length < buffer.size()) return std::u16string(buffer.begin(), buffer.begin() + length);
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

bool is_autostart_enabled() {
    RegistryKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, to_wide<wchar_t>(RUN_KEY_PATH).data(), 0, KEY_QUERY_VALUE, key.out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    return ::RegQueryValueExW(key.get(), to_wide<wchar_t>(RUN_VALUE_NAME).data(), nullptr, nullptr, nullptr,
                              nullptr) == ERROR_SUCCESS;
}

void toggle_autostart() {
    if (is_autostart_enabled()) {
        RegistryKey key;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, to_wide<wchar_t>(RUN_KEY_PATH).data(), 0, KEY_SET_VALUE, key.out()) !=
            ERROR_SUCCESS) {
            return;
        }
        ::RegDeleteValueW(key.get(), to_wide<wchar_t>(RUN_VALUE_NAME).data());
        return;
    }
    const std::optional<std::u16string> path = executable_path();
    if (!path) return;
    const std::vector<wchar_t> data = to_wide<wchar_t>(autostart_command(*path));
    RegistryKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, to_wide<wchar_t>(RUN_KEY_PATH).data(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.out(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    ::RegSetValueExW(key.get(), to_wide<wchar_t>(RUN_VALUE_NAME).data(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(data.data()), registry_string_size(data.size() - 1));
}

}  // namespace nerova::tray
