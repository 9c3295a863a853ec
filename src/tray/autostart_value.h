// The start-at-login value under the current user's Run key, and what Windows makes of it, as data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nerova::tray {

constexpr std::string_view RUN_KEY_PATH = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view RUN_VALUE_NAME = "NerovaBridge";
// Windows 10/11 record an entry turned off in Task Manager or Settings here, under the same value
// name, and leave the Run value in place.
constexpr std::string_view APPROVED_KEY_PATH =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

// The executable's path between double quotes, no arguments, so a path with spaces starts
// correctly; units that are no character (unpaired surrogates) become U+FFFD.
std::string autostart_command(std::u16string_view executable_path);

// Bytes a REG_SZ value takes: its UTF-16 units and the terminating NUL, two bytes each.
std::uint32_t registry_string_size(std::size_t units_without_nul);

// A StartupApproved record says "turned off" when its first byte is odd (03 00 ... or 07 00 ...,
// followed by when); 02 or 06 and no record at all leave the entry on.
bool approval_record_disabled(const std::vector<std::uint8_t>& record);

// Whether a Run command starts `executable_path`: the quoted program, or an unquoted one up to its
// first space (or the whole text); compared as Windows compares paths, ignoring ASCII case and the
// slash's direction.
bool run_command_starts(std::u16string_view command, std::u16string_view executable_path);

// Start at login is on when the Run value is text that starts this executable and no record turned
// it off. `run_command` is empty for a missing value or one that is not text.
bool will_start_at_login(const std::optional<std::u16string>& run_command,
                         const std::optional<std::vector<std::uint8_t>>& approval_record,
                         std::u16string_view executable_path);

}  // namespace nerova::tray
