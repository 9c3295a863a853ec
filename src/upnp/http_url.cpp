#include "upnp/http_url.h"

namespace nerova::upnp {
namespace {

std::optional<std::uint16_t> parse_port(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<HttpUrl> parse_http_url(std::string_view url) {
    constexpr std::string_view SCHEME = "http://";
    if (url.substr(0, SCHEME.size()) != SCHEME) return std::nullopt;
    url.remove_prefix(SCHEME.size());

    HttpUrl parsed;
    const std::size_t slash = url.find('/');
    std::string_view authority = url.substr(0, slash);
    if (slash != std::string_view::npos) parsed.path = std::string(url.substr(slash));

    const std::size_t colon = authority.find(':');
    if (colon != std::string_view::npos) {
        const std::optional<std::uint16_t> port = parse_port(authority.substr(colon + 1));
        if (!port) return std::nullopt;
        parsed.port = *port;
        authority = authority.substr(0, colon);
    }
    if (authority.empty()) return std::nullopt;
    parsed.host = std::string(authority);
    return parsed;
}

}  // namespace nerova::upnp
