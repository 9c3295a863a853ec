// WebSocket frames written by hand, as a browser would send them.
#pragma once

#include <cstdint>
#include <string>

namespace nerova::test {

inline std::string client_frame(std::uint8_t opcode, const std::string& payload, bool masked = true, bool fin = true) {
    std::string frame;
    frame += static_cast<char>((fin ? 0x80 : 0x00) | opcode);
    const std::uint8_t mask_bit = masked ? 0x80 : 0x00;
    if (payload.size() < 126) {
        frame += static_cast<char>(mask_bit | payload.size());
    } else if (payload.size() < 65536) {
        frame += static_cast<char>(mask_bit | 126);
        frame += static_cast<char>(payload.size() >> 8);
        frame += static_cast<char>(payload.size() & 0xFF);
    } else {
        frame += static_cast<char>(mask_bit | 127);
        for (int shift = 56; shift >= 0; shift -= 8) frame += static_cast<char>((payload.size() >> shift) & 0xFF);
    }
    const char key[4] = {0x12, 0x34, 0x56, 0x78};
    if (masked) frame.append(key, 4);
    for (std::size_t i = 0; i < payload.size(); ++i) frame += masked ? static_cast<char>(payload[i] ^ key[i % 4]) : payload[i];
    return frame;
}

inline std::string text_frame(const std::string& payload) { return client_frame(0x1, payload); }

}  // namespace nerova::test
