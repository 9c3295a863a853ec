// The router's device description: where its connection service is controlled.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace nerova::upnp {

// The trimmed text of the first <controlURL> after the earlier of the first "WANIPConnection"
// and the first "WANPPPConnection"; nothing when either is missing or the URL is empty. Works on
// the description's raw bytes and decodes only the URL (invalid bytes as U+FFFD); a URL of more
// than CONTROL_URL_LIMIT bytes gives nothing.
constexpr std::size_t CONTROL_URL_LIMIT = 8192;
std::optional<std::string> control_url_in_description(std::string_view description);

// An "http://" or "https://" control URL as it is; otherwise "http://", the location's host, its
// port when not 80, and the control URL from the root (the location's path is not used).
std::optional<std::string> absolute_control_url(std::string_view location, std::string_view control_url);

}  // namespace nerova::upnp
