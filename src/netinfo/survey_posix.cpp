#include "netinfo/survey.h"

#include <linux/if.h>
#include <linux/if_addr.h>
#include <linux/if_arp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "common/text.h"
#include "netinfo/resolv_conf.h"
#include "netinfo/rtnetlink.h"
#include "netinfo/selection.h"
#include "platform/system.h"

namespace nerova::netinfo {
namespace {

// What sysfs tells about one link, read only when sysfs shows this network namespace's link.
struct SysfsFacts {
    bool wireless = false;
    std::string driver;
};

bool exists(const std::string& path) {
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0;
}

// sysfs belongs to the network namespace that mounted it, which need not be ours; a link of the
// same name elsewhere is told apart by its index.
SysfsFacts sysfs_facts(const NetlinkLink& link) {
    SysfsFacts facts;
    if (link.name.empty() || link.name.find('/') != std::string::npos || link.name == "." || link.name == "..") {
        return facts;
    }
    const std::string base = "/sys/class/net/" + link.name;
    const std::optional<std::string> index = platform::read_file(base + "/ifindex");
    if (!index || text::trim(*index) != std::to_string(link.index)) return facts;
    facts.wireless = exists(base + "/wireless") || exists(base + "/phy80211");
    char target[PATH_MAX];
    const ssize_t length = ::readlink((base + "/device/driver").c_str(), target, sizeof target - 1);
    if (length > 0) {
        const std::string_view path(target, static_cast<std::size_t>(length));
        const std::size_t slash = path.rfind('/');
        facts.driver = std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
    }
    return facts;
}

std::uint32_t interface_type(const NetlinkLink& link, const SysfsFacts& facts) {
    if ((link.flags & IFF_LOOPBACK) != 0 || link.hardware_type == ARPHRD_LOOPBACK) return INTERFACE_TYPE_SOFTWARE_LOOPBACK;
    if (facts.wireless) return INTERFACE_TYPE_IEEE80211;
    switch (link.hardware_type) {
        case ARPHRD_ETHER: return INTERFACE_TYPE_ETHERNET;
        case ARPHRD_PPP: return INTERFACE_TYPE_PPP;
        case ARPHRD_NONE:
        case ARPHRD_TUNNEL:
        case ARPHRD_TUNNEL6:
        case ARPHRD_SIT:
        case ARPHRD_IPGRE:
        case ARPHRD_IP6GRE: return INTERFACE_TYPE_TUNNEL;
        default: return INTERFACE_TYPE_OTHER;
    }
}

std::string host_name() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return text::utf8_lossy(std::string_view(name, ::strnlen(name, sizeof name)));
}

AdapterRecord adapter_from(const NetlinkLink& link, const NetlinkSnapshot& snapshot,
                           const std::vector<AddressEntry>& dns_servers) {
    const SysfsFacts facts = sysfs_facts(link);
    AdapterRecord adapter;
    adapter.friendly_name = text::utf8_lossy(link.name);
    adapter.description = text::utf8_lossy(link.kind.empty() ? facts.driver : link.kind);
    adapter.oper_status = is_operationally_up(link) ? OPER_STATUS_UP : OPER_STATUS_DOWN;
    adapter.if_type = interface_type(link, facts);
    adapter.hardware_address_length = static_cast<std::uint32_t>(link.hardware_address.size());
    std::copy_n(link.hardware_address.begin(), std::min(link.hardware_address.size(), MAX_HARDWARE_ADDRESS_LENGTH),
                adapter.hardware_address.begin());

    std::vector<std::uint32_t> address_flags;
    for (const NetlinkAddress& address : snapshot.addresses) {
        if (address.index != link.index) continue;
        adapter.unicast_addresses.emplace_back(address.address);
        address_flags.push_back(address.flags);
    }
    // DHCP: the address the selection will take was handed out with a lifetime.
    if (const auto chosen = usable_ipv4_index(adapter.unicast_addresses)) {
        if ((address_flags[*chosen] & IFA_F_PERMANENT) == 0) adapter.flags |= ADAPTER_FLAG_DHCP_ENABLED;
    }

    std::vector<NetlinkGateway> gateways;
    for (const NetlinkGateway& gateway : snapshot.gateways) {
        if (gateway.index == link.index) gateways.push_back(gateway);
    }
    // The route in use comes first, as "ip route" would pick it.
    std::stable_sort(gateways.begin(), gateways.end(),
                     [](const NetlinkGateway& a, const NetlinkGateway& b) { return a.priority < b.priority; });
    for (const NetlinkGateway& gateway : gateways) adapter.gateway_addresses.emplace_back(gateway.gateway);

    adapter.dns_server_addresses = dns_servers;
    return adapter;
}

}  // namespace

// Drivers that keep no operational state report "unknown"; the kernel asks that such a link be
// taken as up when it is administratively up and has a carrier.
bool is_operationally_up(const NetlinkLink& link) {
    if (!link.operstate) return (link.flags & IFF_UP) != 0 && (link.flags & IFF_LOWER_UP) != 0;
    if (*link.operstate == IF_OPER_UP) return true;
    return *link.operstate == IF_OPER_UNKNOWN && (link.flags & IFF_UP) != 0 && (link.flags & IFF_LOWER_UP) != 0;
}

Survey survey_adapters() {
    Survey survey;
    survey.computer_name = host_name();
    std::optional<NetlinkSnapshot> snapshot = read_rtnetlink();
    if (!snapshot) return survey;
    std::stable_sort(snapshot->links.begin(), snapshot->links.end(),
                     [](const NetlinkLink& a, const NetlinkLink& b) { return a.index < b.index; });
    const std::vector<AddressEntry> dns_servers = resolver_dns_servers(RESOLV_CONF_PATH, RESOLVED_UPSTREAM_PATH);
    for (const NetlinkLink& link : snapshot->links) survey.adapters.push_back(adapter_from(link, *snapshot, dns_servers));
    return survey;
}

}  // namespace nerova::netinfo
