#include "platform/native_net.h"

#include "common/text.h"

#include <windows.h>

#include <cstring>

namespace nerova::platform {
namespace {

SOCKET raw(Socket::Handle handle) { return static_cast<SOCKET>(handle); }

Socket::Handle wrap(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<Socket::Handle>(s); }

Socket::Handle new_socket(Family family, int type, int protocol) {
    return wrap(::WSASocketW(native::family_of(family), type, protocol, nullptr, 0,
                             WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
}

bool set_timeout(SOCKET s, int option, std::chrono::milliseconds limit) {
    const DWORD ms = static_cast<DWORD>(limit.count());
    return ::setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&ms), sizeof ms) == 0;
}

IoStatus status_of_last_error() {
    const int error = ::WSAGetLastError();
    return error == WSAETIMEDOUT || error == WSAEWOULDBLOCK ? IoStatus::timed_out : IoStatus::failed;
}

int clamp_size(std::size_t size) { return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size); }

}  // namespace

void init_sockets() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
}

void Socket::close() {
    if (valid()) ::closesocket(raw(release()));
}

std::optional<Socket> Socket::listen_tcp(const SocketAddress& address, int backlog, int& os_error) {
    // No reuse option: on Windows it would let another program take the port.
    Socket socket(new_socket(address.family, SOCK_STREAM, IPPROTO_TCP));
    if (!socket.valid()) {
        os_error = ::WSAGetLastError();
        return std::nullopt;
    }
    sockaddr_storage storage;
    const int length = native::to_sockaddr(address, storage);
    if (::bind(raw(socket.handle()), reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(raw(socket.handle()), backlog) != 0) {
        os_error = ::WSAGetLastError();
        return std::nullopt;
    }
    return socket;
}

std::optional<Socket> Socket::accept(int& os_error) const {
    const SOCKET s = ::accept(raw(handle_), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        os_error = ::WSAGetLastError();
        return std::nullopt;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return Socket(wrap(s));
}

std::optional<Socket> Socket::connect_tcp(const SocketAddress& address, std::chrono::milliseconds limit) {
    Socket socket(new_socket(address.family, SOCK_STREAM, IPPROTO_TCP));
    if (!socket.valid()) return std::nullopt;
    const SOCKET s = raw(socket.handle());
    u_long mode = 1;
    ::ioctlsocket(s, FIONBIO, &mode);
    sockaddr_storage storage;
    const int length = native::to_sockaddr(address, storage);
    const int started = ::connect(s, reinterpret_cast<sockaddr*>(&storage), length);
    const bool pending = started != 0 && ::WSAGetLastError() == WSAEWOULDBLOCK;
    mode = 0;
    ::ioctlsocket(s, FIONBIO, &mode);
    if (started != 0 && !pending) return std::nullopt;
    if (pending) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval tv{};
        tv.tv_sec = static_cast<long>(limit.count() / 1000);
        tv.tv_usec = static_cast<long>((limit.count() % 1000) * 1000);
        if (::select(0, nullptr, &writable, &failed, &tv) <= 0) return std::nullopt;
        int error = 0;
        int size = sizeof error;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 || error != 0) {
            return std::nullopt;
        }
        if (FD_ISSET(s, &failed)) return std::nullopt;
    }
    return socket;
}

std::optional<Socket> Socket::open_udp(const SocketAddress& local) {
    Socket socket(new_socket(local.family, SOCK_DGRAM, IPPROTO_UDP));
    if (!socket.valid()) return std::nullopt;
    sockaddr_storage storage;
    const int length = native::to_sockaddr(local, storage);
    if (::bind(raw(socket.handle()), reinterpret_cast<sockaddr*>(&storage), length) != 0) return std::nullopt;
    return socket;
}

std::optional<SocketAddress> Socket::local_address() const {
    sockaddr_storage storage{};
    int length = sizeof storage;
    if (::getsockname(raw(handle_), reinterpret_cast<sockaddr*>(&storage), &length) != 0) return std::nullopt;
    return native::from_sockaddr(reinterpret_cast<sockaddr*>(&storage));
}

bool Socket::set_receive_timeout(std::chrono::milliseconds limit) {
    return set_timeout(raw(handle_), SO_RCVTIMEO, limit);
}

bool Socket::set_send_timeout(std::chrono::milliseconds limit) {
    return set_timeout(raw(handle_), SO_SNDTIMEO, limit);
}

bool Socket::set_no_delay() {
    const BOOL on = TRUE;
    return ::setsockopt(raw(handle_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

IoStatus Socket::wait_readable(std::chrono::milliseconds limit) const {
    WSAPOLLFD waiting{};
    waiting.fd = raw(handle_);
    waiting.events = POLLRDNORM;
    const int ready = ::WSAPoll(&waiting, 1, static_cast<INT>(limit.count()));
    if (ready > 0) return IoStatus::ok;
    return ready == 0 ? IoStatus::timed_out : IoStatus::failed;
}

IoResult Socket::receive(void* buffer, std::size_t size) {
    const int n = ::recv(raw(handle_), static_cast<char*>(buffer), clamp_size(size), 0);
    if (n > 0) return {IoStatus::ok, static_cast<std::size_t>(n)};
    if (n == 0) return {IoStatus::closed, 0};
    return {status_of_last_error(), 0};
}

IoResult Socket::send(const void* data, std::size_t size) {
    const int n = ::send(raw(handle_), static_cast<const char*>(data), clamp_size(size), 0);
    if (n >= 0) return {IoStatus::ok, static_cast<std::size_t>(n)};
    return {status_of_last_error(), 0};
}

bool Socket::send_to(const void* data, std::size_t size, const SocketAddress& to) {
    sockaddr_storage storage;
    const int length = native::to_sockaddr(to, storage);
    const int n = ::sendto(raw(handle_), static_cast<const char*>(data), clamp_size(size), 0,
                           reinterpret_cast<sockaddr*>(&storage), length);
    return n == static_cast<int>(size);
}

IoResult Socket::receive_from(void* buffer, std::size_t size, SocketAddress* from) {
    sockaddr_storage storage{};
    int length = sizeof storage;
    // A datagram longer than the buffer fails here with WSAEMSGSIZE.
    const int n = ::recvfrom(raw(handle_), static_cast<char*>(buffer), clamp_size(size), 0,
                             reinterpret_cast<sockaddr*>(&storage), &length);
    if (n < 0) return {status_of_last_error(), 0};
    if (from != nullptr) {
        if (auto address = native::from_sockaddr(reinterpret_cast<sockaddr*>(&storage))) *from = *address;
    }
    return {IoStatus::ok, static_cast<std::size_t>(n)};
}

std::string os_error_message(int code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string message;
    if (length > 0 && buffer != nullptr) {
        message = text::from_wide(buffer, length);
        while (!message.empty() &&
               (message.back() == '\r' || message.back() == '\n' || message.back() == ' ' || message.back() == '\t')) {
            message.pop_back();
        }
    } else {
        message = "OS Error " + std::to_string(code) + " (FormatMessageW failed with error " +
                  std::to_string(::GetLastError()) + ")";
    }
    if (buffer != nullptr) ::LocalFree(buffer);
    return message + " (os error " + std::to_string(code) + ")";
}

}  // namespace nerova::platform
