#include "netinfo/selection.h"

#include "common/text.h"
#include "netinfo/address_text.h"

namespace nerova::netinfo {
namespace {

// Lower-cases valid UTF-8 as far as matching ASCII keywords can tell: the full Unicode lower-case
// mapping gives ASCII letters only for A-Z, U+212A KELVIN SIGN (k) and U+0130 (i + U+0307); every
// other character lower-cases to non-ASCII text, which no keyword can match, so it is kept as is.
std::string lower_for_keywords(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 1);
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c - 'A' + 'a');
            ++i;
        } else if (text.compare(i, 3, "\xE2\x84\xAA") == 0) {
            out += 'k';
            i += 3;
        } else if (text.compare(i, 2, "\xC4\xB0") == 0) {
            out += "i\xCC\x87";
            i += 2;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

std::string interface_type_text(std::uint32_t if_type) {
    if (if_type == INTERFACE_TYPE_ETHERNET) return "ethernet";
    if (if_type == INTERFACE_TYPE_IEEE80211) return "wifi";
    return {};
}

void fill_from_adapter(StatusDocument& status, const AdapterRecord& adapter, std::size_t local_index) {
    status.localIp = address_to_text(adapter.unicast_addresses[local_index]);
    for (const AddressEntry& gateway : adapter.gateway_addresses) {
        if (gateway && gateway->family == platform::Family::ipv4) {
            status.gatewayIp = address_to_text(gateway);
            break;
        }
    }
    for (const AddressEntry& server : adapter.dns_server_addresses) {
        std::string text = address_to_text(server);
        if (!text.empty()) status.dnsServers.push_back(std::move(text));
    }
    status.dhcpEnabled = (adapter.flags & ADAPTER_FLAG_DHCP_ENABLED) != 0;
    status.interfaceType = interface_type_text(adapter.if_type);
    status.interfaceAlias = adapter.friendly_name;
    status.macAddress = hardware_address_text(adapter);
}

}  // namespace

bool has_excluded_name(const AdapterRecord& adapter) {
    const std::string names = lower_for_keywords(adapter.friendly_name + " " + adapter.description);
    for (const std::string_view keyword : excluded_adapter_keywords) {
        if (names.find(keyword) != std::string::npos) return true;
    }
    return false;
}

std::optional<std::size_t> usable_ipv4_index(const std::vector<AddressEntry>& unicast_addresses) {
    for (std::size_t i = 0; i < unicast_addresses.size(); ++i) {
        const AddressEntry& address = unicast_addresses[i];
        if (!address || address->family != platform::Family::ipv4) continue;
        if (text::starts_with(address_to_text(address), "127.")) continue;
        return i;
    }
    return std::nullopt;
}

const AdapterRecord* select_adapter(const std::vector<AdapterRecord>& adapters) {
    for (const AdapterRecord& adapter : adapters) {
        if (adapter.oper_status != OPER_STATUS_UP) continue;
        if (adapter.if_type == INTERFACE_TYPE_SOFTWARE_LOOPBACK) continue;
        if (has_excluded_name(adapter)) continue;
        if (!usable_ipv4_index(adapter.unicast_addresses)) continue;
        return &adapter;
    }
    return nullptr;
}

std::string hardware_address_text(const AdapterRecord& adapter) {
    const std::uint32_t length = adapter.hardware_address_length;
    if (length == 0 || length > MAX_HARDWARE_ADDRESS_LENGTH) return {};
    constexpr char HEX[] = "0123456789ABCDEF";
    std::string out;
    for (std::uint32_t i = 0; i < length; ++i) {
        if (i > 0) out += ':';
        out += HEX[adapter.hardware_address[i] >> 4];
        out += HEX[adapter.hardware_address[i] & 0xF];
    }
    return out;
}

StatusDocument status_from_survey(const std::string& token, const Survey& survey,
                                  const std::optional<std::string>& wan_ip) {
    StatusDocument status;
    status.token = token;
    status.deviceName = survey.computer_name;
    if (const AdapterRecord* selected = select_adapter(survey.adapters)) {
        fill_from_adapter(status, *selected, *usable_ipv4_index(selected->unicast_addresses));
    }
    status.networkMode = status.dhcpEnabled ? "dhcp" : "static";
    if (wan_ip && !wan_ip->empty()) {
        status.wanIp = *wan_ip;
        status.wanSource = "upnp";
    }
    status.routerDetected = !status.gatewayIp.empty() || !status.wanSource.empty();
    return status;
}

}  // namespace nerova::netinfo
