#include "upnp/http_client.h"

#include <algorithm>

#include "common/text.h"
#include "platform/net.h"

namespace nerova::upnp {
namespace {

// The host and path come from the network (an SSDP answer, a description); a blank or control
// character in them would break the request line or forge header lines.
bool fits_request(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F;
    });
}

std::optional<platform::SocketAddress> address_of(const HttpUrl& url) {
    if (auto literal = platform::parse_ip_literal(url.host, url.port)) return literal;
    return platform::resolve_first(url.host, url.port);
}

std::string read_response(platform::Socket& socket) {
    std::string response;
    char chunk[HTTP_RECEIVE_CHUNK];
    const auto deadline = std::chrono::steady_clock::now() + HTTP_READ_WINDOW;
    for (;;) {
        const platform::IoResult received = socket.receive(chunk, sizeof chunk);
        if (received.status != platform::IoStatus::ok) break;
        response.append(chunk, received.bytes);
        if (std::chrono::steady_clock::now() >= deadline || response.size() >= HTTP_MAX_RESPONSE_BYTES) break;
    }
    return response;
}

}  // namespace

std::string build_http_request(const HttpUrl& url, std::string_view method, const std::vector<HttpHeader>& headers,
                               std::string_view body) {
    std::string request;
    request.reserve(128 + url.path.size() + body.size());
    request.append(method).append(" ").append(url.path).append(" HTTP/1.1\r\n");
    request.append("Host: ").append(url.host).append("\r\n");
    request.append("Connection: close\r\n");
    for (const HttpHeader& header : headers) request.append(header.name).append(": ").append(header.value).append("\r\n");
    if (!body.empty()) request.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
    request.append("\r\n");
    request.append(body);
    return request;
}

std::optional<std::string> response_body(std::string_view response) {
    const std::string text = text::utf8_lossy(response);
    const std::size_t header_end = text.find("\r\n\r\n");
    if (header_end == std::string::npos) return std::nullopt;
    return text.substr(header_end + 4);
}

std::optional<std::string> http_request(std::string_view url, std::string_view method,
                                        const std::vector<HttpHeader>& headers, std::string_view body) {
    const std::optional<HttpUrl> parsed = parse_http_url(url);
    if (!parsed || !fits_request(parsed->host) || !fits_request(parsed->path)) return std::nullopt;
    const std::optional<platform::SocketAddress> address = address_of(*parsed);
    if (!address) return std::nullopt;
    std::optional<platform::Socket> socket = platform::Socket::connect_tcp(*address, HTTP_CONNECT_LIMIT);
    if (!socket) return std::nullopt;
    socket->set_receive_timeout(HTTP_SOCKET_LIMIT);
    socket->set_send_timeout(HTTP_SOCKET_LIMIT);

    // Head and body go out in one buffer: some routers only read a request that arrives whole.
    const std::string request = build_http_request(*parsed, method, headers, body);
    if (!socket->send_all(request.data(), request.size())) return std::nullopt;
    const std::string response = read_response(*socket);
    socket->close();
    return response_body(response);
}

}  // namespace nerova::upnp
