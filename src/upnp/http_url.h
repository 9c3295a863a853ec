// The "http://" URLs the router lookup fetches.
#pragma once

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

}  // namespace nerova::upnp
