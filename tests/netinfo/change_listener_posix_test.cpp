// The rtnetlink listener against the kernel, in the namespace each test case runs in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "netinfo/change_listener.h"

namespace nerova::netinfo {
namespace {

using Clock = std::chrono::steady_clock;

bool notices_within(const std::atomic<int>& count, int at_least, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (count.load() < at_least) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int shell(const char* command) { return std::system(command); }

TEST(ChangeListener, LinksAddressesAndRoutesEachBringANotice) {
    ASSERT_EQ(shell("ip link add lan5 type veth peer name lan5-peer"), 0);
    std::atomic<int> notices{0};
    auto listener = start_change_listener([&] { ++notices; });
    ASSERT_TRUE(listener);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(notices.load(), 0) << "a quiet network gives no notice";

    const struct {
        const char* what;
        const char* command;
    } changes[] = {{"link up", "ip link set lan5 up"},
                   {"address added", "ip addr add 10.57.0.2/24 dev lan5"},
                   {"default route", "ip route add default via 10.57.0.1 dev lan5"},
                   {"route removed", "ip route del default"},
                   {"address removed", "ip addr del 10.57.0.2/24 dev lan5"},
                   {"link down", "ip link set lan5 down"}};
    for (const auto& change : changes) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the last change's notices are in
        const int before = notices.load();
        ASSERT_EQ(shell(change.command), 0) << change.what;
        EXPECT_TRUE(notices_within(notices, before + 1, std::chrono::seconds(10))) << change.what;
    }
}

TEST(ChangeListener, EndsPromptlyWhenDestroyed) {
    std::atomic<int> notices{0};
    auto listener = start_change_listener([&] { ++notices; });
    ASSERT_TRUE(listener);
    const auto started = Clock::now();
    listener.reset();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
    ASSERT_EQ(shell("ip link add lan8 type veth peer name lan8-peer"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(notices.load(), 0);
}

}  // namespace
}  // namespace nerova::netinfo
