// Linux: the DNS servers of the resolver configuration.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "netinfo/adapter.h"

namespace nerova::netinfo {

constexpr const char* RESOLV_CONF_PATH = "/etc/resolv.conf";
// systemd-resolved's list of the upstream servers behind its local stub.
constexpr const char* RESOLVED_UPSTREAM_PATH = "/run/systemd/resolve/resolv.conf";

// The addresses of the "nameserver" lines, in order; a zone index ("%eth0") is dropped and a
// value that is no address is passed over.
std::vector<AddressEntry> nameservers_in_resolv_conf(std::string_view text);

// The servers of `resolv_conf_path`; when they are only local stubs (loopback addresses), the
// servers of `upstream_path` instead, if it names any.
std::vector<AddressEntry> resolver_dns_servers(const std::string& resolv_conf_path, const std::string& upstream_path);

}  // namespace nerova::netinfo
