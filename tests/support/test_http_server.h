// An HTTP server of the tests' own: records each request's bytes and answers with whatever the
// test's handler writes.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"

namespace nerova::upnp::testing {

class TestHttpServer {
public:
    // Gets the connection and the request it sent (head and, per Content-Length, body).
    using Handler = std::function<void(platform::Socket& connection, const std::string& request)>;

    // Listens on `host` at `port`, or at a port the system picks when `port` is 0.
    explicit TestHttpServer(Handler handler, std::uint16_t port = 0,
                            std::array<std::uint8_t, 4> host = {127, 0, 0, 1});
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
    std::array<std::uint8_t, 4> host_;
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

}  // namespace nerova::upnp::testing
