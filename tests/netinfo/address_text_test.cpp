#include <gtest/gtest.h>

#include "adapters_for_tests.h"
#include "netinfo/address_text.h"

namespace nerova::netinfo {
namespace {

AddressEntry ipv6_groups(std::initializer_list<unsigned> groups) {
    platform::SocketAddress address;
    address.family = platform::Family::ipv6;
    std::size_t i = 0;
    for (const unsigned group : groups) {
        address.bytes[i++] = static_cast<std::uint8_t>(group >> 8);
        address.bytes[i++] = static_cast<std::uint8_t>(group & 0xFF);
    }
    return address;
}

TEST(AddressToText, Ipv4IsPlainDottedDecimal) {
    EXPECT_EQ(address_to_text(platform::ipv4_address(10, 0, 0, 5, 0)), "10.0.0.5");
    EXPECT_EQ(address_to_text(platform::ipv4_address(0, 0, 0, 0, 0)), "0.0.0.0");
    EXPECT_EQ(address_to_text(platform::ipv4_address(255, 255, 255, 255, 9)), "255.255.255.255");
    EXPECT_EQ(address_to_text(std::nullopt), "");
}

TEST(AddressToText, Ipv6FollowsRfc5952) {
    EXPECT_EQ(address_to_text(ipv6_groups({0, 0, 0, 0, 0, 0, 0, 0})), "::");
    EXPECT_EQ(address_to_text(ipv6_groups({0, 0, 0, 0, 0, 0, 0, 1})), "::1");
    EXPECT_EQ(address_to_text(ipv6_groups({1, 0, 0, 0, 0, 0, 0, 0})), "1::");
    EXPECT_EQ(address_to_text(ipv6_groups({0xFE80, 0, 0, 0, 0x1A, 0x2BFF, 0xFE3C, 0x4D5E})), "fe80::1a:2bff:fe3c:4d5e");
    EXPECT_EQ(address_to_text(ipv6_groups({0xFEC0, 0, 0, 0xFFFF, 0, 0, 0, 1})), "fec0:0:0:ffff::1");
    // A single zero group is not shortened; of two equal runs the first is.
    EXPECT_EQ(address_to_text(ipv6_groups({0x2001, 0xDB8, 0, 1, 1, 1, 1, 1})), "2001:db8:0:1:1:1:1:1");
    EXPECT_EQ(address_to_text(ipv6_groups({0x2001, 0xDB8, 0, 0, 1, 0, 0, 1})), "2001:db8::1:0:0:1");
    EXPECT_EQ(address_to_text(ipv6_groups({0x2001, 0, 0, 1, 0, 0, 0, 1})), "2001:0:0:1::1");
    EXPECT_EQ(address_to_text(ipv6_groups({0xABCD, 0xEF01, 0x2345, 0x6789, 0xABCD, 0xEF01, 0x2345, 0x6789})),
              "abcd:ef01:2345:6789:abcd:ef01:2345:6789");
}

TEST(AddressToText, OnlyIpv4MappedAddressesUseTheDottedTail) {
    EXPECT_EQ(address_to_text(ipv6_groups({0, 0, 0, 0, 0, 0xFFFF, 0xC000, 0x0201})), "::ffff:192.0.2.1");
    EXPECT_EQ(address_to_text(ipv6_groups({0, 0, 0, 0, 0, 0xFFFF, 0, 0})), "::ffff:0.0.0.0");
    EXPECT_EQ(address_to_text(ipv6_groups({0, 0, 0, 0, 0, 0, 0xC000, 0x0201})), "::c000:201");
    EXPECT_EQ(address_to_text(ipv6_groups({0, 0, 0, 0, 1, 0xFFFF, 0xC000, 0x0201})), "::1:ffff:c000:201");
    EXPECT_EQ(address_to_text(ipv6_groups({0x64, 0xFF9B, 0, 0, 0, 0, 0xC000, 0x0201})), "64:ff9b::c000:201");
}

}  // namespace
}  // namespace nerova::netinfo
