// The start-at-login value under the current user's Run key, as data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nerova::tray {

constexpr std::string_view RUN_KEY_PATH = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view RUN_VALUE_NAME = "NerovaBridge";

// The executable's path between double quotes, no arguments, so a path with spaces starts
// correctly; units that are no character (unpaired surrogates) become U+FFFD.
std::string autostart_command(std::u16string_view executable_path);

// Bytes a REG_SZ value takes: its UTF-16 units and the terminating NUL, two bytes each.
std::uint32_t registry_string_size(std::size_t units_without_nul);

}  // namespace nerova::tray
