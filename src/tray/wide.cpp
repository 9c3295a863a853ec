#include "tray/wide.h"

#include "common/text.h"

namespace nerova::tray {

std::u16string utf8_to_utf16(std::string_view utf8) {
    const std::string valid = text::utf8_lossy(utf8);
    std::u16string out;
    out.reserve(valid.size());
    for (std::size_t i = 0; i < valid.size();) {
        const auto byte = [&](std::size_t at) { return static_cast<char32_t>(static_cast<unsigned char>(valid[at])); };
        const char32_t lead = byte(i);
        char32_t code = 0;
        std::size_t length = 1;
        if (lead < 0x80) {
            code = lead;
        } else if (lead < 0xE0) {
            code = lead & 0x1F;
            length = 2;
        } else if (lead < 0xF0) {
            code = lead & 0x0F;
            length = 3;
        } else {
            code = lead & 0x07;
            length = 4;
        }
        for (std::size_t k = 1; k < length; ++k) code = (code << 6) | (byte(i + k) & 0x3F);
        i += length;
        if (code < 0x10000) {
            out += static_cast<char16_t>(code);
        } else {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        }
    }
    return out;
}

}  // namespace nerova::tray
