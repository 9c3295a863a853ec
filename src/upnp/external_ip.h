// The machine's public address, as the local router reports it over UPnP.
#pragma once

#include <optional>
#include <string>

namespace nerova::upnp {

// SSDP search, description fetch, one SOAP GetExternalIPAddress call. Nothing on any failure,
// silently; about 1.2 s when no router answers.
std::optional<std::string> upnp_external_ip();

}  // namespace nerova::upnp
