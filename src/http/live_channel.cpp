#include "http/live_channel.h"

#include <algorithm>
#include <future>
#include <vector>

#include "common/text.h"
#include "http/websocket.h"
#include "platform/crypto.h"

namespace nerova::http {
namespace {

using Clock = std::chrono::steady_clock;

// How often a channel looks whether its refresh is ready while one is under way.
constexpr std::chrono::milliseconds REFRESH_POLL{50};
// How often a channel looks for a refresh a reported network change brought: a flag read, so
// that the change reaches the page within this of its collection.
constexpr std::chrono::milliseconds CHANGE_POLL{100};

bool answer_messages(WebSocketSession& session, std::vector<WebSocketMessage>& messages) {
    for (const WebSocketMessage& message : messages) {
        if (message.text && text::trim(message.payload) == "ping" && !session.send_text("pong")) return false;
    }
    messages.clear();
    return true;
}

// How long to wait for the page: at most LIVE_READ_TIMEOUT (CHANGE_POLL where changes are
// reported), until the next status check or Ping is due, and only briefly while a refresh is under
// way, so that its document goes out soon after it is ready.
std::chrono::milliseconds time_to_wait(Clock::time_point now, bool refreshing, bool changes_reported,
                                       Clock::time_point refresh_started, Clock::time_point ping_sent_at) {
    Clock::duration wait = refreshing          ? Clock::duration(REFRESH_POLL)
                           : changes_reported ? Clock::duration(CHANGE_POLL)
                                              : Clock::duration(LIVE_READ_TIMEOUT);
    if (!refreshing) wait = std::min(wait, refresh_started + STATUS_PUSH_INTERVAL - now);
    wait = std::min(wait, ping_sent_at + PING_INTERVAL - now);
    return std::chrono::ceil<std::chrono::milliseconds>(std::max(wait, Clock::duration::zero()));
}

// Sends the document when its text differs from the last one sent; false when sending fails.
bool send_if_changed(WebSocketSession& session, std::string json, std::optional<std::string>& last_sent_status) {
    if (last_sent_status == json) return true;
    if (!session.send_text(json)) return false;
    last_sent_status = std::move(json);
    return true;
}

// Feeds what the page sends, waiting at most `wait` for it; bytes that came with the upgrade
// request, still in the reader, go first (a page may send its first frame in the same packet).
// The reader's buffer serves the channel's reads too. False once the channel is over.
bool take_from_page(platform::Socket& socket, BufferedReader& reader, WebSocketSession& session,
                    std::vector<WebSocketMessage>& messages, std::chrono::milliseconds wait) {
    if (reader.unread().empty()) {
        const platform::IoStatus readable = socket.wait_readable(wait);
        if (readable != platform::IoStatus::ok) return readable == platform::IoStatus::timed_out;
    }
    std::string_view bytes;
    const platform::IoStatus got = reader.read_some(bytes);
    if (got != platform::IoStatus::ok) return got == platform::IoStatus::timed_out;
    const bool open = session.feed(bytes.data(), bytes.size(), messages);
    return answer_messages(session, messages) && open;
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
                      std::string_view key, const SharedState& shared) {
    const std::string answer = handshake_answer(key, find_header(headers, "Sec-WebSocket-Protocol"));
    if (!socket.send_all(answer.data(), answer.size())) return;

    // Reads follow a wait for readability, so this limit only guards a receive that would block.
    socket.set_receive_timeout(LIVE_READ_TIMEOUT);
    WebSocketSession session([&socket](std::string_view bytes) { return socket.send_all(bytes.data(), bytes.size()); });
    const LiveChannelGuard guard(shared.bridge);
    Clock::time_point refresh_started = Clock::now() - STATUS_PUSH_INTERVAL;
    Clock::time_point ping_sent_at = Clock::now();
    std::optional<std::shared_future<netinfo::NetworkSnapshot>> refresh;  // under way
    std::optional<std::string> last_sent_status;
    std::vector<WebSocketMessage> messages;
    const netinfo::StatusSource& status = *shared.status;
    std::uint64_t changes_seen = status.change_count();

    for (;;) {
        const Clock::time_point now = Clock::now();
        // The refresh runs off this thread (the router may take seconds to answer), so the page
        // is read and answered meanwhile; its document is compared and sent once it is ready.
        if (!refresh && now - refresh_started >= STATUS_PUSH_INTERVAL) {
            refresh_started = now;
            refresh = status.check();
        }
        const auto wait = time_to_wait(now, refresh.has_value(), status.reports_changes(), refresh_started, ping_sent_at);
        if (!take_from_page(socket, reader, session, messages, wait)) return;

        if (refresh && refresh->wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            const bool sent = send_if_changed(session, status.document(refresh->get()), last_sent_status);
            refresh.reset();
            if (!sent) return;
        }
        // A refresh a reported change started: its survey is newer than that of a check still
        // under way, whose older document would only undo it until the next check.
        if (const std::uint64_t changes = status.change_count(); changes != changes_seen) {
            changes_seen = changes;
            refresh.reset();
            if (!send_if_changed(session, status.changed_document(), last_sent_status)) return;
        }
        if (Clock::now() - ping_sent_at >= PING_INTERVAL) {
            ping_sent_at = Clock::now();
            if (!session.send_ping()) return;
        }
    }
}

}  // namespace nerova::http
