// The diagnostic log's lines, as text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nerova::tray {

// "[tick=<tick>] <message>\n"; the message is written as it is, line feeds included.
std::string log_line_text(std::uint64_t tick_ms, std::string_view message);

std::string gdiplus_startup_message(int status, std::uint64_t token, unsigned input_size, std::uint32_t last_error);
std::string init_message(std::uint64_t token, std::int64_t image);

// "render: <call> failed, err=<err>" for GetDC, CreateCompatibleDC and CreateDIBSection.
std::string render_failure_message(std::string_view call, std::uint32_t error);
std::string graphics_failure_message(int status);
std::string layered_update_failure_message(std::uint32_t error, long left, long top);

}  // namespace nerova::tray
