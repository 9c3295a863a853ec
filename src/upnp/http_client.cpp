#include "upnp/http_client.h"

#include <algorithm>

#include "platform/net.h"

namespace nerova::upnp {
namespace {

// The path comes from the network (an SSDP answer, a description); a blank or control character
// in it would break the request line or forge header lines.
bool fits_request(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F;
    });
}

std::string read_response(platform::Socket& socket) {
    std::string response;
    // Reserved whole, so the buffer never grows by copying: only the pages that arrive are used.
    response.reserve(HTTP_MAX_RESPONSE_BYTES);
    char chunk[HTTP_RECEIVE_CHUNK];
    const auto deadline = std::chrono::steady_clock::now() + HTTP_READ_WINDOW;
    while (response.size() < HTTP_MAX_RESPONSE_BYTES) {
        const std::size_t room = std::min(sizeof chunk, HTTP_MAX_RESPONSE_BYTES - response.size());
        const platform::IoResult received = socket.receive(chunk, room);
        if (received.status != platform::IoStatus::ok) break;
        response.append(chunk, received.bytes);
        if (std::chrono::steady_clock::now() >= deadline) break;
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

std::optional<std::string> response_body(std::string response) {
    const std::size_t header_end = response.find("\r\n\r\n");
    if (header_end == std::string::npos) return std::nullopt;
    response.erase(0, header_end + 4);
    return response;
}

std::optional<std::string> http_request(std::string_view url, std::string_view method,
                                        const std::vector<HttpHeader>& headers, std::string_view body) {
    const std::optional<HttpUrl> parsed = parse_http_url(url);
    if (!parsed || !fits_request(parsed->path)) return std::nullopt;
    // Only an address written out: the router is reached by the address that answered, and a
    // host name would wait on a resolver that may never answer.
    const std::optional<std::array<std::uint8_t, 4>> host = ipv4_literal(parsed->host);
    if (!host) return std::nullopt;
    const platform::SocketAddress address =
        platform::ipv4_address((*host)[0], (*host)[1], (*host)[2], (*host)[3], parsed->port);
    std::optional<platform::Socket> socket = platform::Socket::connect_tcp(address, HTTP_CONNECT_LIMIT);
    if (!socket) return std::nullopt;
    socket->set_receive_timeout(HTTP_SOCKET_LIMIT);
    socket->set_send_timeout(HTTP_SOCKET_LIMIT);

    // Head and body go out in one buffer: some routers only read a request that arrives whole.
    const std::string request = build_http_request(*parsed, method, headers, body);
    if (!socket->send_all(request.data(), request.size())) return std::nullopt;
    std::string response = read_response(*socket);
    socket->close();
    return response_body(std::move(response));
}

}  // namespace nerova::upnp
