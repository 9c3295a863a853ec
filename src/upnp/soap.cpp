#include "upnp/soap.h"

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
    }
    if (!is_dotted_quad(value)) return std::nullopt;
    return value;
}

bool is_dotted_quad(std::string_view text) {
    if (text.size() > 15) return false;
    int parts = 0;
    while (true) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part.front() == '0')) return false;
        int value = 0;
        for (const char c : part) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        if (value > 255) return false;
        ++parts;
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
    }
    return parts == 4;
}

}  // namespace nerova::upnp
