// The coalescing rule over a clock of the test's own, the refresher that follows it, and the
// status source the live channels and /status read through.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "netinfo/network_changes.h"
#include "netinfo/status_source.h"

namespace nerova::test {
// Memory running out for one thread: its next allocation fails (no_memory.cpp).
extern thread_local bool next_allocation_fails;
}  // namespace nerova::test

namespace nerova::netinfo {
namespace {

using Clock = RefreshPacer::Clock;
using std::chrono::milliseconds;

// The refreshes a pacer starts for notices at the given times, each refresh taking no time and
// the refresher looking whenever a notice comes or a refresh falls due.
std::vector<milliseconds> starts_for(const std::vector<milliseconds>& notices) {
    const Clock::time_point zero{};
    RefreshPacer pacer;
    std::vector<milliseconds> starts;
    Clock::time_point now = zero;
    const auto settle = [&](Clock::time_point until) {
        while (const auto due = pacer_due(pacer)) {
            const Clock::time_point at = std::max(*due, now);
            if (at > until || !pacer_start(pacer, at)) break;
            starts.push_back(std::chrono::duration_cast<milliseconds>(at - zero));
        }
    };
    for (const milliseconds notice : notices) {
        settle(zero + notice);
        now = zero + notice;
        pacer_notice(pacer);
        settle(now);
    }
    settle(Clock::time_point::max());
    return starts;
}

TEST(RefreshPacer, TheFirstNoticeStartsARefreshAtOnce) {
    EXPECT_EQ(starts_for({milliseconds(1000)}), std::vector<milliseconds>{milliseconds(1000)});
}

TEST(RefreshPacer, NoticesApartEachStartTheirOwn) {
    EXPECT_EQ(starts_for({milliseconds(0), milliseconds(500), milliseconds(1700)}),
              (std::vector<milliseconds>{milliseconds(0), milliseconds(500), milliseconds(1700)}));
}

TEST(RefreshPacer, ABurstMergesIntoOneMoreRefreshAtTheMarkAndNoneIsLost) {
    // A DHCP renewal: address, route and link notices within a few milliseconds.
    EXPECT_EQ(starts_for({milliseconds(0), milliseconds(3), milliseconds(7), milliseconds(499)}),
              (std::vector<milliseconds>{milliseconds(0), milliseconds(500)}));
}

TEST(RefreshPacer, AFlappingLinkStartsAtMostThreeRefreshesInASecond) {
    std::vector<milliseconds> notices;
    for (int i = 0; i < 100; ++i) notices.push_back(milliseconds(i * 10));  // 0 to 990 ms
    const std::vector<milliseconds> starts = starts_for(notices);
    EXPECT_EQ(starts, (std::vector<milliseconds>{milliseconds(0), milliseconds(500), milliseconds(1000)}));
}

TEST(RefreshPacer, NothingStartsWithoutANotice) {
    RefreshPacer pacer;
    EXPECT_FALSE(pacer_due(pacer));
    EXPECT_FALSE(pacer_start(pacer, Clock::now()));
    pacer_notice(pacer);
    ASSERT_TRUE(pacer_start(pacer, Clock::now()));
    EXPECT_FALSE(pacer_start(pacer, Clock::now() + std::chrono::seconds(10)));  // that notice is spent
}

struct CountingRefresh {
    std::atomic<int> count{0};
    NetworkSnapshot operator()() {
        NetworkSnapshot snapshot;
        snapshot.wan_ip = std::to_string(++count);
        return snapshot;
    }
};

bool wait_until(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

TEST(NetworkChanges, ANoticeRefreshesAndPublishesTheResult) {
    CountingRefresh refresh;
    NetworkChanges changes([&] { return refresh(); }, [] { return true; });
    EXPECT_EQ(changes.generation(), 0u);
    changes.notice();
    ASSERT_TRUE(wait_until([&] { return changes.generation() == 1; }));
    EXPECT_EQ(changes.latest().wan_ip, "1");
    std::this_thread::sleep_for(CHANGE_REFRESH_SPACING + milliseconds(200));
    EXPECT_EQ(refresh.count.load(), 1);  // quiet network, no more refreshes
}

TEST(NetworkChanges, AThousandNoticesInASecondStartFewRefreshesAndTheLastOneCounts) {
    CountingRefresh refresh;
    NetworkChanges changes([&] { return refresh(); }, [] { return true; });
    const auto started = Clock::now();
    for (int i = 0; i < 1000; ++i) {
        changes.notice();
        std::this_thread::sleep_until(started + milliseconds(i));
    }
    const auto burst = Clock::now() - started;
    // One refresh per 500 ms begun, and one more for the burst's tail.
    const auto spacings = burst / CHANGE_REFRESH_SPACING;
    ASSERT_TRUE(wait_until([&] { return changes.generation() >= 2; }));
    std::this_thread::sleep_for(CHANGE_REFRESH_SPACING * 2);
    EXPECT_LE(refresh.count.load(), spacings + 2);
    EXPECT_GE(refresh.count.load(), 2);  // the notices after the first refresh were not dropped
    EXPECT_EQ(changes.generation(), static_cast<std::uint64_t>(refresh.count.load()));
}

TEST(NetworkChanges, NoRefreshWhileNobodyListens) {
    CountingRefresh refresh;
    std::atomic<bool> wanted{false};
    NetworkChanges changes([&] { return refresh(); }, [&] { return wanted.load(); });
    changes.notice();
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(refresh.count.load(), 0);
    EXPECT_EQ(changes.generation(), 0u);
    wanted = true;
    std::this_thread::sleep_for(CHANGE_REFRESH_SPACING);
    changes.notice();
    EXPECT_TRUE(wait_until([&] { return changes.generation() == 1; }));
}

TEST(NetworkChanges, AnOlderRefreshEndingLastDoesNotUndoANewerOne) {
    std::atomic<int> calls{0};
    NetworkChanges changes(
        [&] {
            NetworkSnapshot snapshot;
            if (++calls == 1) {
                std::this_thread::sleep_for(std::chrono::seconds(3));  // its router is slow
                snapshot.wan_ip = "before the change";
            } else {
                snapshot.wan_ip = "after the change";
            }
            return snapshot;
        },
        [] { return true; });
    changes.notice();
    ASSERT_TRUE(wait_until([&] { return calls.load() == 1; }));
    std::this_thread::sleep_for(CHANGE_REFRESH_SPACING);
    changes.notice();  // does not wait for the slow one
    ASSERT_TRUE(wait_until([&] { return changes.generation() == 1; }, std::chrono::seconds(2)));
    EXPECT_EQ(changes.latest().wan_ip, "after the change");
    ASSERT_TRUE(wait_until([&] { return calls.load() == 2; }));
    std::this_thread::sleep_for(std::chrono::seconds(3));  // the slow one has ended
    EXPECT_EQ(changes.latest().wan_ip, "after the change");
    EXPECT_EQ(changes.generation(), 1u);
}

TEST(NetworkChanges, NoMemoryForARefreshsThreadStillRefreshesAndEndsNothing) {
    CountingRefresh refresh;
    // Asked on the refresher's own thread just before it starts the refresh's.
    NetworkChanges changes([&] { return refresh(); }, [] { return test::next_allocation_fails = true; });
    changes.notice();
    EXPECT_TRUE(wait_until([&] { return changes.generation() == 1; }));
}

TEST(NetworkChanges, AFailedRefreshPublishesNothing) {
    std::atomic<int> calls{0};
    NetworkChanges changes(
        [&]() -> NetworkSnapshot {
            ++calls;
            throw std::runtime_error("survey failed");
        },
        [] { return true; });
    changes.notice();
    ASSERT_TRUE(wait_until([&] { return calls.load() == 1; }));
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(changes.generation(), 0u);
}

NetworkSnapshot snapshot_with(const std::string& wan_ip) { return {Survey{"PC-01", {}}, wan_ip}; }

bool has(const std::string& document, const std::string& member) {
    return document.find(member) != std::string::npos;
}

TEST(StatusSource, EveryDocumentCarriesTheTokenAndWhatItWasMadeFrom) {
    const auto token = std::make_shared<const std::string>("tok");
    auto changes = std::make_shared<NetworkChanges>([] { return snapshot_with("203.0.113.9"); }, [] { return true; });
    const StatusSource source(token, changes, [] { return snapshot_with("203.0.113.7"); });
    EXPECT_TRUE(source.reports_changes());
    EXPECT_EQ(source.change_count(), 0u);
    const std::string fresh = source.fresh_document();
    EXPECT_TRUE(has(fresh, "\"wanIp\":\"203.0.113.7\"") && has(fresh, "\"token\":\"tok\"")) << fresh;
    EXPECT_EQ(source.document(source.check().get()), fresh);
    changes->notice();
    ASSERT_TRUE(wait_until([&] { return source.change_count() == 1; }));
    const std::string changed = source.changed_document();
    EXPECT_TRUE(has(changed, "\"wanIp\":\"203.0.113.9\"") && has(changed, "\"token\":\"tok\"")) << changed;

    const StatusSource unreported(token, nullptr, [] { return snapshot_with(""); });
    EXPECT_FALSE(unreported.reports_changes());
    EXPECT_EQ(unreported.change_count(), 0u);
}

TEST(StatusSource, ChecksWhileOneRunsShareItAndTheNextStartsAnew) {
    std::atomic<int> taken{0};
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    const StatusSource source(std::make_shared<const std::string>("tok"), nullptr, [&] {
        released.wait();
        return snapshot_with(std::to_string(++taken));
    });
    const auto first = source.check();
    const auto second = source.check();
    release.set_value();
    EXPECT_EQ(first.get().wan_ip, "1");
    EXPECT_EQ(&first.get(), &second.get());  // one result, not two equal ones
    ASSERT_TRUE(wait_until([&] { return source.check().get().wan_ip == "2"; }));
    EXPECT_EQ(taken.load(), 2);
}

}  // namespace
}  // namespace nerova::netinfo
