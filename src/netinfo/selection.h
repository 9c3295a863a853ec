// Picks the adapter that stands for this machine and fills the status document from it.
// Pure: the per-platform surveys feed it plain adapter records.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "netinfo/adapter.h"
#include "netinfo/status.h"

namespace nerova::netinfo {

// Any of these as a plain substring of the lower-cased "friendly name + blank + description"
// marks a virtual, tunnel or VPN adapter.
inline constexpr std::array<std::string_view, 23> excluded_adapter_keywords = {
    "vmware", "virtualbox", "vbox",   "hyper-v",     "vethernet", "wsl",    "tailscale", "loopback",
    "pseudo", "teredo",     "isatap", "6to4",        "bluetooth", "zerotier", "hamachi", "tap-windows",
    "tun",    "utun",       "bridge", "docker",      "kube",      "vpnkit", "parallels",
};

bool has_excluded_name(const AdapterRecord& adapter);

// Index of the first unicast address that is IPv4 and not 127.x, or nothing.
std::optional<std::size_t> usable_ipv4_index(const std::vector<AddressEntry>& unicast_addresses);

// The first adapter, in list order, that is up, not loopback, not excluded by name and has a
// usable IPv4 address; later adapters are not looked at.
const AdapterRecord* select_adapter(const std::vector<AdapterRecord>& adapters);

// Upper-case hex byte pairs joined by ":"; empty for a length of 0 or above 8.
std::string hardware_address_text(const AdapterRecord& adapter);

// The whole document: adapter fields from the selected adapter (if any), the public address
// from the router lookup (if any), and the derived mode and router flag.
StatusDocument status_from_survey(const std::string& token, const Survey& survey,
                                  const std::optional<std::string>& wan_ip);

}  // namespace nerova::netinfo
