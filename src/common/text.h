// Small text helpers shared by the request reader, the token check and the router answers.
#pragma once

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

bool ascii_iequals(std::string_view a, std::string_view b);

bool starts_with(std::string_view text, std::string_view prefix);

}  // namespace nerova::text
