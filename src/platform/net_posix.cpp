#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include "platform/native_net.h"

namespace nerova::platform {
namespace {

bool set_timeout(int fd, int option, std::chrono::milliseconds limit) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(limit.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((limit.count() % 1000) * 1000);
    return ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

IoStatus status_of_errno() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == ETIMEDOUT ? IoStatus::timed_out : IoStatus::failed;
}

int fd_of(Socket::Handle handle) { return static_cast<int>(handle); }

}  // namespace

void init_sockets() {}

void Socket::close() {
    if (valid()) ::close(fd_of(release()));
}

std::optional<Socket> Socket::listen_tcp(const SocketAddress& address, int backlog, int& os_error) {
    Socket socket(::socket(native::family_of(address.family), SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
        os_error = errno;
        return std::nullopt;
    }
    // Lets a restarted copy bind while the previous run's closed connections sit in TIME_WAIT;
    // a second running copy still fails to bind.
    const int on = 1;
    ::setsockopt(fd_of(socket.handle()), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage storage;
    const socklen_t length = native::to_sockaddr(address, storage);
    if (::bind(fd_of(socket.handle()), reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(fd_of(socket.handle()), backlog) != 0) {
        os_error = errno;
        return std::nullopt;
    }
    return socket;
}

std::optional<Socket> Socket::accept(int& os_error) const {
    const int fd = ::accept4(fd_of(handle_), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        os_error = errno;
        return std::nullopt;
    }
    return Socket(fd);
}

std::optional<Socket> Socket::connect_tcp(const SocketAddress& address, std::chrono::milliseconds limit) {
    Socket socket(::socket(native::family_of(address.family), SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return std::nullopt;
    const int fd = fd_of(socket.handle());
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    sockaddr_storage storage;
    const socklen_t length = native::to_sockaddr(address, storage);
    const int started = ::connect(fd, reinterpret_cast<sockaddr*>(&storage), length);
    const bool pending = started != 0 && errno == EINPROGRESS;
    ::fcntl(fd, F_SETFL, flags);
    if (started != 0 && !pending) return std::nullopt;
    if (pending) {
        pollfd waiting{fd, POLLOUT, 0};
        if (::poll(&waiting, 1, static_cast<int>(limit.count())) <= 0) return std::nullopt;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return std::nullopt;
    }
    return socket;
}

std::optional<Socket> Socket::open_udp(const SocketAddress& local) {
    Socket socket(::socket(native::family_of(local.family), SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return std::nullopt;
    sockaddr_storage storage;
    const socklen_t length = native::to_sockaddr(local, storage);
    if (::bind(fd_of(socket.handle()), reinterpret_cast<sockaddr*>(&storage), length) != 0) return std::nullopt;
    return socket;
}

std::optional<SocketAddress> Socket::local_address() const {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(fd_of(handle_), reinterpret_cast<sockaddr*>(&storage), &length) != 0) return std::nullopt;
    return native::from_sockaddr(reinterpret_cast<sockaddr*>(&storage));
}

bool Socket::set_receive_timeout(std::chrono::milliseconds limit) {
    return set_timeout(fd_of(handle_), SO_RCVTIMEO, limit);
}

bool Socket::set_send_timeout(std::chrono::milliseconds limit) {
    return set_timeout(fd_of(handle_), SO_SNDTIMEO, limit);
}

bool Socket::set_no_delay() {
    const int on = 1;
    return ::setsockopt(fd_of(handle_), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

IoStatus Socket::wait_readable(std::chrono::milliseconds limit) const {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd waiting{fd_of(handle_), POLLIN, 0};
        const int ready = ::poll(&waiting, 1, left > 0 ? static_cast<int>(left) : 0);
        if (ready > 0) return IoStatus::ok;
        if (ready == 0) return IoStatus::timed_out;
        if (errno != EINTR) return IoStatus::failed;
    }
}

IoResult Socket::receive(void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::recv(fd_of(handle_), buffer, size, 0);
        if (n > 0) return {IoStatus::ok, static_cast<std::size_t>(n)};
        if (n == 0) return {IoStatus::closed, 0};
        if (errno != EINTR) return {status_of_errno(), 0};
    }
}

IoResult Socket::send(const void* data, std::size_t size) {
    for (;;) {
        const ssize_t n = ::send(fd_of(handle_), data, size, MSG_NOSIGNAL);
        if (n >= 0) return {IoStatus::ok, static_cast<std::size_t>(n)};
        if (errno != EINTR) return {status_of_errno(), 0};
    }
}

bool Socket::send_to(const void* data, std::size_t size, const SocketAddress& to) {
    sockaddr_storage storage;
    const socklen_t length = native::to_sockaddr(to, storage);
    const ssize_t n = ::sendto(fd_of(handle_), data, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&storage), length);
    return n == static_cast<ssize_t>(size);
}

IoResult Socket::receive_from(void* buffer, std::size_t size, SocketAddress* from) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    // MSG_TRUNC reports a datagram longer than the buffer, which counts as an error, as on Windows.
    const ssize_t n = ::recvfrom(fd_of(handle_), buffer, size, MSG_TRUNC, reinterpret_cast<sockaddr*>(&storage), &length);
    if (n < 0) return {status_of_errno(), 0};
    if (static_cast<std::size_t>(n) > size) return {IoStatus::failed, 0};
    if (from != nullptr) {
        if (auto address = native::from_sockaddr(reinterpret_cast<sockaddr*>(&storage))) *from = *address;
    }
    return {IoStatus::ok, static_cast<std::size_t>(n)};
}

std::string os_error_message(int code) {
    char buffer[256] = {};
    // GNU strerror_r returns the message, which may or may not live in the buffer.
    const char* message = ::strerror_r(code, buffer, sizeof buffer);
    std::string text = message != nullptr ? message : "";
    if (text.empty() || text.rfind("Unknown error", 0) == 0) {
        text = "OS Error " + std::to_string(code) + " (no message for this error number)";
    }
    return text + " (os error " + std::to_string(code) + ")";
}

}  // namespace nerova::platform
