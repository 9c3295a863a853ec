// WebSocket frames written by hand, as a browser would send them (and, for the fuzz targets, as
// none would).
#pragma once

#include <cstdint>
#include <string>

namespace nerova::test {

// A frame from its first byte (FIN, reserved bits, opcode) and payload in the shortest length
// form, masked with the 4-byte `key` when there is one.
inline std::string frame(std::uint8_t first, const std::string& payload, const char* key) {
    std::string bytes(1, static_cast<char>(first));
    const std::uint8_t mask_bit = key ? 0x80 : 0x00;
    if (payload.size() < 126) {
        bytes += static_cast<char>(mask_bit | payload.size());
    } else if (payload.size() < 65536) {
        bytes += static_cast<char>(mask_bit | 126);
        bytes += static_cast<char>(payload.size() >> 8);
        bytes += static_cast<char>(payload.size() & 0xFF);
    } else {
        bytes += static_cast<char>(mask_bit | 127);
        for (int shift = 56; shift >= 0; shift -= 8) bytes += static_cast<char>((payload.size() >> shift) & 0xFF);
    }
    if (key) bytes.append(key, 4);
    for (std::size_t i = 0; i < payload.size(); ++i) bytes += key ? static_cast<char>(payload[i] ^ key[i % 4]) : payload[i];
    return bytes;
}

inline std::string client_frame(std::uint8_t opcode, const std::string& payload, bool masked = true, bool fin = true) {
    static const char key[4] = {0x12, 0x34, 0x56, 0x78};
    return frame(static_cast<std::uint8_t>((fin ? 0x80 : 0x00) | opcode), payload, masked ? key : nullptr);
}

inline std::string text_frame(const std::string& payload) { return client_frame(0x1, payload); }

}  // namespace nerova::test
