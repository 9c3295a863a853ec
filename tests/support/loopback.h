// Real loopback sockets for in-process tests (each test runs in a network namespace of its own).
#pragma once

#include <string>

#include "platform/net.h"

namespace nerova::test {

inline platform::Socket listen_any_port() {
    platform::init_sockets();
    int error = 0;
    auto listener = platform::Socket::listen_tcp(platform::ipv4_address(127, 0, 0, 1, 0), 16, error);
    if (!listener) throw std::runtime_error("cannot listen on loopback: " + platform::os_error_message(error));
    return std::move(*listener);
}

inline platform::Socket connect_to(const platform::Socket& listener) {
    auto socket = platform::Socket::connect_tcp(*listener.local_address(), std::chrono::milliseconds(2000));
    if (!socket) throw std::runtime_error("cannot connect on loopback");
    socket->set_receive_timeout(std::chrono::milliseconds(5000));
    return std::move(*socket);
}

inline void send_text(platform::Socket& socket, const std::string& bytes) { socket.send_all(bytes.data(), bytes.size()); }

// Everything until the peer closes (or the receive time-out runs out).
inline std::string read_to_end(platform::Socket& socket) {
    std::string all;
    char buffer[4096];
    for (;;) {
        const platform::IoResult got = socket.receive(buffer, sizeof buffer);
        if (got.status != platform::IoStatus::ok) return all;
        all.append(buffer, got.bytes);
    }
}

// Exactly `count` bytes, or fewer when the peer closes first.
inline std::string read_exactly(platform::Socket& socket, std::size_t count) {
    std::string all;
    char buffer[4096];
    while (all.size() < count) {
        const platform::IoResult got = socket.receive(buffer, std::min(sizeof buffer, count - all.size()));
        if (got.status != platform::IoStatus::ok) break;
        all.append(buffer, got.bytes);
    }
    return all;
}

}  // namespace nerova::test
