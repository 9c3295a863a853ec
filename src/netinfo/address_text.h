// Text form of an adapter's socket addresses.
#pragma once

#include <string>

#include "netinfo/adapter.h"

namespace nerova::netinfo {

// IPv4 as dotted decimal; IPv6 as RFC 5952 text (lower-case hex, the longest run of two or more
// zero groups as "::", an IPv4-mapped address as ::ffff:a.b.c.d, no zone index). An absent
// address gives empty text.
std::string address_to_text(const AddressEntry& address);

}  // namespace nerova::netinfo
