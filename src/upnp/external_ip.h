// The machine's public address, as the local router reports it over UPnP.
#pragma once

#include <optional>
#include <string>

namespace nerova::upnp {

// One lookup: SSDP search, description fetch, one SOAP GetExternalIPAddress call. Nothing on any
// failure, silently; about 1.2 s when no router answers.
std::optional<std::string> lookup_external_ip();

// The result of the lookup in flight, or of a new one run on the calling thread. At most one
// lookup runs at a time in the process, so no number of requests or channels can multiply the
// datagrams sent; nothing is kept once it ends.
std::optional<std::string> upnp_external_ip();

}  // namespace nerova::upnp
