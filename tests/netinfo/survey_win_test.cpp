// The Windows survey: the conversion of an IP Helper list, and Wine's view of the test network
// (tests/netinfo/test-network prepares it before Wine starts).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "netinfo/adapter_list_win.h"
#include "netinfo/address_text.h"
#include "netinfo/collect.h"
#include "netinfo/selection.h"
#include "netinfo/survey.h"
#include "platform/net.h"

namespace nerova::netinfo {
namespace {

sockaddr_in ipv4(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

sockaddr_in6 ipv6(const char* text) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, text, &address.sin6_addr);
    return address;
}

template <typename Sockaddr>
SOCKET_ADDRESS socket_address(Sockaddr& address) {
    return SOCKET_ADDRESS{reinterpret_cast<LPSOCKADDR>(&address), static_cast<INT>(sizeof address)};
}

TEST(WindowsAdapterList, ConvertsEveryItemTheRulesRead) {
    sockaddr_in6 link_local = ipv6("fe80::1");
    sockaddr_in lan = ipv4("192.168.1.20");
    sockaddr_in router = ipv4("192.168.1.1");
    sockaddr_in6 dns6 = ipv6("fec0:0:0:ffff::1");

    IP_ADAPTER_UNICAST_ADDRESS unicast[3] = {};
    unicast[0].Address = socket_address(link_local);
    unicast[0].Next = &unicast[1];
    unicast[1].Address = SOCKET_ADDRESS{nullptr, 0};  // an entry without its address
    unicast[1].Next = &unicast[2];
    unicast[2].Address = socket_address(lan);
    IP_ADAPTER_GATEWAY_ADDRESS_LH gateway = {};
    gateway.Address = socket_address(router);
    IP_ADAPTER_DNS_SERVER_ADDRESS dns[2] = {};
    dns[0].Address = socket_address(router);
    dns[0].Next = &dns[1];
    dns[1].Address = socket_address(dns6);

    wchar_t friendly[] = L"Wi-Fi \x4ee5\xD800";  // ends in an unpaired surrogate
    wchar_t description[] = L"Intel(R) Wi-Fi 6 AX201";
    IP_ADAPTER_ADDRESSES second = {};  // every pointer absent
    second.OperStatus = IfOperStatusDown;
    second.PhysicalAddressLength = 0;
    IP_ADAPTER_ADDRESSES first = {};
    first.Next = &second;
    first.FriendlyName = friendly;
    first.Description = description;
    first.OperStatus = IfOperStatusUp;
    first.IfType = IF_TYPE_IEEE80211;
    first.Flags = IP_ADAPTER_DHCP_ENABLED;
    const BYTE mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    std::memcpy(first.PhysicalAddress, mac, sizeof mac);
    first.PhysicalAddressLength = 6;
    first.FirstUnicastAddress = &unicast[0];
    first.FirstGatewayAddress = &gateway;
    first.FirstDnsServerAddress = &dns[0];

    const std::vector<AdapterRecord> adapters = adapters_from_list(&first);
    ASSERT_EQ(adapters.size(), 2u);
    EXPECT_EQ(adapters[0].friendly_name, "Wi-Fi \xE4\xBB\xA5\xEF\xBF\xBD");
    EXPECT_EQ(adapters[0].description, "Intel(R) Wi-Fi 6 AX201");
    ASSERT_EQ(adapters[0].unicast_addresses.size(), 3u);
    EXPECT_EQ(address_to_text(adapters[0].unicast_addresses[0]), "fe80::1");
    EXPECT_FALSE(adapters[0].unicast_addresses[1]);
    EXPECT_EQ(address_to_text(adapters[0].unicast_addresses[2]), "192.168.1.20");
    EXPECT_EQ(adapters[1].friendly_name, "");
    EXPECT_EQ(adapters[1].description, "");
    EXPECT_TRUE(adapters[1].unicast_addresses.empty());

    const StatusDocument status = status_from_survey("tok", Survey{"PC-01", adapters}, std::nullopt);
    EXPECT_EQ(status_to_json(status),
              "{\"localIp\":\"192.168.1.20\",\"wanIp\":\"\",\"gatewayIp\":\"192.168.1.1\","
              "\"dnsServers\":[\"192.168.1.1\",\"fec0:0:0:ffff::1\"],\"macAddress\":\"00:1A:2B:3C:4D:5E\","
              "\"deviceName\":\"PC-01\",\"interfaceAlias\":\"Wi-Fi \xE4\xBB\xA5\xEF\xBF\xBD\","
              "\"interfaceType\":\"wifi\",\"dhcpEnabled\":true,\"networkMode\":\"dhcp\",\"wanSource\":\"\","
              "\"routerDetected\":true,\"token\":\"tok\"}");
}

class WineSurvey : public ::testing::Test {
protected:
    void SetUp() override {
        platform::init_sockets();
        const Survey survey = survey_adapters();
        const bool prepared = std::any_of(survey.adapters.begin(), survey.adapters.end(),
                                          [](const AdapterRecord& a) { return a.friendly_name == "lan0"; });
        if (!prepared) GTEST_SKIP() << "needs the test network (tests/netinfo/test-network)";
    }
};

TEST_F(WineSurvey, TheDocumentNamesTheTestNetworksAdapter) {
    const Survey survey = survey_adapters();
    EXPECT_FALSE(survey.computer_name.empty());
    const StatusDocument status = status_from_survey("tok", survey, std::nullopt);
    EXPECT_EQ(status.interfaceAlias, "lan0");
    EXPECT_EQ(status.localIp, "192.168.50.10");
    EXPECT_EQ(status.gatewayIp, "192.168.50.1");
    EXPECT_EQ(status.macAddress, "02:1A:2B:3C:4D:5E");
    EXPECT_EQ(status.interfaceType, "ethernet");
    ASSERT_FALSE(status.dnsServers.empty());
    EXPECT_EQ(status.dnsServers[0], "192.168.50.53");
    EXPECT_EQ(status.deviceName, survey.computer_name);
}

TEST_F(WineSurvey, CollectStatusGivesTheSameAdapterAndWaitsOutTheRouterSearch) {
    const auto start = std::chrono::steady_clock::now();
    const StatusDocument status = collect_status("tok");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(status.interfaceAlias, "lan0");
    EXPECT_EQ(status.localIp, "192.168.50.10");
    EXPECT_EQ(status.wanIp, "");
    EXPECT_EQ(status.token, "tok");
    EXPECT_GE(elapsed, std::chrono::milliseconds(1100));
    EXPECT_LT(elapsed, std::chrono::milliseconds(3600));  // three times the window: Wine, on a busy machine
}

}  // namespace
}  // namespace nerova::netinfo
