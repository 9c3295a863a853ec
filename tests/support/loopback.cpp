#include "test_http_server.h"

#include <chrono>
#include <cstdlib>

namespace nerova::upnp::testing {
namespace {

constexpr auto REQUEST_READ_LIMIT = std::chrono::milliseconds(3000);

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

TestHttpServer::TestHttpServer(Handler handler, std::uint16_t port, std::array<std::uint8_t, 4> host)
    : handler_(std::move(handler)), host_(host) {
    platform::init_sockets();
    int error = 0;
    if (auto listener = platform::Socket::listen_tcp(platform::ipv4_address(host[0], host[1], host[2], host[3], port),
                                                     16, error)) {
        listener_ = std::move(*listener);
        port_ = listener_.local_address()->port;
        thread_ = std::thread([this] { serve(); });
    }
}

TestHttpServer::~TestHttpServer() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    // Wakes the blocking accept.
    platform::Socket::connect_tcp(platform::ipv4_address(host_[0], host_[1], host_[2], host_[3], port_),
                                  std::chrono::milliseconds(500));
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

}  // namespace nerova::upnp::testing
