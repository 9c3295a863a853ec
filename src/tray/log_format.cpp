#include "tray/log_format.h"

namespace nerova::tray {

std::string log_line_text(std::uint64_t tick_ms, std::string_view message) {
    std::string line = "[tick=" + std::to_string(tick_ms) + "] ";
    line.append(message);
    line += '\n';
    return line;
}

std::string gdiplus_startup_message(int status, std::uint64_t token, unsigned input_size, std::uint32_t last_error) {
    return "gdiplus_startup: status=" + std::to_string(status) + " token=" + std::to_string(token) +
           " input_size=" + std::to_string(input_size) + " last_err=" + std::to_string(last_error);
}

std::string init_message(std::uint64_t token, std::int64_t image) {
    return "init: gdiplus_token=" + std::to_string(token) + ", icon_image=" + std::to_string(image);
}

std::string render_failure_message(std::string_view call, std::uint32_t error) {
    std::string message = "render: ";
    message.append(call);
    return message + " failed, err=" + std::to_string(error);
}

std::string graphics_failure_message(int status) {
    return "render: GdipCreateFromHDC failed, status=" + std::to_string(status);
}

std::string layered_update_failure_message(std::uint32_t error, long left, long top) {
    return "render: UpdateLayeredWindow failed, err=" + std::to_string(error) + ", rect=(" + std::to_string(left) +
           "," + std::to_string(top) + ")";
}

}  // namespace nerova::tray
