#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <thread>

#include "netinfo/change_listener.h"
#include "platform/net.h"
#include "platform/owned.h"

namespace nerova::netinfo {
namespace {

// A notice only says "look again": its content is never read, so a small buffer does.
constexpr std::size_t NOTICE_BUFFER_SIZE = 8 * 1024;

struct DescriptorTraits {
    using Handle = int;
    static Handle empty() { return -1; }
    static void close(Handle fd) { ::close(fd); }
};
using Descriptor = platform::Owned<DescriptorTraits>;

class NetlinkChangeListener final : public ChangeListener {
public:
    NetlinkChangeListener(platform::Socket netlink, Descriptor stop, std::function<void()> on_change)
        : netlink_(std::move(netlink)), stop_(std::move(stop)), on_change_(std::move(on_change)) {
        thread_ = std::thread([this] { listen(); });
    }
    ~NetlinkChangeListener() override {
        const std::uint64_t one = 1;
        // An eventfd write only fails at its counter's limit, never reached here.
        [[maybe_unused]] const ssize_t written = ::write(stop_.get(), &one, sizeof one);
        thread_.join();
    }

private:
    void listen() {
        char buffer[NOTICE_BUFFER_SIZE];
        for (;;) {
            pollfd waiting[2] = {{static_cast<int>(netlink_.handle()), POLLIN, 0},
                                 {stop_.get(), POLLIN, 0}};
            if (::poll(waiting, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (waiting[1].revents != 0) return;
            sockaddr_nl sender{};
            socklen_t sender_length = sizeof sender;
            const ssize_t received = ::recvfrom(static_cast<int>(netlink_.handle()), buffer, sizeof buffer,
                                                MSG_DONTWAIT | MSG_TRUNC, reinterpret_cast<sockaddr*>(&sender),
                                                &sender_length);
            if (received < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                // Notices were lost because the queue overflowed: something changed all the same.
                if (errno == ENOBUFS) {
                    on_change_();
                    continue;
                }
                return;  // the 3 s checks go on without notices
            }
            if (sender.nl_pid == 0) on_change_();  // only the kernel's notices count
        }
    }

    platform::Socket netlink_;
    Descriptor stop_;
    std::function<void()> on_change_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<ChangeListener> start_change_listener(std::function<void()> on_change) {
    platform::Socket netlink(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!netlink.valid()) return nullptr;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
    if (::bind(static_cast<int>(netlink.handle()), reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
        return nullptr;
    }
    Descriptor stop(::eventfd(0, EFD_CLOEXEC));
    if (!stop) return nullptr;
    try {
        return std::make_unique<NetlinkChangeListener>(std::move(netlink), std::move(stop), std::move(on_change));
    } catch (const std::system_error&) {
        return nullptr;  // no thread
    }
}

}  // namespace nerova::netinfo
