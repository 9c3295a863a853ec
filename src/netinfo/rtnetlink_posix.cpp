#include "netinfo/rtnetlink.h"

#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <vector>

namespace nerova::netinfo {
namespace {

constexpr std::size_t FIRST_BUFFER_SIZE = 32 * 1024;
// The kernel answers at once; the limit only keeps a broken answer from hanging a request.
constexpr auto NETLINK_RECEIVE_LIMIT = std::chrono::milliseconds(1000);

using MessageHandler = std::function<void(const nlmsghdr&)>;

// The attributes that follow a fixed header, in order.
template <typename Visit>
void for_each_attribute(const void* data, std::size_t length, Visit&& visit) {
    auto* attribute = static_cast<const rtattr*>(data);
    auto remaining = static_cast<int>(length);
    for (; RTA_OK(attribute, remaining); attribute = RTA_NEXT(attribute, remaining)) {
        visit(*attribute, RTA_DATA(attribute), static_cast<std::size_t>(RTA_PAYLOAD(attribute)));
    }
}

template <typename Header>
std::size_t attributes_length(const nlmsghdr& message) {
    const std::size_t header = NLMSG_LENGTH(NLMSG_ALIGN(sizeof(Header)));
    return message.nlmsg_len > header ? message.nlmsg_len - header : 0;
}

template <typename Header>
const void* first_attribute(const nlmsghdr& message) {
    return static_cast<const char*>(NLMSG_DATA(&message)) + NLMSG_ALIGN(sizeof(Header));
}

std::string attribute_text(const void* data, std::size_t length) {
    const auto* chars = static_cast<const char*>(data);
    return std::string(chars, ::strnlen(chars, length));
}

std::uint32_t attribute_u32(const void* data, std::size_t length) {
    std::uint32_t value = 0;
    if (length >= sizeof value) std::memcpy(&value, data, sizeof value);
    return value;
}

std::optional<platform::SocketAddress> attribute_address(unsigned char family, const void* data, std::size_t length) {
    platform::SocketAddress address;
    if (family == AF_INET && length == 4) {
        address.family = platform::Family::ipv4;
    } else if (family == AF_INET6 && length == 16) {
        address.family = platform::Family::ipv6;
    } else {
        return std::nullopt;
    }
    std::memcpy(address.bytes.data(), data, length);
    return address;
}

// Sends one dump request and hands every answer message to `handle` until the kernel says done.
template <typename Body>
bool dump(int fd, std::uint16_t type, const Body& body, std::uint32_t sequence, const MessageHandler& handle) {
    struct {
        nlmsghdr header;
        Body body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(Body));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    request.body = body;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<const sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
        return false;
    }

    // Whole netlink messages, so the buffer is kept aligned for their headers.
    std::vector<nlmsghdr> storage(FIRST_BUFFER_SIZE / sizeof(nlmsghdr));
    for (;;) {
        // A message larger than the buffer would be cut off; ask for its size first.
        const ssize_t pending = ::recv(fd, nullptr, 0, MSG_PEEK | MSG_TRUNC);
        if (pending < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        const std::size_t needed = (static_cast<std::size_t>(pending) + sizeof(nlmsghdr) - 1) / sizeof(nlmsghdr);
        if (needed > storage.size()) storage.resize(needed);
        char* buffer = reinterpret_cast<char*>(storage.data());
        const std::size_t capacity = storage.size() * sizeof(nlmsghdr);
        sockaddr_nl sender{};
        socklen_t sender_length = sizeof sender;
        const ssize_t received = ::recvfrom(fd, buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&sender),
                                            &sender_length);
        if (received < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (static_cast<std::size_t>(received) > capacity) return false;
        if (sender.nl_pid != 0) continue;  // only the kernel speaks here
        auto remaining = static_cast<int>(received);
        for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(message, remaining);
             message = NLMSG_NEXT(message, remaining)) {
            if (message->nlmsg_seq != sequence) continue;
            if (message->nlmsg_type == NLMSG_DONE) return true;
            if (message->nlmsg_type == NLMSG_ERROR) return false;
            handle(*message);
        }
    }
}

void read_link(const nlmsghdr& message, std::vector<NetlinkLink>& links) {
    if (message.nlmsg_type != RTM_NEWLINK || message.nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) return;
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(&message));
    NetlinkLink link;
    link.index = info->ifi_index;
    link.hardware_type = info->ifi_type;
    link.flags = info->ifi_flags;
    for_each_attribute(first_attribute<ifinfomsg>(message), attributes_length<ifinfomsg>(message),
                       [&](const rtattr& attribute, const void* data, std::size_t length) {
                           switch (attribute.rta_type) {
                               case IFLA_IFNAME: link.name = attribute_text(data, length); break;
                               case IFLA_OPERSTATE:
                                   if (length >= 1) link.operstate = *static_cast<const std::uint8_t*>(data);
                                   break;
                               case IFLA_ADDRESS: {
                                   const auto* bytes = static_cast<const std::uint8_t*>(data);
                                   link.hardware_address.assign(bytes, bytes + length);
                                   break;
                               }
                               case IFLA_LINKINFO:
                                   for_each_attribute(data, length, [&](const rtattr& inner, const void* inner_data,
                                                                        std::size_t inner_length) {
                                       if (inner.rta_type == IFLA_INFO_KIND) {
                                           link.kind = attribute_text(inner_data, inner_length);
                                       }
                                   });
                                   break;
                               default: break;
                           }
                       });
    links.push_back(std::move(link));
}

void read_address(const nlmsghdr& message, std::vector<NetlinkAddress>& addresses) {
    if (message.nlmsg_type != RTM_NEWADDR || message.nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) return;
    const auto* info = static_cast<const ifaddrmsg*>(NLMSG_DATA(&message));
    std::optional<platform::SocketAddress> local, address;
    std::uint32_t flags = info->ifa_flags;
    for_each_attribute(first_attribute<ifaddrmsg>(message), attributes_length<ifaddrmsg>(message),
                       [&](const rtattr& attribute, const void* data, std::size_t length) {
                           switch (attribute.rta_type) {
                               // On a point-to-point link IFA_ADDRESS is the peer; IFA_LOCAL is ours.
                               case IFA_LOCAL: local = attribute_address(info->ifa_family, data, length); break;
                               case IFA_ADDRESS: address = attribute_address(info->ifa_family, data, length); break;
                               case IFA_FLAGS: flags = attribute_u32(data, length); break;
                               default: break;
                           }
                       });
    if (local) address = local;
    if (address) addresses.push_back({static_cast<int>(info->ifa_index), *address, flags});
}

void read_route(const nlmsghdr& message, std::vector<NetlinkGateway>& gateways) {
    if (message.nlmsg_type != RTM_NEWROUTE || message.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) return;
    const auto* info = static_cast<const rtmsg*>(NLMSG_DATA(&message));
    if (info->rtm_family != AF_INET && info->rtm_family != AF_INET6) return;
    if (info->rtm_dst_len != 0 || info->rtm_type != RTN_UNICAST) return;
    std::uint32_t table = info->rtm_table;
    std::uint32_t priority = 0;
    int out_index = 0;
    std::optional<platform::SocketAddress> gateway;
    std::vector<NetlinkGateway> hops;
    for_each_attribute(first_attribute<rtmsg>(message), attributes_length<rtmsg>(message),
                       [&](const rtattr& attribute, const void* data, std::size_t length) {
                           switch (attribute.rta_type) {
                               case RTA_TABLE: table = attribute_u32(data, length); break;
                               case RTA_PRIORITY: priority = attribute_u32(data, length); break;
                               case RTA_OIF: out_index = static_cast<int>(attribute_u32(data, length)); break;
                               case RTA_GATEWAY: gateway = attribute_address(info->rtm_family, data, length); break;
                               case RTA_MULTIPATH: {
                                   auto* hop = static_cast<const rtnexthop*>(data);
                                   auto remaining = static_cast<int>(length);
                                   while (RTNH_OK(hop, remaining)) {
                                       const std::size_t inner_length = hop->rtnh_len - RTNH_LENGTH(0);
                                       for_each_attribute(RTNH_DATA(hop), inner_length,
                                                          [&](const rtattr& inner, const void* inner_data,
                                                              std::size_t length_of_inner) {
                                           if (inner.rta_type != RTA_GATEWAY) return;
                                           if (auto via = attribute_address(info->rtm_family, inner_data, length_of_inner)) {
                                               hops.push_back({hop->rtnh_ifindex, *via, 0});
                                           }
                                       });
                                       remaining -= static_cast<int>(RTNH_ALIGN(hop->rtnh_len));
                                       hop = RTNH_NEXT(hop);
                                   }
                                   break;
                               }
                               default: break;
                           }
                       });
    if (table != RT_TABLE_MAIN) return;
    if (gateway && out_index != 0) gateways.push_back({out_index, *gateway, priority});
    for (NetlinkGateway& hop : hops) {
        hop.priority = priority;
        gateways.push_back(hop);
    }
}

}  // namespace

std::optional<NetlinkSnapshot> read_rtnetlink() {
    platform::Socket socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!socket.valid()) return std::nullopt;
    socket.set_receive_timeout(NETLINK_RECEIVE_LIMIT);
    const int fd = static_cast<int>(socket.handle());

    NetlinkSnapshot snapshot;
    ifinfomsg link_request{};
    link_request.ifi_family = AF_UNSPEC;
    if (!dump(fd, RTM_GETLINK, link_request, 1, [&](const nlmsghdr& m) { read_link(m, snapshot.links); })) {
        return std::nullopt;
    }
    // Addresses and routes are each worth having without the other.
    ifaddrmsg address_request{};
    address_request.ifa_family = AF_UNSPEC;
    if (!dump(fd, RTM_GETADDR, address_request, 2, [&](const nlmsghdr& m) { read_address(m, snapshot.addresses); })) {
        snapshot.addresses.clear();
    }
    rtmsg route_request{};
    route_request.rtm_family = AF_UNSPEC;
    if (!dump(fd, RTM_GETROUTE, route_request, 3, [&](const nlmsghdr& m) { read_route(m, snapshot.gateways); })) {
        snapshot.gateways.clear();
    }
    return snapshot;
}

}  // namespace nerova::netinfo
