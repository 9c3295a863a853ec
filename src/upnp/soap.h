// The SOAP call GetExternalIPAddress and the address in its answer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "upnp/http_client.h"

namespace nerova::upnp {

// The request for a WANIPConnection:1 service, byte for byte.
inline constexpr std::string_view SOAP_GET_EXTERNAL_IP_BODY =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
    "<s:Body>"
    "<u:GetExternalIPAddress xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\"/>"
    "</s:Body></s:Envelope>";
static_assert(SOAP_GET_EXTERNAL_IP_BODY.size() == 274);

// The same request naming `service_type` (the service's own: router stacks built on libupnp
// refuse a SOAPAction of another type). For WANIPConnection:1 it is SOAP_GET_EXTERNAL_IP_BODY.
std::string soap_get_external_ip_body(std::string_view service_type);

// Content-Type, then SOAPAction "<service_type>#GetExternalIPAddress" in double quotes.
std::vector<HttpHeader> soap_get_external_ip_headers(std::string_view service_type);

// The digits and dots of the text between the ">" after the first "NewExternalIPAddress" and the
// next "<", when they form a dotted-quad IPv4 address; otherwise nothing. Works on the answer's
// raw bytes: the markers are ASCII, so they stand where they would in the decoded text.
std::optional<std::string> external_ip_in_answer(std::string_view answer);

// Four parts of 0 to 255, one to three digits each, no leading zero, 15 characters at most.
bool is_dotted_quad(std::string_view text);

}  // namespace nerova::upnp
