#include "upnp/description.h"

#include <algorithm>

#include "common/text.h"
#include "upnp/http_url.h"

namespace nerova::upnp {
namespace {

constexpr std::string_view CONTROL_OPEN = "<controlURL>";
constexpr std::string_view CONTROL_CLOSE = "</controlURL>";

struct Found {
    std::string control_url;
    std::size_t control_open;   // where its <controlURL> starts
    std::size_t control_close;  // where its </controlURL> starts
};

// The first control URL after the earlier service marker at or after `from`.
std::optional<Found> control_url_after(std::string_view description, std::size_t from) {
    const std::size_t service =
        std::min(description.find("WANIPConnection", from), description.find("WANPPPConnection", from));
    if (service == std::string_view::npos) return std::nullopt;
    const std::size_t open = description.find(CONTROL_OPEN, service);
    if (open == std::string_view::npos) return std::nullopt;
    const std::size_t start = open + CONTROL_OPEN.size();
    const std::size_t close = description.find(CONTROL_CLOSE, start);
    if (close == std::string_view::npos) return std::nullopt;
    if (close - start > CONTROL_URL_LIMIT) return std::nullopt;
    const std::string decoded = text::utf8_lossy(description.substr(start, close - start));
    const std::string_view url = text::trim(decoded);
    if (url.empty()) return std::nullopt;
    return Found{std::string(url), open, close};
}

// The value goes into a quoted SOAPAction header and a quoted XML attribute as it is.
bool usable_service_type(std::string_view type) {
    if (type.empty() || type.size() > SERVICE_TYPE_LIMIT) return false;
    return std::all_of(type.begin(), type.end(), [](char c) {
        return c > ' ' && c < 0x7F && c != '"' && c != '\'' && c != '<' && c != '>' && c != '&' && c != '\\';
    });
}

// The <serviceType> of the <service> element holding the control URL at `control_open`.
std::string service_type_around(std::string_view description, std::size_t control_open, std::size_t element_end) {
    const std::size_t element = description.rfind("<service>", control_open);
    if (element == std::string_view::npos || description.find("</service>", element) < control_open) {
        return std::string(DEFAULT_SERVICE_TYPE);  // the URL stands in no element of its own
    }
    constexpr std::string_view TYPE_OPEN = "<serviceType>";
    const std::size_t open = description.find(TYPE_OPEN, element);
    if (open == std::string_view::npos || open >= element_end) return std::string(DEFAULT_SERVICE_TYPE);
    const std::size_t start = open + TYPE_OPEN.size();
    const std::size_t close = description.find("</serviceType>", start);
    if (close == std::string_view::npos || close >= element_end) return std::string(DEFAULT_SERVICE_TYPE);
    const std::string_view type = text::trim(description.substr(start, close - start));
    return usable_service_type(type) ? std::string(type) : std::string(DEFAULT_SERVICE_TYPE);
}

}  // namespace

std::optional<std::string> control_url_in_description(std::string_view description) {
    std::optional<Found> found = control_url_after(description, 0);
    if (!found) return std::nullopt;
    return std::move(found->control_url);
}

std::vector<WanService> wan_services_in_description(std::string_view description) {
    std::vector<WanService> services;
    std::size_t from = 0;
    for (int n = 0; n < 2; ++n) {
        std::optional<Found> found = control_url_after(description, from);
        if (!found) break;
        // The element ends at its </service>; a description without one ends the search here.
        const std::size_t end = description.find("</service>", found->control_close);
        services.push_back({service_type_around(description, found->control_open,
                                                end == std::string_view::npos ? description.size() : end),
                            std::move(found->control_url)});
        if (end == std::string_view::npos) break;
        from = end;
    }
    return services;
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
