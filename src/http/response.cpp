#include "http/response.h"

namespace nerova::http {

std::string build_response(const Response& response) {
    std::string out;
    out.reserve(response.body.size() + 256);
    out += "HTTP/1.1 ";
    out += std::to_string(response.status);
    out += ' ';
    out += response.reason;
    out += "\r\nAccess-Control-Allow-Origin: *\r\nAccess-Control-Allow-Private-Network: true\r\nContent-Type: ";
    out += response.content_type;
    out += "\r\nCache-Control: ";
    out += response.cache_control;
    out += "\r\nContent-Length: ";
    out += std::to_string(response.body.size());
    out += "\r\nConnection: close\r\n\r\n";
    out += response.body;
    return out;
}

void send_response(platform::Socket& socket, const Response& response) {
    const std::string bytes = build_response(response);
    socket.send_all(bytes.data(), bytes.size());
}

void send_text(platform::Socket& socket, std::uint16_t status, std::string_view reason, std::string_view body) {
    send_response(socket, Response{status, reason, TEXT_CONTENT_TYPE, NO_STORE, std::string(body)});
}

void send_preflight(platform::Socket& socket) { socket.send_all(PREFLIGHT_ANSWER.data(), PREFLIGHT_ANSWER.size()); }

}  // namespace nerova::http
