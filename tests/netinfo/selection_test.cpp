#include <gtest/gtest.h>

#include "adapters_for_tests.h"
#include "netinfo/selection.h"

namespace nerova::netinfo {
namespace {

using testing::adapter;
using testing::ip;

std::string selected_name(const std::vector<AdapterRecord>& adapters) {
    const AdapterRecord* selected = select_adapter(adapters);
    return selected == nullptr ? "(none)" : selected->friendly_name;
}

TEST(AdapterSelection, TakesTheFirstAdapterThatPassesEveryTestInListOrder) {
    const std::vector<AdapterRecord> adapters = {
        adapter("vEthernet (WSL)", "Hyper-V Virtual Ethernet Adapter", {ip("172.20.0.1")}),
        adapter("Ethernet", "Intel(R) Ethernet Connection", {ip("192.168.1.10")}, INTERFACE_TYPE_ETHERNET, OPER_STATUS_DOWN),
        adapter("Wi-Fi", "Intel(R) Wi-Fi 6 AX201", {ip("192.168.1.20")}, INTERFACE_TYPE_IEEE80211),
        adapter("Ethernet 3", "Realtek USB GbE", {ip("10.1.1.1")}),
    };
    const StatusDocument status = status_from_survey("t", Survey{"PC", adapters}, std::nullopt);
    EXPECT_EQ(status.interfaceAlias, "Wi-Fi");
    EXPECT_EQ(status.localIp, "192.168.1.20");
    EXPECT_EQ(status.interfaceType, "wifi");
}

TEST(AdapterSelection, SkipsLoopbackAndAdaptersThatAreNotUp) {
    EXPECT_EQ(selected_name({adapter("Loop", "Software Interface", {ip("10.0.0.1")}, INTERFACE_TYPE_SOFTWARE_LOOPBACK),
                             adapter("Dormant", "NIC", {ip("10.0.0.2")}, INTERFACE_TYPE_ETHERNET, 5),
                             adapter("Good", "NIC", {ip("10.0.0.3")})}),
              "Good");
}

TEST(AdapterSelection, NameTestMatchesKeywordsAnywhereInNameAndDescriptionIgnoringCase) {
    const auto rejected = [](const std::string& name, const std::string& description) {
        return has_excluded_name(adapter(name, description, {}));
    };
    EXPECT_TRUE(rejected("Ethernet 2", "TAP-Windows Adapter V9"));
    EXPECT_TRUE(rejected("Tailscale", "Tailscale Tunnel"));
    EXPECT_TRUE(rejected("Ethernet", "VMware Virtual Ethernet Adapter for VMnet8"));
    EXPECT_TRUE(rejected("VMWARE NET", ""));
    EXPECT_TRUE(rejected("Ethernet 4", "Microsoft Network Bridge"));
    EXPECT_TRUE(rejected("Fortune Cable", ""));  // "tun" as a plain substring
    EXPECT_TRUE(rejected("", "VirtualBox Host-Only Ethernet Adapter"));
    EXPECT_FALSE(rejected("Ethernet", "Intel(R) Ethernet Connection I219-V"));
    EXPECT_FALSE(rejected("以太网", "Realtek PCIe GbE Family Controller"));
    EXPECT_FALSE(rejected("", ""));
    // The joining blank keeps a keyword from being pieced together across the two names.
    EXPECT_FALSE(rejected("Ethernet VM", "ware"));
}

TEST(AdapterSelection, NameTestUsesTheFullUnicodeLowerCaseMapping) {
    // U+212A KELVIN SIGN lower-cases to "k"; U+0130 to "i" and a combining dot.
    EXPECT_TRUE(has_excluded_name(adapter("\xE2\x84\xAA" "UBE-Net", "", {})));
    EXPECT_TRUE(has_excluded_name(adapter("HAMACH\xC4\xB0", "", {})));
    EXPECT_FALSE(has_excluded_name(adapter("\xC4\xB0SATAP", "", {})));  // "i\u0307satap" holds no "isatap"
}

TEST(AdapterSelection, AddressTestWantsAnIpv4AddressOutside127) {
    EXPECT_EQ(selected_name({adapter("A", "NIC", {ip("fe80::1"), ip("2001:db8::5"), ip("127.0.0.1")}),
                             adapter("B", "NIC", {ip("127.1.2.3")}),
                             adapter("C", "NIC", {std::nullopt}),
                             adapter("D", "NIC", {})}),
              "(none)");
    const std::vector<AdapterRecord> later_ipv4 = {adapter("E", "NIC", {ip("fe80::1"), std::nullopt, ip("10.0.0.5")})};
    EXPECT_EQ(status_from_survey("t", Survey{"PC", later_ipv4}, std::nullopt).localIp, "10.0.0.5");
    EXPECT_EQ(usable_ipv4_index(later_ipv4[0].unicast_addresses), 2u);
}

TEST(AdapterFilling, GatewayIsTheFirstIpv4EntryAndDnsKeepsEveryAddressInOrder) {
    AdapterRecord lan = adapter("Ethernet", "NIC", {ip("192.168.1.20")});
    lan.gateway_addresses = {std::nullopt, ip("fe80::1"), ip("192.168.1.1"), ip("192.168.1.254")};
    lan.dns_server_addresses = {ip("192.168.1.1"), std::nullopt, ip("fec0:0:0:ffff::1"), ip("192.168.1.1")};
    const StatusDocument status = status_from_survey("t", Survey{"PC", {lan}}, std::nullopt);
    EXPECT_EQ(status.gatewayIp, "192.168.1.1");
    EXPECT_EQ(status.dnsServers, (std::vector<std::string>{"192.168.1.1", "fec0:0:0:ffff::1", "192.168.1.1"}));
    EXPECT_TRUE(status.routerDetected);  // from the gateway alone: the router lookup failed
    EXPECT_EQ(status.wanSource, "");
}

TEST(AdapterFilling, IpvSixOnlyGatewaysLeaveTheGatewayEmpty) {
    AdapterRecord lan = adapter("Ethernet", "NIC", {ip("192.168.1.20")});
    lan.gateway_addresses = {ip("fe80::1")};
    const StatusDocument status = status_from_survey("t", Survey{"PC", {lan}}, std::nullopt);
    EXPECT_EQ(status.gatewayIp, "");
    EXPECT_FALSE(status.routerDetected);
}

TEST(AdapterFilling, HardwareAddressTakesOneToEightBytes) {
    AdapterRecord lan = adapter("Ethernet", "NIC", {});
    lan.hardware_address = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 0xf0, 0x0f};
    const auto mac_for_length = [&](std::uint32_t length) {
        lan.hardware_address_length = length;
        return hardware_address_text(lan);
    };
    EXPECT_EQ(mac_for_length(6), "00:1A:2B:3C:4D:5E");
    EXPECT_EQ(mac_for_length(0), "");
    EXPECT_EQ(mac_for_length(1), "00");
    EXPECT_EQ(mac_for_length(8), "00:1A:2B:3C:4D:5E:F0:0F");
    EXPECT_EQ(mac_for_length(9), "");
    EXPECT_EQ(mac_for_length(20), "");
}

TEST(AdapterFilling, CopiesTypeAliasAndDhcpFromTheSelectedAdapter) {
    AdapterRecord lan = adapter("Ethernet 5", "NIC", {ip("10.0.0.9")}, 243);
    lan.flags = ADAPTER_FLAG_DHCP_ENABLED | 0x180;
    lan.hardware_address = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    lan.hardware_address_length = 6;
    const StatusDocument status = status_from_survey("tok", Survey{"PC-01", {lan}}, std::nullopt);
    EXPECT_EQ(status.interfaceType, "");
    EXPECT_EQ(status.interfaceAlias, "Ethernet 5");
    EXPECT_EQ(status.macAddress, "00:1A:2B:3C:4D:5E");
    EXPECT_TRUE(status.dhcpEnabled);
    EXPECT_EQ(status.networkMode, "dhcp");
    EXPECT_EQ(status.deviceName, "PC-01");
    EXPECT_EQ(status.token, "tok");

    lan.flags = 0x180;
    lan.if_type = INTERFACE_TYPE_ETHERNET;
    const StatusDocument fixed = status_from_survey("tok", Survey{"PC-01", {lan}}, std::nullopt);
    EXPECT_FALSE(fixed.dhcpEnabled);
    EXPECT_EQ(fixed.networkMode, "static");
    EXPECT_EQ(fixed.interfaceType, "ethernet");
}

TEST(StatusFromSurvey, NothingQualifyingAndNoRouterGivesAnEmptyStaticDocument) {
    AdapterRecord down = adapter("Ethernet", "NIC", {ip("10.0.0.5")}, INTERFACE_TYPE_ETHERNET, OPER_STATUS_DOWN);
    down.flags = ADAPTER_FLAG_DHCP_ENABLED;
    down.gateway_addresses = {ip("10.0.0.1")};
    const StatusDocument status = status_from_survey("tok", Survey{"PC-01", {down}}, std::nullopt);
    EXPECT_EQ(status_to_json(status),
              "{\"localIp\":\"\",\"wanIp\":\"\",\"gatewayIp\":\"\",\"dnsServers\":[],\"macAddress\":\"\","
              "\"deviceName\":\"PC-01\",\"interfaceAlias\":\"\",\"interfaceType\":\"\",\"dhcpEnabled\":false,"
              "\"networkMode\":\"static\",\"wanSource\":\"\",\"routerDetected\":false,\"token\":\"tok\"}");
}

TEST(StatusFromSurvey, RouterAddressCountsEvenWithoutAnAdapter) {
    // A failed adapter query (no adapters) still lets the router lookup fill the public address.
    const StatusDocument status = status_from_survey("tok", Survey{"", {}}, std::string("203.0.113.7"));
    EXPECT_EQ(status.wanIp, "203.0.113.7");
    EXPECT_EQ(status.wanSource, "upnp");
    EXPECT_TRUE(status.routerDetected);
    EXPECT_EQ(status.networkMode, "static");
    EXPECT_EQ(status.deviceName, "");
}

}  // namespace
}  // namespace nerova::netinfo
