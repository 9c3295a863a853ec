#include "http/live_channel.h"

#include <vector>

#include "common/text.h"
#include "http/websocket.h"
#include "netinfo/collect.h"
#include "netinfo/status.h"
#include "platform/crypto.h"

namespace nerova::http {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t LIVE_RECEIVE_BUFFER = 16 * 1024;

bool answer_messages(WebSocketSession& session, std::vector<WebSocketMessage>& messages) {
    for (const WebSocketMessage& message : messages) {
        if (message.text && text::trim(message.payload) == "ping" && !session.send_text("pong")) return false;
    }
    messages.clear();
    return true;
}

}  // namespace

std::string websocket_accept(std::string_view key) {
    std::string input(key);
    input += WEBSOCKET_GUID;
    const auto digest = platform::sha1(input);
    return platform::base64(digest.data(), digest.size());
}

std::string handshake_answer(std::string_view key, std::optional<std::string_view> protocol_header) {
    std::string answer =
        "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ";
    answer += websocket_accept(text::utf8_lossy(key));  // the request keeps raw bytes
    answer += "\r\n";
    if (protocol_header) {
        std::string_view offered = *protocol_header;
        for (;;) {
            const std::size_t comma = offered.find(',');
            if (text::trim(offered.substr(0, comma)) == LIVE_SUBPROTOCOL) {
                answer += "Sec-WebSocket-Protocol: ";
                answer += LIVE_SUBPROTOCOL;
                answer += "\r\n";
                break;
            }
            if (comma == std::string_view::npos) break;
            offered.remove_prefix(comma + 1);
        }
    }
    answer += "\r\n";
    return answer;
}

void run_live_channel(platform::Socket& socket, BufferedReader& reader, const Headers& headers,
                      std::string_view key, const std::shared_ptr<const std::string>& token,
                      const std::shared_ptr<BridgeState>& state) {
    const std::string answer = handshake_answer(key, find_header(headers, "Sec-WebSocket-Protocol"));
    if (!socket.send_all(answer.data(), answer.size())) return;

    socket.set_receive_timeout(LIVE_READ_TIMEOUT);
    WebSocketSession session([&socket](std::string_view bytes) { return socket.send_all(bytes.data(), bytes.size()); });
    const LiveChannelGuard guard(state);
    Clock::time_point status_polled_at = Clock::now() - STATUS_PUSH_INTERVAL;
    Clock::time_point ping_sent_at = Clock::now();
    std::optional<std::string> last_sent_status;
    std::vector<WebSocketMessage> messages;

    // A page may send its first frame in the same packet as the upgrade request; those bytes
    // already sit in the request reader and belong to the channel.
    const std::string_view early = reader.unread();
    if (!early.empty()) {
        const bool open = session.feed(early.data(), early.size(), messages);
        if (!answer_messages(session, messages) || !open) return;
    }

    std::vector<char> buffer(LIVE_RECEIVE_BUFFER);
    for (;;) {
        const platform::IoResult got = socket.receive(buffer.data(), buffer.size());
        if (got.status == platform::IoStatus::ok) {
            const bool open = session.feed(buffer.data(), got.bytes, messages);
            if (!answer_messages(session, messages) || !open) return;
        } else if (got.status != platform::IoStatus::timed_out) {
            return;
        }

        if (Clock::now() - status_polled_at >= STATUS_PUSH_INTERVAL) {
            status_polled_at = Clock::now();
            std::string json = netinfo::status_to_json(netinfo::collect_status(*token));
            if (last_sent_status != json) {
                if (!session.send_text(json)) return;
                last_sent_status = std::move(json);
            }
        }
        if (Clock::now() - ping_sent_at >= PING_INTERVAL) {
            ping_sent_at = Clock::now();
            if (!session.send_ping()) return;
        }
    }
}

}  // namespace nerova::http
