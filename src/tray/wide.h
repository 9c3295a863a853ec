// Text for the system: UTF-8 in, NUL-terminated UTF-16 out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nerova::tray {

// The UTF-16 form of UTF-8 text, each invalid sequence as U+FFFD.
std::u16string utf8_to_utf16(std::string_view utf8);

// The UTF-16 units of the text followed by one 0 unit; size() counts that terminator. Unit is
// wchar_t for Windows calls and char16_t where wchar_t is wider.
template <typename Unit>
std::vector<Unit> to_wide(std::string_view utf8) {
    static_assert(sizeof(Unit) == 2, "to_wide makes UTF-16 units");
    const std::u16string units = utf8_to_utf16(utf8);
    std::vector<Unit> wide(units.begin(), units.end());
    wide.push_back(Unit{0});
    return wide;
}

}  // namespace nerova::tray
