// The machine's public address, as the local router reports it over UPnP.
#pragma once

#include <optional>
#include <string>

#include "upnp/description.h"

namespace nerova::upnp {

// The steps of one lookup. The endpoint of a service is its absolute control URL, when that stays
// on the location's host; the call names the service's own type.
std::optional<std::string> service_endpoint(const std::string& location, const WanService& service);
std::optional<std::string> ask_external_ip(const std::string& endpoint, const std::string& service_type);

// One lookup: SSDP search, description fetch, a SOAP GetExternalIPAddress call to the first WAN
// connection service and, when that gives no address, one to the next. Nothing on any failure,
// silently; about 1.2 s when no router answers.
std::optional<std::string> lookup_external_ip();

// The result of the lookup in flight, or of a new one run on the calling thread. At most one
// lookup runs at a time in the process, so no number of requests or channels can multiply the
// datagrams sent; nothing is kept once it ends.
std::optional<std::string> upnp_external_ip();

// The same from a lookup that begins after this call: one in flight may have begun on the network
// before a change, so it is waited for and the next one is shared or started.
std::optional<std::string> upnp_external_ip_asked_anew();

}  // namespace nerova::upnp
