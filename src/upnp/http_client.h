// A one-shot HTTP/1.1 client for the router's description and its SOAP control endpoint: one
// request per connection, short fixed limits, no parsing beyond cutting off the header block.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "upnp/http_url.h"

namespace nerova::upnp {

struct HttpHeader {
    std::string name;
    std::string value;
};

constexpr auto HTTP_CONNECT_LIMIT = std::chrono::milliseconds(800);
constexpr auto HTTP_SOCKET_LIMIT = std::chrono::milliseconds(800);  // each blocked send or receive
constexpr auto HTTP_READ_WINDOW = std::chrono::milliseconds(800);   // reading stops after this
constexpr std::size_t HTTP_RECEIVE_CHUNK = 4096;
// Reading also stops here: within the read window a fast peer could otherwise fill memory.
constexpr std::size_t HTTP_MAX_RESPONSE_BYTES = 4 * 1024 * 1024;

// The request bytes: request line, Host (without the port), "Connection: close", the given
// headers, Content-Length only for a non-empty body, a blank line and the body.
std::string build_http_request(const HttpUrl& url, std::string_view method, const std::vector<HttpHeader>& headers,
                               std::string_view body);

// The bytes after the first blank line of a response; nothing without a blank line. The status
// and headers are not looked at. The body stays raw: readers look for ASCII markers in it and
// decode only what they take out, so a body of invalid bytes costs no more than its size.
std::optional<std::string> response_body(std::string response);

// The response body, raw. Nothing on any failure: a bad URL or one whose host is not an IPv4
// address written out (no name is ever resolved), connect failure or time-out, send failure, no
// header end in what arrived.
std::optional<std::string> http_request(std::string_view url, std::string_view method,
                                        const std::vector<HttpHeader>& headers, std::string_view body);

}  // namespace nerova::upnp
