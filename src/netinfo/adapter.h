// One network adapter as the selection rules see it, whatever the platform that listed it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/net.h"

namespace nerova::netinfo {

// The Windows meanings the rules refer to; other platforms translate to them.
constexpr std::uint32_t OPER_STATUS_UP = 1;
constexpr std::uint32_t OPER_STATUS_DOWN = 2;
constexpr std::uint32_t INTERFACE_TYPE_OTHER = 1;
constexpr std::uint32_t INTERFACE_TYPE_ETHERNET = 6;
constexpr std::uint32_t INTERFACE_TYPE_PPP = 23;
constexpr std::uint32_t INTERFACE_TYPE_SOFTWARE_LOOPBACK = 24;
constexpr std::uint32_t INTERFACE_TYPE_IEEE80211 = 71;
constexpr std::uint32_t INTERFACE_TYPE_TUNNEL = 131;
constexpr std::uint32_t ADAPTER_FLAG_DHCP_ENABLED = 0x4;

constexpr std::size_t MAX_HARDWARE_ADDRESS_LENGTH = 8;

// A list entry may lack its address (or carry a family other than IPv4 and IPv6).
using AddressEntry = std::optional<platform::SocketAddress>;

struct AdapterRecord {
    std::string friendly_name;  // UTF-8; an absent name is empty
    std::string description;
    std::uint32_t oper_status = 0;
    std::uint32_t if_type = 0;
    std::uint32_t flags = 0;
    std::array<std::uint8_t, MAX_HARDWARE_ADDRESS_LENGTH> hardware_address{};
    std::uint32_t hardware_address_length = 0;  // as reported, may exceed the bytes kept
    std::vector<AddressEntry> unicast_addresses;
    std::vector<AddressEntry> gateway_addresses;
    std::vector<AddressEntry> dns_server_addresses;
};

// What one survey of the operating system found. A failed adapter query gives an empty list.
struct Survey {
    std::string computer_name;
    std::vector<AdapterRecord> adapters;
};

}  // namespace nerova::netinfo
