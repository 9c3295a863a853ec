// Linux: a stand-in for a router's SSDP side, listening on 239.255.255.250:1900 joined on the
// loopback link. It needs a multicast route to loopback (ip route add 239.0.0.0/8 dev lo).
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nerova::upnp::testing {

class SsdpResponder {
public:
    // Every search datagram is answered with each of `answers`, in order, as one datagram each.
    explicit SsdpResponder(std::vector<std::string> answers);
    ~SsdpResponder();
    SsdpResponder(const SsdpResponder&) = delete;
    SsdpResponder& operator=(const SsdpResponder&) = delete;

    bool listening() const { return fd_ >= 0; }
    std::vector<std::string> searches() const;

private:
    void serve();

    std::vector<std::string> answers_;
    int fd_ = -1;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> searches_;
    std::thread thread_;
};

// A search answer of the usual shape around the given location line.
std::string ssdp_answer(const std::string& location_line);

// Adds the multicast route to loopback; true when it is in place. Only for a namespace of the
// test's own.
bool route_multicast_to_loopback();

}  // namespace nerova::upnp::testing
