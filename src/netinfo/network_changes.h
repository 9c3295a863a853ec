// What the live channels share about network changes: a refresh started as soon as the system
// reports a change, at most one started per CHANGE_REFRESH_SPACING, and its result.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "netinfo/collect.h"

namespace nerova::netinfo {

inline constexpr std::chrono::milliseconds CHANGE_REFRESH_SPACING{500};

// The coalescing rule, on its own clock: a notice asks for a refresh; one starts at once unless
// another started less than CHANGE_REFRESH_SPACING ago, then at that mark. Notices meanwhile
// merge into that one refresh, and none is lost.
struct RefreshPacer {
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> last_started;
    bool pending = false;
};

void pacer_notice(RefreshPacer& pacer);
// When the pending refresh may start; nothing while none is pending.
std::optional<RefreshPacer::Clock::time_point> pacer_due(const RefreshPacer& pacer);
// True, and counted as started, when a refresh is pending and due at `now`.
bool pacer_start(RefreshPacer& pacer, RefreshPacer::Clock::time_point now);

class NetworkChanges {
public:
    using Refresh = std::function<NetworkSnapshot()>;
    using Wanted = std::function<bool()>;

    // `refresh` runs on a thread of its own, only while `wanted` says someone will read the
    // result (a live channel is open); notices meanwhile are dropped. Destroying waits for the
    // refreshes under way.
    NetworkChanges(Refresh refresh, Wanted wanted);
    ~NetworkChanges();
    NetworkChanges(const NetworkChanges&) = delete;
    NetworkChanges& operator=(const NetworkChanges&) = delete;

    // "The network may have changed". Takes a lock only as long as it takes to note it.
    void notice();

    // Counts the refreshes that have ended; a channel that saw another count reads `latest`.
    std::uint64_t generation() const { return generation_.load(); }
    NetworkSnapshot latest() const;

private:
    void run();
    void run_refresh(std::uint64_t number);

    Refresh refresh_;
    Wanted wanted_;
    mutable std::mutex mutex_;  // never held while a refresh runs
    std::condition_variable noticed_;  // a notice, the end, or a refresh that ended
    std::uint64_t started_ = 0;
    std::uint64_t published_ = 0;
    int running_ = 0;
    RefreshPacer pacer_;
    bool stopping_ = false;
    NetworkSnapshot latest_;
    std::atomic<std::uint64_t> generation_{0};
    std::thread thread_;  // last: starts once everything above is ready
};

}  // namespace nerova::netinfo
