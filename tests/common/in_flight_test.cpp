// One computation in flight: askers meanwhile share it, the next asker after it starts anew, and
// work that throws still answers everyone.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "common/in_flight.h"

using namespace nerova;

namespace {

struct Held {
    std::vector<InFlight<int>::Task> tasks;
    void run_all() {
        for (auto& task : tasks) task();
        tasks.clear();
    }
};

}  // namespace

TEST(InFlight, AskersWhileItRunsShareOneComputationAndTheNextStartsAnew) {
    InFlight<int> in_flight;
    Held held;
    int runs = 0;
    const auto work = [&] { return ++runs; };
    const auto hold = [&](InFlight<int>::Task task) { held.tasks.push_back(std::move(task)); };
    auto first = in_flight.share(work, hold);
    auto second = in_flight.share(work, hold);
    ASSERT_EQ(held.tasks.size(), 1u);
    held.run_all();
    EXPECT_EQ(first.get(), 1);
    EXPECT_EQ(second.get(), 1);
    auto third = in_flight.share(work, hold);
    held.run_all();
    EXPECT_EQ(third.get(), 2);
}

TEST(InFlight, WorkThatThrowsGivesEveryAskerADefaultResult) {
    InFlight<int> in_flight;
    Held held;
    const auto hold = [&](InFlight<int>::Task task) { held.tasks.push_back(std::move(task)); };
    auto first = in_flight.share([]() -> int { throw std::runtime_error("no network"); }, hold);
    auto second = in_flight.share([] { return 7; }, hold);
    held.run_all();
    EXPECT_EQ(first.get(), 0);
    EXPECT_EQ(second.get(), 0);
    auto after = in_flight.share([] { return 7; }, hold);
    held.run_all();
    EXPECT_EQ(after.get(), 7);
}

TEST(InFlight, ALaunchThatThrowsRunsTheWorkHereAndLeavesNothingInFlight) {
    InFlight<int> in_flight;
    const auto no_thread = [](const InFlight<int>::Task&) { throw std::bad_alloc(); };
    EXPECT_EQ(in_flight.share([] { return 7; }, no_thread).get(), 7);
    EXPECT_EQ(in_flight.share([] { return 8; }, no_thread).get(), 8);
}
