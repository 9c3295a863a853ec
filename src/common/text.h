// Text helpers shared by the request reader, the token check, the router answers and every call
// into Windows: UTF-8 checks, Unicode white space, and UTF-8 to and from UTF-16.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nerova::text {

// Bytes as UTF-8, each invalid sequence replaced by U+FFFD (one per maximal bad subpart).
std::string utf8_lossy(std::string_view bytes);

bool is_valid_utf8(std::string_view bytes);

// The Unicode White_Space property.
bool is_unicode_space(char32_t c);

// Trims Unicode white space from both ends of UTF-8 text. An invalid byte counts as a character
// that is not white space, so raw bytes are cut where their lossy decoding would be.
std::string_view trim(std::string_view utf8);

// Splits UTF-8 text on runs of Unicode white space, dropping empty fields; invalid bytes as in trim.
std::vector<std::string_view> split_whitespace(std::string_view utf8);

// UTF-16 as UTF-8, each unpaired surrogate as U+FFFD.
std::string utf16_to_utf8(std::u16string_view utf16);

// UTF-8 as UTF-16, each invalid sequence as U+FFFD.
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

// `length` UTF-16 units (wchar_t from Windows calls) as UTF-8, as utf16_to_utf8.
template <typename Unit>
std::string from_wide(const Unit* units, std::size_t length) {
    static_assert(sizeof(Unit) == 2, "from_wide reads UTF-16 units");
    return utf16_to_utf8(std::u16string(units, units + length));
}

bool ascii_iequals(std::string_view a, std::string_view b);

bool starts_with(std::string_view text, std::string_view prefix);

}  // namespace nerova::text
