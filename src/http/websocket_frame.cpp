#include "http/websocket_frame.h"

namespace nerova::http {

std::optional<FrameHeader> frame_header(std::string_view bytes) {
    if (bytes.size() < 2) return std::nullopt;
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t length7 = byte(1) & 0x7F;
    const std::size_t extended = length7 == 126 ? 2 : length7 == 127 ? 8 : 0;
    FrameHeader header;
    header.opcode = byte(0) & 0x0F;
    header.header_size = 2 + extended + ((byte(1) & 0x80) ? 4 : 0);
    if (bytes.size() < header.header_size) return std::nullopt;
    header.payload_size = length7;
    if (extended != 0) {
        header.payload_size = 0;
        for (std::size_t i = 0; i < extended; ++i) header.payload_size = (header.payload_size << 8) | byte(2 + i);
    }
    return header;
}

}  // namespace nerova::http
