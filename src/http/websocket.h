// WebSocket framing after the program has answered the opening handshake itself. The framing
// library stays behind this interface: bytes in, messages out, frames to a sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nerova::http {

inline constexpr std::size_t LIVE_MESSAGE_LIMIT = 64u * 1024 * 1024;
inline constexpr std::uint64_t LIVE_FRAME_LIMIT = 16u * 1024 * 1024;

struct WebSocketMessage {
    bool text = false;
    std::string payload;
};

class WebSocketSession {
public:
    // Writes bytes to the peer; false when the write failed.
    using Sink = std::function<bool(std::string_view bytes)>;

    explicit WebSocketSession(Sink sink);
    ~WebSocketSession();
    WebSocketSession(const WebSocketSession&) = delete;
    WebSocketSession& operator=(const WebSocketSession&) = delete;

    // Feeds bytes read from the peer and appends the text and binary messages they complete.
    // Pings are answered with Pongs on the way. False once the channel is over: a Close from
    // the peer, a protocol error, an over-limit frame or message, invalid UTF-8 or a failed write.
    bool feed(const char* data, std::size_t size, std::vector<WebSocketMessage>& messages);

    bool send_text(std::string_view payload);
    bool send_ping();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace nerova::http
