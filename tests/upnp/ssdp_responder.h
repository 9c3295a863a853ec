// Linux: a stand-in for a router's SSDP side, listening on 239.255.255.250:1900 joined on the
// loopback link, answering from addresses of a test LAN. Only inside a network namespace of the
// test's own, after make_test_lan().
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nerova::upnp::testing {

// The test LAN: a veth link carrying the router's address and a hostile host's.
inline constexpr std::array<std::uint8_t, 4> ROUTER_HOST = {10, 77, 0, 1};
inline constexpr std::array<std::uint8_t, 4> HOSTILE_HOST = {10, 77, 0, 66};
inline constexpr std::array<std::uint8_t, 4> LOOPBACK_HOST = {127, 0, 0, 1};

// Builds the test LAN and routes the search's multicast to loopback; true when both are in place.
bool make_test_lan();

struct SsdpAnswer {
    SsdpAnswer(std::string datagram, std::array<std::uint8_t, 4> from = ROUTER_HOST)
        : datagram(std::move(datagram)), from(from) {}
    std::string datagram;
    std::array<std::uint8_t, 4> from;
};

class SsdpResponder {
public:
    // Every search datagram is answered with each of `answers`, in order, one datagram each,
    // after `delay`.
    explicit SsdpResponder(std::vector<SsdpAnswer> answers, std::chrono::milliseconds delay = {});
    ~SsdpResponder();
    SsdpResponder(const SsdpResponder&) = delete;
    SsdpResponder& operator=(const SsdpResponder&) = delete;

    bool listening() const { return fd_ >= 0; }
    std::vector<std::string> searches() const;

private:
    void serve();

    std::vector<SsdpAnswer> answers_;
    std::chrono::milliseconds delay_;
    int fd_ = -1;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> searches_;
    std::thread thread_;
};

// A search answer of the usual shape around the given location line.
std::string ssdp_answer(const std::string& location_line);

}  // namespace nerova::upnp::testing
