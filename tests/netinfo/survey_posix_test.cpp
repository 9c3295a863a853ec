// The Linux survey against real links: each case builds its links in a network namespace of its
// own and never touches the machine's own network.
#include <gtest/gtest.h>

#include <linux/if.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "netinfo/address_text.h"
#include "netinfo/collect.h"
#include "netinfo/rtnetlink.h"
#include "netinfo/selection.h"
#include "netinfo/survey.h"
#include "platform/system.h"

namespace nerova::netinfo {
namespace {

int run(const std::string& command) { return std::system(command.c_str()); }

// Inside the runner's namespace, each case moves on to a fresh one of its own, so that cases
// never see each other's links, whether run one by one or together.
bool enter_fresh_namespace() {
    const char* marker = std::getenv("NEROVA_IN_NETNS");
    if (marker == nullptr || std::string(marker) != "1") return false;
    return ::unshare(CLONE_NEWNET) == 0 && run("ip link set lo up") == 0;
}

const AdapterRecord* find_adapter(const Survey& survey, const std::string& name) {
    for (const AdapterRecord& adapter : survey.adapters) {
        if (adapter.friendly_name == name) return &adapter;
    }
    return nullptr;
}

StatusDocument document_without_router() { return status_from_survey("tok", survey_adapters(), std::nullopt); }

class LinuxSurvey : public ::testing::Test {
protected:
    void SetUp() override {
        if (!enter_fresh_namespace()) GTEST_SKIP() << "needs to run in a network namespace (tests/netns-run)";
    }

    void build_test_network() { ASSERT_EQ(run(NEROVA_TEST_NETWORK), 0); }

    // The resolver file is replaced only in a private mount namespace of this process.
    void use_resolv_conf(const std::string& text) {
        ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
        ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        char path[] = "/tmp/nerova-survey-resolv.XXXXXX";
        const int fd = ::mkstemp(path);
        ASSERT_GE(fd, 0);
        ::close(fd);
        ASSERT_TRUE(platform::write_file(path, text));
        ASSERT_EQ(::mount(path, "/etc/resolv.conf", nullptr, MS_BIND, nullptr), 0);
        ::unlink(path);
    }

    // This namespace's own sysfs, then a stand-in for /sys/class/net whose files the case writes.
    void use_sysfs_stand_in() {
        ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
        ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        ASSERT_EQ(::mount("sysfs", "/sys", "sysfs", 0, nullptr), 0);
        const std::optional<std::string> index = platform::read_file("/sys/class/net/lan0/ifindex");
        ASSERT_EQ(index, std::optional<std::string>("12\n")) << "the kernel's own text";
        ASSERT_EQ(::mount("tmpfs", "/sys/class/net", "tmpfs", 0, nullptr), 0);
    }
    static void fake_link(const std::string& name, const std::string& index_text, bool wireless) {
        const std::string base = "/sys/class/net/" + name;
        ASSERT_EQ(::mkdir(base.c_str(), 0755), 0);
        ASSERT_TRUE(platform::write_file(base + "/ifindex", index_text));
        if (wireless) {
            ASSERT_EQ(::mkdir((base + "/wireless").c_str(), 0755), 0);
        }
    }
};

TEST(LinkState, UnknownCountsAsUpOnlyWhenUpWithACarrier) {
    NetlinkLink link;
    link.operstate = IF_OPER_UNKNOWN;
    link.flags = IFF_UP | IFF_LOWER_UP;
    EXPECT_TRUE(is_operationally_up(link));
    link.flags = IFF_UP;
    EXPECT_FALSE(is_operationally_up(link)) << "no carrier";
    link.operstate = IF_OPER_DORMANT;
    link.flags = IFF_UP | IFF_LOWER_UP;
    EXPECT_FALSE(is_operationally_up(link));
}

TEST_F(LinuxSurvey, NamesTheExpectedAdapterGatewayModeAndMac) {
    build_test_network();
    use_resolv_conf("nameserver 192.168.50.53\nnameserver fec0:0:0:ffff::1\nnameserver 192.168.50.53\n");
    const StatusDocument status = document_without_router();
    EXPECT_EQ(status.interfaceAlias, "lan0");
    EXPECT_EQ(status.localIp, "192.168.50.10");
    EXPECT_EQ(status.gatewayIp, "192.168.50.1");  // the lower metric of lan0's two default routes
    EXPECT_EQ(status.macAddress, "02:1A:2B:3C:4D:5E");
    EXPECT_EQ(status.interfaceType, "ethernet");
    EXPECT_TRUE(status.dhcpEnabled);
    EXPECT_EQ(status.networkMode, "dhcp");
    EXPECT_EQ(status.dnsServers, (std::vector<std::string>{"192.168.50.53", "fec0:0:0:ffff::1", "192.168.50.53"}));
    EXPECT_TRUE(status.routerDetected);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_EQ(status.deviceName, host);
}

TEST_F(LinuxSurvey, RecordsCarryTheLinkFactsTheRulesReadInIndexOrder) {
    build_test_network();
    const Survey survey = survey_adapters();
    std::vector<std::string> names;
    for (const AdapterRecord& adapter : survey.adapters) names.push_back(adapter.friendly_name);
    EXPECT_EQ(names, (std::vector<std::string>{"lo", "vpn-tun0", "eth-down", "lan0", "lan1", "peer-vpn-tun0",
                                               "peer-eth-down", "peer-lan0", "peer-lan1"}));
    const AdapterRecord* lo = find_adapter(survey, "lo");
    const AdapterRecord* vpn = find_adapter(survey, "vpn-tun0");
    const AdapterRecord* down = find_adapter(survey, "eth-down");
    const AdapterRecord* lan0 = find_adapter(survey, "lan0");
    ASSERT_TRUE(lo && vpn && down && lan0);
    EXPECT_EQ(lo->if_type, INTERFACE_TYPE_SOFTWARE_LOOPBACK);
    EXPECT_EQ(vpn->oper_status, OPER_STATUS_UP);
    EXPECT_EQ(vpn->description, "veth");
    EXPECT_TRUE(has_excluded_name(*vpn));
    EXPECT_NE(down->oper_status, OPER_STATUS_UP);
    EXPECT_EQ(lan0->hardware_address_length, 6u);
    ASSERT_EQ(lan0->gateway_addresses.size(), 3u);
    EXPECT_EQ(address_to_text(lan0->gateway_addresses[0]), "192.168.50.1");
    EXPECT_EQ(address_to_text(lan0->gateway_addresses[1]), "192.168.50.254");
    EXPECT_EQ(address_to_text(lan0->gateway_addresses[2]), "fe80::1");
}

TEST_F(LinuxSurvey, APermanentAddressIsStatic) {
    build_test_network();
    ASSERT_EQ(run("ip addr replace 192.168.50.10/24 dev lan0 valid_lft forever preferred_lft forever"), 0);
    const StatusDocument status = document_without_router();
    EXPECT_EQ(status.localIp, "192.168.50.10");
    EXPECT_FALSE(status.dhcpEnabled);
    EXPECT_EQ(status.networkMode, "static");
}

TEST_F(LinuxSurvey, ABridgeIsExcludedByItsLinkKind) {
    build_test_network();
    ASSERT_EQ(run("ip link add home0 index 5 type bridge && "
                  "ip link add port0 index 6 type veth peer name peer-port0 index 106 && "
                  "ip link set port0 master home0 && "
                  "ip link set port0 up && ip link set peer-port0 up && ip link set home0 up && "
                  "ip addr add 10.5.0.1/24 dev home0"),
              0);
    for (int i = 0; i < 100 && find_adapter(survey_adapters(), "home0")->oper_status != OPER_STATUS_UP; ++i) {
        ::usleep(20'000);
    }
    const Survey survey = survey_adapters();
    const AdapterRecord* bridge = find_adapter(survey, "home0");
    ASSERT_NE(bridge, nullptr);
    EXPECT_EQ(bridge->oper_status, OPER_STATUS_UP);
    EXPECT_EQ(bridge->description, "bridge");
    EXPECT_EQ(status_from_survey("tok", survey, std::nullopt).interfaceAlias, "lan0");
}

TEST_F(LinuxSurvey, MultipathDefaultRoutesGiveEachLinkItsOwnGateway) {
    build_test_network();
    ASSERT_EQ(run("ip route del default via 192.168.50.1 dev lan0 && ip route del default via 192.168.50.254 dev lan0 && "
                  "ip route add default metric 100 nexthop via 10.0.0.9 dev lan1 nexthop via 192.168.50.7 dev lan0"),
              0);
    EXPECT_EQ(document_without_router().gatewayIp, "192.168.50.7");
}

TEST_F(LinuxSurvey, OnlyTheMainTableGivesTheGateway) {
    build_test_network();
    ASSERT_EQ(run("ip route add default via 192.168.50.99 dev lan0 metric 1 table 100"), 0);
    EXPECT_EQ(document_without_router().gatewayIp, "192.168.50.1");
}

TEST_F(LinuxSurvey, APointToPointAddressIsReadFromTheLocalSide) {
    build_test_network();
    ASSERT_EQ(run("ip addr del 192.168.50.10/24 dev lan0 && ip addr add 192.168.50.10 peer 192.168.50.99 dev lan0"), 0);
    EXPECT_EQ(document_without_router().localIp, "192.168.50.10");
}

TEST_F(LinuxSurvey, SysfsFactsCountOnlyForTheLinkOfTheSameIndex) {
    build_test_network();
    use_sysfs_stand_in();
    fake_link("lan0", "12\n", true);
    fake_link("lan1", "99\n", true);  // a link of that name in another namespace
    const Survey survey = survey_adapters();
    EXPECT_EQ(status_from_survey("tok", survey, std::nullopt).interfaceType, "wifi");
    ASSERT_NE(find_adapter(survey, "lan1"), nullptr);
    EXPECT_EQ(find_adapter(survey, "lan1")->if_type, INTERFACE_TYPE_ETHERNET);
}

TEST_F(LinuxSurvey, NothingQualifyingLeavesTheAdapterFieldsEmpty) {
    ASSERT_EQ(run("ip link add eth-down type veth peer name peer-down && ip addr add 10.1.0.2/24 dev eth-down"), 0);
    const StatusDocument status = document_without_router();
    EXPECT_EQ(status.localIp, "");
    EXPECT_EQ(status.gatewayIp, "");
    EXPECT_EQ(status.macAddress, "");
    EXPECT_EQ(status.interfaceAlias, "");
    EXPECT_TRUE(status.dnsServers.empty());
    EXPECT_EQ(status.networkMode, "static");
    EXPECT_FALSE(status.routerDetected);
}

TEST_F(LinuxSurvey, CollectStatusSurveysAndAsksTheRouterWithinItsWindow) {
    build_test_network();
    const auto start = std::chrono::steady_clock::now();
    const StatusDocument status = collect_status("tok");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(status.interfaceAlias, "lan0");
    EXPECT_EQ(status.gatewayIp, "192.168.50.1");
    EXPECT_EQ(status.wanIp, "");  // no router answers in here
    EXPECT_EQ(status.token, "tok");
    EXPECT_GE(elapsed, std::chrono::milliseconds(1100));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2400));  // twice the window: room for a busy machine
}

}  // namespace
}  // namespace nerova::netinfo
