// The one piece of state the network side and the tray share: how many live channels are open.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace nerova {

struct BridgeState {
    std::atomic<std::int64_t> live_channel_count{0};
};

// Counts one open live channel for as long as it lives, so every way out of a channel,
// unwinding included, gives the count back.
class LiveChannelGuard {
public:
    explicit LiveChannelGuard(std::shared_ptr<BridgeState> state) : state_(std::move(state)) {
        state_->live_channel_count.fetch_add(1);
    }
    ~LiveChannelGuard() { state_->live_channel_count.fetch_sub(1); }
    LiveChannelGuard(const LiveChannelGuard&) = delete;
    LiveChannelGuard& operator=(const LiveChannelGuard&) = delete;

private:
    std::shared_ptr<BridgeState> state_;
};

inline bool web_page_connected(const BridgeState& state) { return state.live_channel_count.load() > 0; }

}  // namespace nerova
