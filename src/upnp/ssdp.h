// SSDP: the multicast search for an Internet Gateway Device and the location of its description.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/net.h"

namespace nerova::upnp {

inline constexpr std::string_view SSDP_SEARCH_DATAGRAM =
    "M-SEARCH * HTTP/1.1\r\n"
    "HOST: 239.255.255.250:1900\r\n"
    "MAN: \"ssdp:discover\"\r\n"
    "MX: 1\r\n"
    "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
    "\r\n";
static_assert(SSDP_SEARCH_DATAGRAM.size() == 137);

constexpr int SSDP_SEARCH_COPIES = 2;
constexpr auto SSDP_RECEIVE_LIMIT = std::chrono::milliseconds(1200);
constexpr auto SSDP_SEARCH_WINDOW = std::chrono::milliseconds(1200);
constexpr std::size_t SSDP_RECEIVE_BUFFER = 2048;

// The URL of the first "location:" line (any ASCII case) with a non-empty value, or nothing.
std::optional<std::string> location_in_answer(std::string_view datagram);

// Whether an answer from `sender` that names `location` may be followed: the location is an
// "http://" URL whose host is the sender's own IPv4 address written out, and the sender is not a
// loopback address. Anything else would let any host on the network send the lookup's requests
// wherever it liked, the helper's own port included.
bool trusted_location(std::string_view location, const platform::SocketAddress& sender);

// Searches, and returns the location named by the first trusted answer that names one; other
// answers are skipped while the window lasts. Nothing when no such answer comes within the window
// or the socket fails.
std::optional<std::string> ssdp_search_location();

}  // namespace nerova::upnp
