#include "ssdp_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace nerova::upnp::testing {

SsdpResponder::SsdpResponder(std::vector<SsdpAnswer> answers, std::chrono::milliseconds delay)
    : answers_(std::move(answers)), delay_(delay) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(1900);
    ip_mreq membership{};
    ::inet_pton(AF_INET, "239.255.255.250", &membership.imr_multiaddr);
    ::inet_pton(AF_INET, "127.0.0.1", &membership.imr_interface);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    thread_ = std::thread([this] { serve(); });
}

SsdpResponder::~SsdpResponder() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
}

std::vector<std::string> SsdpResponder::searches() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return searches_;
}

void SsdpResponder::serve() {
    char buffer[4096];
    while (!stopping_) {
        pollfd waiting{fd_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0) continue;
        sockaddr_in sender{};
        socklen_t sender_length = sizeof sender;
        const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &sender_length);
        if (n < 0) continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            searches_.emplace_back(buffer, static_cast<std::size_t>(n));
        }
        std::this_thread::sleep_for(delay_);
        for (const SsdpAnswer& answer : answers_) {
            const int out = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in from{};
            from.sin_family = AF_INET;
            std::memcpy(&from.sin_addr, answer.from.data(), 4);
            if (::bind(out, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0) {
                ::sendto(out, answer.datagram.data(), answer.datagram.size(), 0, reinterpret_cast<sockaddr*>(&sender),
                         sender_length);
            }
            ::close(out);
        }
    }
}

std::string ssdp_answer(const std::string& location_line) {
    return "HTTP/1.1 200 OK\r\n"
           "CACHE-CONTROL: max-age=120\r\n"
           "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
           "USN: uuid:00000000-0000-0000-0000-000000000001::urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
           "EXT:\r\n"
           "SERVER: Test/1.0 UPnP/1.1 TestResponder/1.0\r\n" +
           location_line + "\r\n\r\n";
}

bool make_test_lan() {
    return std::system("{ ip link show lan0 >/dev/null 2>&1 || { ip link add lan0 type veth peer name lan0-peer && "
                       "ip addr add 10.77.0.1/24 dev lan0 && ip addr add 10.77.0.66/24 dev lan0 && "
                       "ip link set lan0 up && ip link set lan0-peer up; }; } && "
                       "ip route replace 239.0.0.0/8 dev lo") == 0;
}

}  // namespace nerova::upnp::testing
