// The router's device description: where its connection service is controlled.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nerova::upnp {

// The trimmed text of the first <controlURL> after the earlier of the first "WANIPConnection"
// and the first "WANPPPConnection"; nothing when either is missing or the URL is empty. Works on
// the description's raw bytes and decodes only the URL (invalid bytes as U+FFFD); a URL of more
// than CONTROL_URL_LIMIT bytes gives nothing.
constexpr std::size_t CONTROL_URL_LIMIT = 8192;
std::optional<std::string> control_url_in_description(std::string_view description);

// A WAN connection service of the description: the type its requests must name, and where it is
// controlled (as written; see absolute_control_url).
struct WanService {
    std::string service_type;
    std::string control_url;
};

// The service the marker rule above finds, then the next WANIPConnection or WANPPPConnection
// service after that one's </service>, when it has a control URL: at most two, nothing when the
// first has no control URL. A service's type is the trimmed <serviceType> of its own <service>
// element; one that is missing, too long or holds anything but printable ASCII that can stand in
// a quoted header and an XML attribute becomes DEFAULT_SERVICE_TYPE.
constexpr std::size_t SERVICE_TYPE_LIMIT = 256;
inline constexpr std::string_view DEFAULT_SERVICE_TYPE = "urn:schemas-upnp-org:service:WANIPConnection:1";
std::vector<WanService> wan_services_in_description(std::string_view description);

// An "http://" or "https://" control URL as it is; otherwise "http://", the location's host, its
// port when not 80, and the control URL from the root (the location's path is not used).
std::optional<std::string> absolute_control_url(std::string_view location, std::string_view control_url);

}  // namespace nerova::upnp
