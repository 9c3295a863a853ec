// The parts of the socket layer that read the same on every platform.
#include <cstring>
#include <string>

#include "platform/native_net.h"

namespace nerova::platform {
namespace native {

SockLen to_sockaddr(const SocketAddress& address, sockaddr_storage& storage) {
    std::memset(&storage, 0, sizeof storage);
    if (address.family == Family::ipv4) {
        auto* in = reinterpret_cast<sockaddr_in*>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(address.port);
        std::memcpy(&in->sin_addr, address.bytes.data(), 4);
        return sizeof(sockaddr_in);
    }
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(address.port);
    std::memcpy(&in6->sin6_addr, address.bytes.data(), 16);
    return sizeof(sockaddr_in6);
}

std::optional<SocketAddress> from_sockaddr(const sockaddr* sa) {
    SocketAddress address;
    if (sa->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
        address.family = Family::ipv4;
        address.port = ntohs(in->sin_port);
        std::memcpy(address.bytes.data(), &in->sin_addr, 4);
        return address;
    }
    if (sa->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(sa);
        address.family = Family::ipv6;
        address.port = ntohs(in6->sin6_port);
        std::memcpy(address.bytes.data(), &in6->sin6_addr, 16);
        return address;
    }
    return std::nullopt;
}

int family_of(Family family) { return family == Family::ipv4 ? AF_INET : AF_INET6; }

}  // namespace native

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.release();
    }
    return *this;
}

Socket::Handle Socket::release() {
    const Handle handle = handle_;
    handle_ = -1;
    return handle;
}

bool Socket::send_all(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const IoResult sent = send(bytes, size);
        if (sent.status != IoStatus::ok || sent.bytes == 0) return false;
        bytes += sent.bytes;
        size -= sent.bytes;
    }
    return true;
}

std::optional<SocketAddress> parse_ip_literal(const std::string& text, std::uint16_t port) {
    SocketAddress address;
    address.port = port;
    if (::inet_pton(AF_INET, text.c_str(), address.bytes.data()) == 1) {
        address.family = Family::ipv4;
        return address;
    }
    if (::inet_pton(AF_INET6, text.c_str(), address.bytes.data()) == 1) {
        address.family = Family::ipv6;
        return address;
    }
    return std::nullopt;
}

}  // namespace nerova::platform
