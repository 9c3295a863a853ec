// What the fuzz targets check against: a failing check, a UTF-8 decoder and a strict JSON parser
// written apart from the program's own text code, so a fault there cannot hide itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

// Stays on in every build type, unlike assert.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

namespace fuzz {

// One scalar value and its length, or nothing for an ill-formed sequence (overlong forms,
// surrogates, values past U+10FFFF and truncated sequences included).
struct Scalar {
    char32_t value;
    std::size_t length;
};

inline std::optional<Scalar> decode_scalar(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) return Scalar{lead, 1};
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    } else {
        return std::nullopt;
    }
    if (text.size() < length) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return std::nullopt;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    static constexpr char32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < SMALLEST[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    return Scalar{value, length};
}

inline bool valid_utf8(std::string_view text) {
    while (!text.empty()) {
        const std::optional<Scalar> scalar = decode_scalar(text);
        if (!scalar) return false;
        text.remove_prefix(scalar->length);
    }
    return true;
}

inline void append_utf8(std::string& out, char32_t c) {
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

// The Unicode White_Space property, from the character database.
inline bool white_space(char32_t c) {
    switch (c) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20: case 0x85: case 0xA0:
        case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

// Valid UTF-8 split into scalar values, each with its byte offset.
inline std::vector<std::pair<std::size_t, Scalar>> scalars(std::string_view text) {
    std::vector<std::pair<std::size_t, Scalar>> out;
    std::size_t offset = 0;
    while (offset < text.size()) {
        const std::optional<Scalar> scalar = decode_scalar(text.substr(offset));
        if (!scalar) return {};
        out.emplace_back(offset, *scalar);
        offset += scalar->length;
    }
    return out;
}

// Valid UTF-8 without white space at either end.
inline std::string_view trim_white_space(std::string_view text) {
    const auto all = scalars(text);
    std::size_t first = 0;
    while (first < all.size() && white_space(all[first].second.value)) ++first;
    if (first == all.size()) return text.substr(text.size());
    std::size_t last = all.size();
    while (white_space(all[last - 1].second.value)) --last;
    const std::size_t begin = all[first].first;
    const std::size_t end = all[last - 1].first + all[last - 1].second.length;
    return text.substr(begin, end - begin);
}

inline bool is_trimmed(std::string_view text) { return trim_white_space(text).size() == text.size(); }

inline std::string ascii_lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

inline bool ascii_lower_equals(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

// A strict RFC 8259 parser. With `check_utf8` off, bytes at or above 0x80 inside strings are
// taken as they are, so text built from ill-formed input can still be compared byte for byte.
struct JsonValue {
    enum class Kind { null, boolean, number, string, array, object } kind = Kind::null;
    bool boolean = false;
    std::string text;  // decoded string, or the number as written
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;
};

class JsonParser {
public:
    JsonParser(std::string input, bool check_utf8) : input_(std::move(input)), check_utf8_(check_utf8) {}

    // The document's one value, or nothing when the text is not JSON.
    std::optional<JsonValue> document() {
        skip_space();
        std::optional<JsonValue> value = parse_value(0);
        skip_space();
        if (!value || pos_ != input_.size()) return std::nullopt;
        return value;
    }

    bool saw_white_space() const { return saw_space_; }

private:
    std::optional<JsonValue> parse_value(int depth) {
        if (depth > 64 || pos_ >= input_.size()) return std::nullopt;
        const char c = input_[pos_];
        if (c == '{') return parse_object(depth);
        if (c == '[') return parse_array(depth);
        if (c == '"') {
            JsonValue value;
            value.kind = JsonValue::Kind::string;
            if (!parse_string(value.text)) return std::nullopt;
            return value;
        }
        if (literal("true")) return boolean(true);
        if (literal("false")) return boolean(false);
        if (literal("null")) return JsonValue{};
        return parse_number();
    }

    static JsonValue boolean(bool b) {
        JsonValue value;
        value.kind = JsonValue::Kind::boolean;
        value.boolean = b;
        return value;
    }

    std::optional<JsonValue> parse_object(int depth) {
        JsonValue value;
        value.kind = JsonValue::Kind::object;
        ++pos_;
        skip_space();
        if (take('}')) return value;
        for (;;) {
            skip_space();
            std::string name;
            if (!parse_string(name)) return std::nullopt;
            skip_space();
            if (!take(':')) return std::nullopt;
            skip_space();
            std::optional<JsonValue> member = parse_value(depth + 1);
            if (!member) return std::nullopt;
            value.members.emplace_back(std::move(name), std::move(*member));
            skip_space();
            if (take('}')) return value;
            if (!take(',')) return std::nullopt;
        }
    }

    std::optional<JsonValue> parse_array(int depth) {
        JsonValue value;
        value.kind = JsonValue::Kind::array;
        ++pos_;
        skip_space();
        if (take(']')) return value;
        for (;;) {
            skip_space();
            std::optional<JsonValue> item = parse_value(depth + 1);
            if (!item) return std::nullopt;
            value.items.push_back(std::move(*item));
            skip_space();
            if (take(']')) return value;
            if (!take(',')) return std::nullopt;
        }
    }

    std::optional<JsonValue> parse_number() {
        const std::size_t start = pos_;
        take('-');
        if (take('0')) {
        } else if (!digits()) {
            return std::nullopt;
        }
        if (take('.') && !digits()) return std::nullopt;
        if (take('e') || take('E')) {
            if (!take('+')) take('-');
            if (!digits()) return std::nullopt;
        }
        JsonValue value;
        value.kind = JsonValue::Kind::number;
        value.text = std::string(std::string_view(input_).substr(start, pos_ - start));
        return value;
    }

    bool digits() {
        const std::size_t start = pos_;
        while (pos_ < input_.size() && input_[pos_] >= '0' && input_[pos_] <= '9') ++pos_;
        return pos_ > start;
    }

    std::optional<unsigned> hex4() {
        if (input_.size() - pos_ < 4) return std::nullopt;
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = input_[pos_++];
            value <<= 4;
            if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
            else return std::nullopt;
        }
        return value;
    }

    bool parse_string(std::string& out) {
        if (!take('"')) return false;
        for (;;) {
            if (pos_ >= input_.size()) return false;
            const auto c = static_cast<unsigned char>(input_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) return false;
            if (c >= 0x80) {
                if (check_utf8_) {
                    const std::optional<Scalar> scalar = decode_scalar(std::string_view(input_).substr(pos_));
                    if (!scalar) return false;
                    out.append(std::string_view(input_).substr(pos_, scalar->length));
                    pos_ += scalar->length;
                } else {
                    out += static_cast<char>(c);
                    ++pos_;
                }
                continue;
            }
            ++pos_;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (pos_ >= input_.size()) return false;
            switch (input_[pos_++]) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    std::optional<unsigned> unit = hex4();
                    if (!unit) return false;
                    char32_t value = *unit;
                    if (value >= 0xDC00 && value <= 0xDFFF) return false;
                    if (value >= 0xD800 && value <= 0xDBFF) {
                        if (!take('\\') || !take('u')) return false;
                        const std::optional<unsigned> low = hex4();
                        if (!low || *low < 0xDC00 || *low > 0xDFFF) return false;
                        value = 0x10000 + ((value - 0xD800) << 10) + (*low - 0xDC00);
                    }
                    append_utf8(out, value);
                    break;
                }
                default:
                    return false;
            }
        }
    }

    bool literal(std::string_view word) {
        if (std::string_view(input_).substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    bool take(char c) {
        if (pos_ < input_.size() && input_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    void skip_space() {
        while (pos_ < input_.size() &&
               (input_[pos_] == ' ' || input_[pos_] == '\t' || input_[pos_] == '\n' || input_[pos_] == '\r')) {
            ++pos_;
            saw_space_ = true;
        }
    }

    std::string input_;
    bool check_utf8_;
    std::size_t pos_ = 0;
    bool saw_space_ = false;
};

}  // namespace fuzz
