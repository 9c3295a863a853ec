// Writing answers: one buffer per answer, always closed by the server.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/net.h"

namespace nerova::http {

inline constexpr std::string_view JSON_CONTENT_TYPE = "application/json; charset=utf-8";
inline constexpr std::string_view HTML_CONTENT_TYPE = "text/html; charset=utf-8";
inline constexpr std::string_view TEXT_CONTENT_TYPE = "text/plain; charset=utf-8";
inline constexpr std::string_view PNG_CONTENT_TYPE = "image/png";
inline constexpr std::string_view NO_STORE = "no-store";
inline constexpr std::string_view LONG_CACHE = "public, max-age=86400";

inline constexpr std::string_view PREFLIGHT_ANSWER =
    "HTTP/1.1 204 No Content\r\n"
    "Access-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Private-Network: true\r\n"
    "Access-Control-Allow-Methods: GET, OPTIONS\r\n"
    "Access-Control-Allow-Headers: *\r\n"
    "Content-Length: 0\r\n"
    "Connection: close\r\n"
    "\r\n";

struct Response {
    std::uint16_t status = 200;
    std::string_view reason;
    std::string_view content_type;
    std::string_view cache_control;
    std::string body;
};

std::string build_response(const Response& response);

// Write errors are ignored: the connection is closed afterwards either way.
void send_response(platform::Socket& socket, const Response& response);
void send_text(platform::Socket& socket, std::uint16_t status, std::string_view reason, std::string_view body);
void send_preflight(platform::Socket& socket);

}  // namespace nerova::http
