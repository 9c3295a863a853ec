#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "netinfo/address_text.h"
#include "netinfo/resolv_conf.h"
#include "platform/system.h"

namespace nerova::netinfo {
namespace {

std::vector<std::string> texts(const std::vector<AddressEntry>& entries) {
    std::vector<std::string> out;
    for (const AddressEntry& entry : entries) out.push_back(address_to_text(entry));
    return out;
}

using Texts = std::vector<std::string>;

TEST(ResolvConf, ReadsNameserverLinesAsTheCLibraryDoes) {
    const std::string text =
        "# Generated\n"
        "search example.lan\n"
        "nameserver 192.168.1.1\n"
        "nameserver\t1.1.1.1  # a comment\n"
        ";nameserver 9.9.9.9\n"
        "  nameserver 8.8.4.4\n"          // not at the start of the line
        "nameservers 8.8.8.8\n"
        "nameserver not-an-address\n"
        "nameserver fe80::1%eth0\n"
        "nameserver 2001:DB8::53;x\r\n"
        "nameserver 10.0.0.53\r\n"
        "nameserver 192.168.1.1";
    EXPECT_EQ(texts(nameservers_in_resolv_conf(text)),
              (Texts{"192.168.1.1", "1.1.1.1", "fe80::1", "2001:db8::53", "10.0.0.53", "192.168.1.1"}));
}

class ResolverFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/nerova-resolv.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
    }
    void TearDown() override {
        ::unlink(path("stub").c_str());
        ::unlink(path("upstream").c_str());
        ::rmdir(directory_.c_str());
    }
    std::string path(const std::string& name) const { return directory_ + "/" + name; }
    void write(const std::string& name, const std::string& text) {
        ASSERT_TRUE(platform::write_file(path(name), text));
    }
    Texts servers() { return texts(resolver_dns_servers(path("stub"), path("upstream"))); }

private:
    std::string directory_;
};

TEST_F(ResolverFiles, ALocalStubIsReplacedByItsUpstreamServers) {
    write("stub", "nameserver 127.0.0.53\noptions edns0 trust-ad\n");
    write("upstream", "nameserver 192.168.1.1\nnameserver fec0:0:0:ffff::1\n");
    EXPECT_EQ(servers(), (Texts{"192.168.1.1", "fec0:0:0:ffff::1"}));
}

TEST_F(ResolverFiles, TheStubStaysWhenNothingIsKnownBehindIt) {
    write("stub", "nameserver 127.0.0.53\nnameserver ::1\n");
    EXPECT_EQ(servers(), (Texts{"127.0.0.53", "::1"}));
    write("upstream", "# no servers\n");
    EXPECT_EQ(servers(), (Texts{"127.0.0.53", "::1"}));
}

TEST_F(ResolverFiles, RealServersBesideALoopbackOneAreKeptAsTheyStand) {
    write("stub", "nameserver 127.0.0.1\nnameserver 10.0.0.53\n");
    write("upstream", "nameserver 192.168.1.1\n");
    EXPECT_EQ(servers(), (Texts{"127.0.0.1", "10.0.0.53"}));
    write("stub", "nameserver 127.0.0.53\nnameserver ::1:0:0:1\n");  // ends in 1, yet not ::1
    EXPECT_EQ(servers(), (Texts{"127.0.0.53", "::1:0:0:1"}));
}

TEST_F(ResolverFiles, NoResolverConfigurationMeansNoServers) {
    write("upstream", "nameserver 192.168.1.1\n");
    EXPECT_EQ(servers(), Texts{});
}

}  // namespace
}  // namespace nerova::netinfo
