// Sockets: one small RAII type over Winsock 2 and BSD sockets.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace nerova::platform {

// Starts the socket library where the platform needs that (Winsock). Call once, before any socket.
void init_sockets();

enum class Family { ipv4, ipv6 };

struct SocketAddress {
    Family family = Family::ipv4;
    std::array<std::uint8_t, 16> bytes{};  // 4 used for IPv4, 16 for IPv6
    std::uint16_t port = 0;
};

inline SocketAddress ipv4_address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint16_t port) {
    SocketAddress address;
    address.bytes[0] = a;
    address.bytes[1] = b;
    address.bytes[2] = c;
    address.bytes[3] = d;
    address.port = port;
    return address;
}

// A numeric IPv4 (dotted) or IPv6 literal; nothing for anything else.
std::optional<SocketAddress> parse_ip_literal(const std::string& text, std::uint16_t port);

enum class IoStatus { ok, closed, timed_out, failed };

struct IoResult {
    IoStatus status = IoStatus::failed;
    std::size_t bytes = 0;
};

class Socket {
public:
    using Handle = std::intptr_t;  // fits both an fd and a SOCKET; -1 is invalid on both

    Socket() = default;
    explicit Socket(Handle handle) : handle_(handle) {}
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : handle_(other.release()) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool valid() const { return handle_ != -1; }
    Handle handle() const { return handle_; }
    Handle release();
    void close();

    // A blocking TCP listener, not inherited by child processes. `os_error` gets the system's
    // error number on failure.
    static std::optional<Socket> listen_tcp(const SocketAddress& address, int backlog, int& os_error);
    std::optional<Socket> accept(int& os_error) const;
    std::optional<SocketAddress> local_address() const;

    // Non-blocking connect that waits at most `limit` for completion, then back to blocking.
    static std::optional<Socket> connect_tcp(const SocketAddress& address, std::chrono::milliseconds limit);

    static std::optional<Socket> open_udp(const SocketAddress& local);

    bool set_receive_timeout(std::chrono::milliseconds limit);
    bool set_send_timeout(std::chrono::milliseconds limit);
    bool set_no_delay();

    // Waits up to `limit` until a receive would not block: `ok` when it would (bytes, end of
    // stream or an error to report), `timed_out` when the time ran out, `failed` when the wait did.
    IoStatus wait_readable(std::chrono::milliseconds limit) const;

    // One receive; `closed` means end of stream, `timed_out` the receive time-out ran out.
    IoResult receive(void* buffer, std::size_t size);
    // One send; never raises SIGPIPE.
    IoResult send(const void* data, std::size_t size);
    // Sends everything, resuming partial sends and retrying interrupted ones; false on any
    // failure or on a send that reports zero bytes.
    bool send_all(const void* data, std::size_t size);

    bool send_to(const void* data, std::size_t size, const SocketAddress& to);
    IoResult receive_from(void* buffer, std::size_t size, SocketAddress* from);

private:
    Handle handle_ = -1;
};

// The system's message for an error number, as "text (os error N)".
std::string os_error_message(int code);

}  // namespace nerova::platform
