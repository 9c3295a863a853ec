#include "loopback.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace nerova::test {
namespace {

constexpr auto REQUEST_READ_LIMIT = std::chrono::milliseconds(3000);

platform::SocketAddress address(Host host, std::uint16_t port) {
    return platform::ipv4_address(host[0], host[1], host[2], host[3], port);
}

std::size_t content_length(const std::string& head) {
    const std::string name = "\r\nContent-Length: ";
    const std::size_t at = head.find(name);
    return at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + name.size(), nullptr, 10);
}

std::string read_request(platform::Socket& connection) {
    connection.set_receive_timeout(REQUEST_READ_LIMIT);
    std::string request;
    char chunk[4096];
    for (;;) {
        const std::size_t head_end = request.find("\r\n\r\n");
        if (head_end != std::string::npos && request.size() >= head_end + 4 + content_length(request.substr(0, head_end))) {
            return request;
        }
        const platform::IoResult received = connection.receive(chunk, sizeof chunk);
        if (received.status != platform::IoStatus::ok) return request;
        request.append(chunk, received.bytes);
    }
}

}  // namespace

platform::Socket listen_on(Host host, std::uint16_t port) {
    platform::init_sockets();
    int error = 0;
    auto listener = platform::Socket::listen_tcp(address(host, port), 16, error);
    return listener ? std::move(*listener) : platform::Socket();
}

platform::Socket listen_any_port() {
    platform::Socket listener = listen_on(LOOPBACK);
    if (!listener.valid()) throw std::runtime_error("cannot listen on loopback");
    return listener;
}

platform::Socket connect_to(const platform::Socket& listener) {
    auto socket = platform::Socket::connect_tcp(*listener.local_address(), std::chrono::milliseconds(2000));
    if (!socket) throw std::runtime_error("cannot connect on loopback");
    socket->set_receive_timeout(std::chrono::milliseconds(5000));
    return std::move(*socket);
}

void send_text(platform::Socket& socket, const std::string& bytes) { socket.send_all(bytes.data(), bytes.size()); }

std::string read_to_end(platform::Socket& socket) {
    std::string all;
    char buffer[4096];
    for (;;) {
        const platform::IoResult got = socket.receive(buffer, sizeof buffer);
        if (got.status != platform::IoStatus::ok) return all;
        all.append(buffer, got.bytes);
    }
}

std::string read_exactly(platform::Socket& socket, std::size_t count) {
    std::string all;
    char buffer[4096];
    while (all.size() < count) {
        const platform::IoResult got = socket.receive(buffer, std::min(sizeof buffer, count - all.size()));
        if (got.status != platform::IoStatus::ok) break;
        all.append(buffer, got.bytes);
    }
    return all;
}

TestHttpServer::TestHttpServer(Handler handler, std::uint16_t port, Host host)
    : handler_(std::move(handler)), host_(host), listener_(listen_on(host, port)) {
    if (listener_.valid()) {
        port_ = listener_.local_address()->port;
        thread_ = std::thread([this] { serve(); });
    }
}

TestHttpServer::~TestHttpServer() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    // Wakes the blocking accept.
    platform::Socket::connect_tcp(address(host_, port_), std::chrono::milliseconds(500));
    thread_.join();
}

std::string TestHttpServer::url(const std::string& path) const {
    return "http://" + std::to_string(host_[0]) + "." + std::to_string(host_[1]) + "." + std::to_string(host_[2]) +
           "." + std::to_string(host_[3]) + ":" + std::to_string(port_) + path;
}

std::vector<std::string> TestHttpServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void TestHttpServer::serve() {
    while (!stopping_) {
        int error = 0;
        std::optional<platform::Socket> connection = listener_.accept(error);
        if (!connection) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (stopping_) break;
        const std::string request = read_request(*connection);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        handler_(*connection, request);
    }
}

TestHttpServer::Handler answer_with(std::string response) {
    return [response](platform::Socket& connection, const std::string&) {
        connection.send_all(response.data(), response.size());
    };
}

TestHttpServer::Handler answer_and_hold(std::string response, int hold_ms) {
    return [response, hold_ms](platform::Socket& connection, const std::string&) {
        connection.send_all(response.data(), response.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
    };
}

std::string http_response(const std::string& status, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

}  // namespace nerova::test
