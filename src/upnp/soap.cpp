#include "upnp/soap.h"

#include "upnp/http_url.h"

namespace nerova::upnp {

std::vector<HttpHeader> soap_get_external_ip_headers() {
    return {
        {"Content-Type", "text/xml; charset=\"utf-8\""},
        {"SOAPAction", "\"urn:schemas-upnp-org:service:WANIPConnection:1#GetExternalIPAddress\""},
    };
}

std::optional<std::string> external_ip_in_answer(std::string_view answer) {
    const std::size_t name = answer.find("NewExternalIPAddress");
    if (name == std::string_view::npos) return std::nullopt;
    const std::size_t open_end = answer.find('>', name);
    if (open_end == std::string_view::npos) return std::nullopt;
    const std::size_t close = answer.find('<', open_end + 1);
    if (close == std::string_view::npos) return std::nullopt;
    std::string value;
    for (const char c : answer.substr(open_end + 1, close - open_end - 1)) {
        if ((c >= '0' && c <= '9') || c == '.') value += c;
        if (value.size() > 15) return std::nullopt;  // longer than any address
    }
    if (!is_dotted_quad(value)) return std::nullopt;
    return value;
}

bool is_dotted_quad(std::string_view text) { return ipv4_literal(text).has_value(); }

}  // namespace nerova::upnp
