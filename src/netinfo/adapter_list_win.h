// Windows: the records of an IP Helper adapter list.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <vector>

#include "netinfo/adapter.h"

namespace nerova::netinfo {

// One record per list entry, in list order; names converted from UTF-16.
std::vector<AdapterRecord> adapters_from_list(const IP_ADAPTER_ADDRESSES* first);

}  // namespace nerova::netinfo
