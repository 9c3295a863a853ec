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

std::optional<std::array<std::uint8_t, 4>> ipv4_literal(std::string_view text) {
    if (text.size() > 15) return std::nullopt;
    std::array<std::uint8_t, 4> bytes{};
    for (std::size_t part = 0; part < bytes.size(); ++part) {
        const std::size_t dot = text.find('.');
        if ((dot == std::string_view::npos) != (part == bytes.size() - 1)) return std::nullopt;
        const std::string_view digits = text.substr(0, dot);
        if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
        int value = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        if (value > 255) return std::nullopt;
        bytes[part] = static_cast<std::uint8_t>(value);
        text.remove_prefix(dot == std::string_view::npos ? text.size() : dot + 1);
    }
    return bytes;
}

bool same_ipv4_host(std::string_view url, std::string_view other) {
    const std::optional<HttpUrl> a = parse_http_url(url);
    const std::optional<HttpUrl> b = parse_http_url(other);
    if (!a || !b) return false;
    const auto address = ipv4_literal(a->host);
    return address && address == ipv4_literal(b->host);
}

}  // namespace nerova::upnp
