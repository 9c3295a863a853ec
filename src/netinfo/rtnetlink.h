// Linux: one snapshot of the kernel's links, addresses and default routes over rtnetlink.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/net.h"

namespace nerova::netinfo {

struct NetlinkLink {
    int index = 0;
    std::string name;
    std::string kind;  // from the link info: "veth", "bridge", "tun", ...; empty for hardware
    std::uint16_t hardware_type = 0;  // ARPHRD_*
    std::uint32_t flags = 0;          // IFF_*
    std::optional<std::uint8_t> operstate;  // IF_OPER_*
    std::vector<std::uint8_t> hardware_address;
};

struct NetlinkAddress {
    int index = 0;
    platform::SocketAddress address;
    std::uint32_t flags = 0;  // IFA_F_*
};

// A default route of the main table through one gateway.
struct NetlinkGateway {
    int index = 0;
    platform::SocketAddress gateway;
    std::uint32_t priority = 0;
};

struct NetlinkSnapshot {
    std::vector<NetlinkLink> links;          // in the kernel's dump order
    std::vector<NetlinkAddress> addresses;   // in the kernel's dump order
    std::vector<NetlinkGateway> gateways;    // in the kernel's dump order
};

// Nothing when the kernel cannot be asked or answers with an error.
std::optional<NetlinkSnapshot> read_rtnetlink();

// Up, or in an unknown state (a driver that keeps none) while up and with a carrier.
bool is_operationally_up(const NetlinkLink& link);

}  // namespace nerova::netinfo
