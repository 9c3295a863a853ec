// The machine's public address, as the local router reports it over UPnP.
#pragma once

#include <future>
#include <optional>
#include <string>

namespace nerova::upnp {

using ExternalIp = std::optional<std::string>;

// One lookup: SSDP search, description fetch, one SOAP GetExternalIPAddress call. Nothing on any
// failure, silently; about 1.2 s when no router answers.
ExternalIp lookup_external_ip();

// The lookup in flight, on a thread of its own; a new one when none is. At most one lookup runs
// at a time in the process, so no number of requests or channels can multiply the datagrams
// sent; nothing is kept once it ends.
std::shared_future<ExternalIp> external_ip_lookup();

// Waits for the lookup in flight (or a new one) and gives its result.
ExternalIp upnp_external_ip();

}  // namespace nerova::upnp
