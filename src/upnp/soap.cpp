#include "upnp/soap.h"

#include "upnp/description.h"
#include "upnp/http_url.h"

namespace nerova::upnp {

namespace {

// The fixed request around its one variable part, the service type.
constexpr std::string_view BODY_HEAD =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
    "<s:Body>"
    "<u:GetExternalIPAddress xmlns:u=\"";
constexpr std::string_view BODY_TAIL = "\"/></s:Body></s:Envelope>";
static_assert(SOAP_GET_EXTERNAL_IP_BODY.substr(0, BODY_HEAD.size()) == BODY_HEAD);
static_assert(SOAP_GET_EXTERNAL_IP_BODY.substr(SOAP_GET_EXTERNAL_IP_BODY.size() - BODY_TAIL.size()) == BODY_TAIL);
static_assert(BODY_HEAD.size() + DEFAULT_SERVICE_TYPE.size() + BODY_TAIL.size() == SOAP_GET_EXTERNAL_IP_BODY.size());

}  // namespace

std::string soap_get_external_ip_body(std::string_view service_type) {
    std::string body;
    body.reserve(BODY_HEAD.size() + service_type.size() + BODY_TAIL.size());
    body.append(BODY_HEAD).append(service_type).append(BODY_TAIL);
    return body;
}

std::vector<HttpHeader> soap_get_external_ip_headers(std::string_view service_type) {
    return {
        {"Content-Type", "text/xml; charset=\"utf-8\""},
        {"SOAPAction", "\"" + std::string(service_type) + "#GetExternalIPAddress\""},
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
