// The one piece of state the network side and the tray share: how many live channels are open.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace nerova {

namespace netinfo {
class NetworkChanges;
}

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

// What start-up hands to the service and every connection carries: the access token (never
// changed while the process runs), the bridge state and the refresh that network changes start
// (none where nothing reports them).
struct SharedState {
    std::shared_ptr<const std::string> token;
    std::shared_ptr<BridgeState> bridge;
    std::shared_ptr<const netinfo::NetworkChanges> changes;
};

inline bool web_page_connected(const BridgeState& state) { return state.live_channel_count.load() > 0; }

}  // namespace nerova
