// The WebSocket frame header (RFC 6455), read on its own: the program needs a frame's size before
// the framing library sees it (to refuse an oversized one) and after (to drop a Close it wrote).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace nerova::http {

inline constexpr std::uint8_t CLOSE_OPCODE = 0x8;
inline constexpr std::size_t MAX_FRAME_HEADER = 14;

struct FrameHeader {
    std::uint8_t opcode = 0;
    std::size_t header_size = 0;  // the masking key included
    std::uint64_t payload_size = 0;
};

// The header at the start of `bytes`; nothing while it is not complete.
std::optional<FrameHeader> frame_header(std::string_view bytes);

}  // namespace nerova::http
