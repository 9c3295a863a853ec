// parse_http_url: what it accepts is an "http://" URL it can write back and read again to the
// same parts, and it accepts every URL with a host and a port in range.
#include "fuzz_support.h"
#include "upnp/description.h"
#include "upnp/http_url.h"

namespace {

using nerova::upnp::HttpUrl;

// Whether the URL should parse, from the rule: "http://", a non-empty host up to the first "/"
// or ":", and a port of decimal digits (one "+" allowed) not above 65535.
bool should_parse(std::string_view url) {
    if (url.substr(0, 7) != "http://") return false;
    std::string_view authority = url.substr(7);
    authority = authority.substr(0, authority.find('/'));
    const std::size_t colon = authority.find(':');
    if (colon == 0 || authority.empty()) return false;
    if (colon == std::string_view::npos) return true;
    std::string_view port = authority.substr(colon + 1);
    if (!port.empty() && port[0] == '+') port.remove_prefix(1);
    if (port.empty()) return false;
    unsigned long value = 0;
    for (const char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > 65535) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    const std::optional<HttpUrl> parsed = nerova::upnp::parse_http_url(url);
    FUZZ_CHECK(parsed.has_value() == should_parse(url));
    if (!parsed) return 0;

    FUZZ_CHECK(!parsed->host.empty());
    FUZZ_CHECK(parsed->host.find_first_of("/:") == std::string::npos);
    FUZZ_CHECK(!parsed->path.empty() && parsed->path[0] == '/');
    FUZZ_CHECK(url.compare(7, parsed->host.size(), parsed->host) == 0);
    const bool has_path = url.find('/', 7) != std::string::npos;
    if (has_path) {
        FUZZ_CHECK(url.size() >= parsed->path.size() &&
                   url.compare(url.size() - parsed->path.size(), parsed->path.size(), parsed->path) == 0);
    } else {
        FUZZ_CHECK(parsed->path == "/");
    }

    const std::string written = "http://" + parsed->host + ":" + std::to_string(parsed->port) + parsed->path;
    const std::optional<HttpUrl> again = nerova::upnp::parse_http_url(written);
    FUZZ_CHECK(again && again->host == parsed->host && again->port == parsed->port && again->path == parsed->path);

    // The same URL as the base of a root-relative control URL keeps its host and port.
    const std::optional<std::string> control = nerova::upnp::absolute_control_url(url, "/ctl");
    FUZZ_CHECK(control.has_value());
    const std::optional<HttpUrl> endpoint = nerova::upnp::parse_http_url(*control);
    FUZZ_CHECK(endpoint && endpoint->host == parsed->host && endpoint->port == parsed->port && endpoint->path == "/ctl");
    return 0;
}
