#include "common/text.h"

#include <cstdint>

namespace nerova::text {
namespace {

// Length of the valid UTF-8 sequence at the start of s, or 0 with `bad` set to the length of
// the maximal invalid subpart (at least 1), following the W3C/Unicode substitution practice.
std::size_t sequence_length(std::string_view s, std::size_t& bad) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    bad = 1;
    if (lead < 0x80) return 1;
    std::size_t need = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i <= need; ++i) {
        if (i >= s.size()) {
            bad = i;
            return 0;
        }
        const unsigned char b = byte(i);
        const unsigned char lo = i == 1 ? low : 0x80;
        const unsigned char hi = i == 1 ? high : 0xBF;
        if (b < lo || b > hi) {
            bad = i;
            return 0;
        }
    }
    return need + 1;
}

char32_t decode(std::string_view s, std::size_t len) {
    const auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(s[i])); };
    switch (len) {
        case 1: return byte(0);
        case 2: return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
        case 3: return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
        default:
            return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) |
                   (byte(3) & 0x3F);
    }
}

// Length of the white-space character at the start (or the end) of UTF-8 text, or 0 when it is
// not white space; an invalid byte is never white space.
std::size_t space_at_start(std::string_view s) {
    if (s.empty()) return 0;
    std::size_t bad = 0;
    const std::size_t len = sequence_length(s, bad);
    return len != 0 && is_unicode_space(decode(s, len)) ? len : 0;
}

std::size_t space_at_end(std::string_view s) {
    std::size_t start = s.size();
    while (start > 0 && (static_cast<unsigned char>(s[start - 1]) & 0xC0) == 0x80 && s.size() - start < 3) --start;
    if (start == 0) return 0;
    --start;
    const std::string_view tail = s.substr(start);
    std::size_t bad = 0;
    const std::size_t len = sequence_length(tail, bad);
    return len == tail.size() && is_unicode_space(decode(tail, len)) ? len : 0;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The scalar value at the start of non-empty text, or U+FFFD for an invalid sequence there; the
// number of bytes it takes.
std::size_t next_scalar(std::string_view s, char32_t& scalar) {
    std::size_t bad = 0;
    const std::size_t len = sequence_length(s, bad);
    scalar = len != 0 ? decode(s, len) : 0xFFFD;
    return len != 0 ? len : bad;
}

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        char32_t scalar = 0;
        bytes.remove_prefix(next_scalar(bytes, scalar));
        append_utf8(out, scalar);
    }
    return out;
}

bool is_valid_utf8(std::string_view bytes) {
    while (!bytes.empty()) {
        std::size_t bad = 0;
        const std::size_t len = sequence_length(bytes, bad);
        if (len == 0) return false;
        bytes.remove_prefix(len);
    }
    return true;
}

bool is_unicode_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

std::string_view trim(std::string_view utf8) {
    for (std::size_t n = space_at_start(utf8); n != 0; n = space_at_start(utf8)) utf8.remove_prefix(n);
    for (std::size_t n = space_at_end(utf8); n != 0; n = space_at_end(utf8)) utf8.remove_suffix(n);
    return utf8;
}

std::vector<std::string_view> split_whitespace(std::string_view utf8) {
    std::vector<std::string_view> fields;
    std::size_t field_start = 0;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const std::size_t space = space_at_start(utf8.substr(pos));
        if (space == 0) {
            std::size_t bad = 0;
            const std::size_t len = sequence_length(utf8.substr(pos), bad);
            pos += len != 0 ? len : bad;
            continue;
        }
        if (pos > field_start) fields.push_back(utf8.substr(field_start, pos - field_start));
        pos += space;
        field_start = pos;
    }
    if (pos > field_start) fields.push_back(utf8.substr(field_start, pos - field_start));
    return fields;
}

std::string utf16_to_utf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t unit = utf16[i];
        if (is_high_surrogate(unit) && i + 1 < utf16.size() && is_low_surrogate(utf16[i + 1])) {
            append_utf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{utf16[i + 1]} - 0xDC00));
            ++i;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            append_utf8(out, 0xFFFD);
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        char32_t scalar = 0;
        utf8.remove_prefix(next_scalar(utf8, scalar));
        if (scalar < 0x10000) {
            out += static_cast<char16_t>(scalar);
        } else {
            out += static_cast<char16_t>(0xD800 + ((scalar - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((scalar - 0x10000) & 0x3FF));
        }
    }
    return out;
}

bool ascii_iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace nerova::text
