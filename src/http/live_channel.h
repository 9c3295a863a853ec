// The live channel: the WebSocket a web page holds open while it wants to show as connected.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/request.h"
#include "http/shared_state.h"
#include "platform/net.h"

namespace nerova::http {

inline constexpr std::string_view WEBSOCKET_GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
inline constexpr std::string_view LIVE_SUBPROTOCOL = "orva-local-helper";
inline constexpr std::chrono::milliseconds LIVE_READ_TIMEOUT{500};
inline constexpr std::chrono::seconds STATUS_PUSH_INTERVAL{3};
inline constexpr std::chrono::seconds PING_INTERVAL{15};

// Base64 of the SHA-1 of the key followed by WEBSOCKET_GUID.
std::string websocket_accept(std::string_view key);

// The 101 answer; names LIVE_SUBPROTOCOL only when a trimmed piece of the protocol header is
// exactly that name.
std::string handshake_answer(std::string_view key, std::optional<std::string_view> protocol_header);

// Answers the handshake and runs the channel until the page leaves or the connection fails.
void run_live_channel(platform::Socket& socket, BufferedReader& reader, const Headers& headers,
                      std::string_view key, const SharedState& shared);

}  // namespace nerova::http
