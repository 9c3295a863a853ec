// Real sockets for in-process tests (each test runs in a network namespace of its own): listeners
// on a port the system picks, clients for them, and an HTTP server of the tests' own that records
// each request's bytes and answers with whatever the test's handler writes.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"

namespace nerova::test {

using Host = std::array<std::uint8_t, 4>;
inline constexpr Host LOOPBACK = {127, 0, 0, 1};

// Listens on `host` at `port`, or at a port the system picks when `port` is 0; an invalid socket
// when it cannot.
platform::Socket listen_on(Host host, std::uint16_t port = 0);
// A loopback listener at a port the system picks; throws when there is none.
platform::Socket listen_any_port();
// A client of `listener` whose receives give up after 5 s.
platform::Socket connect_to(const platform::Socket& listener);

void send_text(platform::Socket& socket, const std::string& bytes);
// Everything until the peer closes (or the receive time-out runs out).
std::string read_to_end(platform::Socket& socket);
// Exactly `count` bytes, or fewer when the peer closes first.
std::string read_exactly(platform::Socket& socket, std::size_t count);

class TestHttpServer {
public:
    // Gets the connection and the request it sent (head and, per Content-Length, body).
    using Handler = std::function<void(platform::Socket& connection, const std::string& request)>;

    explicit TestHttpServer(Handler handler, std::uint16_t port = 0, Host host = LOOPBACK);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    bool listening() const { return listener_.valid(); }
    std::uint16_t port() const { return port_; }
    std::string url(const std::string& path) const;
    std::vector<std::string> requests() const;

private:
    void serve();

    Handler handler_;
    Host host_;
    platform::Socket listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// Handlers for the usual answers.
TestHttpServer::Handler answer_with(std::string response);
// Sends the response, then holds the connection open for `hold_ms` before closing it.
TestHttpServer::Handler answer_and_hold(std::string response, int hold_ms);
// An HTTP/1.1 response with the given status line text, Content-Length and body.
std::string http_response(const std::string& status, const std::string& body);

}  // namespace nerova::test
