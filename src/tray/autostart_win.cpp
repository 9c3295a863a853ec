#include "tray/autostart_win.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "tray/autostart_value.h"
#include "tray/handles_win.h"

namespace nerova::tray {
namespace {

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

// The value's type and bytes, or nothing when the key or the value is missing.
std::optional<std::vector<BYTE>> read_value(std::string_view key_path, DWORD& type) {
    RegistryKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, text::to_wide<wchar_t>(key_path).data(), 0, KEY_QUERY_VALUE, key.out()) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::vector<wchar_t> name = text::to_wide<wchar_t>(RUN_VALUE_NAME);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        if (::RegQueryValueExW(key.get(), name.data(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        std::vector<BYTE> data(size);
        const LONG result = ::RegQueryValueExW(key.get(), name.data(), nullptr, &type, data.data(), &size);
        if (result == ERROR_SUCCESS) {
            data.resize(size);
            return data;
        }
        if (result != ERROR_MORE_DATA) return std::nullopt;  // grew in between: ask again
    }
    return std::nullopt;
}

// The Run value as the text it starts, environment variables expanded; nothing for another type.
std::optional<std::u16string> run_command() {
    DWORD type = 0;
    const std::optional<std::vector<BYTE>> data = read_value(RUN_KEY_PATH, type);
    if (!data || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    std::wstring text(reinterpret_cast<const wchar_t*>(data->data()), data->size() / sizeof(wchar_t));
    text = text.substr(0, text.find(L'\0'));
    if (type == REG_EXPAND_SZ) {
        const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
        std::wstring expanded(needed, L'\0');
        if (needed == 0 || ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed) != needed) {
            return std::nullopt;
        }
        text = expanded.substr(0, expanded.find(L'\0'));
    }
    return std::u16string(text.begin(), text.end());
}

std::optional<std::vector<std::uint8_t>> approval_record() {
    DWORD type = 0;
    const std::optional<std::vector<BYTE>> data = read_value(APPROVED_KEY_PATH, type);
    if (!data) return std::nullopt;
    return std::vector<std::uint8_t>(data->begin(), data->end());
}

void delete_value(std::string_view key_path) {
    RegistryKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, text::to_wide<wchar_t>(key_path).data(), 0, KEY_SET_VALUE, key.out()) ==
        ERROR_SUCCESS) {
        ::RegDeleteValueW(key.get(), text::to_wide<wchar_t>(RUN_VALUE_NAME).data());
    }
}

}  // namespace

bool is_autostart_enabled() {
    const std::optional<std::u16string> path = executable_path();
    return path && will_start_at_login(run_command(), approval_record(), *path);
}

void toggle_autostart() {
    if (is_autostart_enabled()) {
        delete_value(RUN_KEY_PATH);
        return;
    }
    const std::optional<std::u16string> path = executable_path();
    if (!path) return;
    const std::vector<wchar_t> data = text::to_wide<wchar_t>(autostart_command(*path));
    RegistryKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, text::to_wide<wchar_t>(RUN_KEY_PATH).data(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.out(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    ::RegSetValueExW(key.get(), text::to_wide<wchar_t>(RUN_VALUE_NAME).data(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(data.data()), registry_string_size(data.size() - 1));
    const std::optional<std::vector<std::uint8_t>> record = approval_record();
    if (record && approval_record_disabled(*record)) delete_value(APPROVED_KEY_PATH);
}

}  // namespace nerova::tray
