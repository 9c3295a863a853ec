// The "http://" URLs the router lookup fetches.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nerova::upnp {

struct HttpUrl {
    std::string host;       // never empty, exactly as written (no brackets understood)
    std::uint16_t port = 80;
    std::string path = "/";  // always begins with "/", query included
};

// Only "http://" in lower case; the port, when given, is 0 to 65535 with one optional "+".
std::optional<HttpUrl> parse_http_url(std::string_view url);

// The bytes of a dotted-quad IPv4 address: four parts of 0 to 255, one to three digits each, no
// leading zero, 15 characters at most; nothing for anything else.
std::optional<std::array<std::uint8_t, 4>> ipv4_literal(std::string_view text);

// Whether both URLs parse and name the same IPv4 literal as their host (ports may differ).
bool same_ipv4_host(std::string_view url, std::string_view other);

}  // namespace nerova::upnp
