// SHA-1 and Base64 from the platform's crypto library, for the WebSocket accept value.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace nerova::platform {

std::array<std::uint8_t, 20> sha1(std::string_view data);

// Standard alphabet with "=" padding, no line breaks.
std::string base64(const std::uint8_t* data, std::size_t size);

}  // namespace nerova::platform
