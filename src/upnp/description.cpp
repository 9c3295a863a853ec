#include "upnp/description.h"

#include <algorithm>

#include "common/text.h"
#include "upnp/http_url.h"

namespace nerova::upnp {

std::optional<std::string> control_url_in_description(std::string_view description) {
    const std::size_t service = std::min(description.find("WANIPConnection"), description.find("WANPPPConnection"));
    if (service == std::string_view::npos) return std::nullopt;
    constexpr std::string_view OPEN = "<controlURL>";
    const std::size_t open = description.find(OPEN, service);
    if (open == std::string_view::npos) return std::nullopt;
    const std::size_t start = open + OPEN.size();
    const std::size_t close = description.find("</controlURL>", start);
    if (close == std::string_view::npos) return std::nullopt;
    if (close - start > CONTROL_URL_LIMIT) return std::nullopt;
    const std::string decoded = text::utf8_lossy(description.substr(start, close - start));
    const std::string_view url = text::trim(decoded);
    if (url.empty()) return std::nullopt;
    return std::string(url);
}

std::optional<std::string> absolute_control_url(std::string_view location, std::string_view control_url) {
    if (text::starts_with(control_url, "http://") || text::starts_with(control_url, "https://")) {
        return std::string(control_url);
    }
    const std::optional<HttpUrl> base = parse_http_url(location);
    if (!base) return std::nullopt;
    std::string url = "http://" + base->host;
    if (base->port != 80) url += ":" + std::to_string(base->port);
    if (!text::starts_with(control_url, "/")) url += '/';
    url += control_url;
    return url;
}

}  // namespace nerova::upnp
