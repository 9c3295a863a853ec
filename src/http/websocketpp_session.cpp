#include "http/websocket.h"

#include <websocketpp/concurrency/none.hpp>
#include <websocketpp/config/core.hpp>
#include <websocketpp/logger/stub.hpp>
#include <websocketpp/server.hpp>

#include "common/text.h"
#include "http/websocket_frame.h"

namespace nerova::http {
namespace {

struct CoreConfig : websocketpp::config::core {
    using type = CoreConfig;
    using concurrency_type = websocketpp::concurrency::none;
    using elog_type = websocketpp::log::stub;
    using alog_type = websocketpp::log::stub;

    struct transport_config : websocketpp::config::core::transport_config {
        using concurrency_type = websocketpp::concurrency::none;
        using elog_type = websocketpp::log::stub;
        using alog_type = websocketpp::log::stub;
    };
    using transport_type = websocketpp::transport::iostream::endpoint<transport_config>;

    // The bytes are handed over in pieces of at most a page anyway; a smaller buffer keeps an
    // idle channel small.
    static const std::size_t connection_read_buffer_size = 4096;
};

using Server = websocketpp::server<CoreConfig>;
using ConnectionPtr = Server::connection_ptr;
using Buffers = std::vector<websocketpp::transport::buffer>;

// websocketpp works out the byte order at its first 64-bit frame length, in a static it sets with
// no lock, so two channels doing that at once race. It is worked out here, before any thread runs.
const bool BYTE_ORDER_KNOWN = (websocketpp::lib::net::_htonll(0), true);

// The library insists on running an opening handshake of its own. The real one was answered
// already, so it is fed this stand-in request and its reply is thrown away.
constexpr std::string_view STAND_IN_UPGRADE =
    "GET / HTTP/1.1\r\n"
    "Host: 127.0.0.1\r\n"
    "Upgrade: websocket\r\n"
    "Connection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
    "Sec-WebSocket-Version: 13\r\n"
    "\r\n";

// Server frames are never masked and come whole from the library, so each header says where the
// next frame starts.
std::string without_close_frames(std::string_view bytes) {
    std::string kept;
    while (const std::optional<FrameHeader> header = frame_header(bytes)) {
        const std::size_t frame =
            static_cast<std::size_t>(std::min<std::uint64_t>(header->header_size + header->payload_size, bytes.size()));
        if (header->opcode != CLOSE_OPCODE) kept.append(bytes.substr(0, frame));
        bytes.remove_prefix(frame);
    }
    kept.append(bytes);
    return kept;
}

// websocketpp has no limit on one frame and reserves a frame's whole declared length as soon as
// its header arrives, so the frame headers coming in are read here first.
class FrameSizeCheck {
public:
    // How many of these bytes come before the header of a frame over LIVE_FRAME_LIMIT (all of
    // them when there is none).
    std::size_t acceptable(const char* data, std::size_t size) {
        std::size_t pos = 0;
        std::size_t header_start = 0;
        while (pos < size) {
            if (payload_left_ > 0) {
                const std::size_t skip = static_cast<std::size_t>(std::min<std::uint64_t>(payload_left_, size - pos));
                payload_left_ -= skip;
                pos += skip;
                continue;
            }
            if (header_size_ == 0) header_start = pos;
            header_[header_size_++] = data[pos++];
            const std::optional<FrameHeader> header = frame_header(std::string_view(header_, header_size_));
            if (!header) continue;
            header_size_ = 0;
            if (header->payload_size > LIVE_FRAME_LIMIT) {
                exceeded_ = true;
                return header_start;
            }
            payload_left_ = header->payload_size;
        }
        return size;
    }
    bool exceeded() const { return exceeded_; }

private:
    char header_[MAX_FRAME_HEADER] = {};
    std::size_t header_size_ = 0;
    std::uint64_t payload_left_ = 0;
    bool exceeded_ = false;
};

}  // namespace

struct WebSocketSession::Impl {
    Sink sink;
    Server server;
    ConnectionPtr connection;
    FrameSizeCheck frames;
    bool open = false;
    bool over = false;
    std::vector<WebSocketMessage>* inbox = nullptr;

    websocketpp::lib::error_code write(std::string_view bytes) {
        using websocketpp::transport::iostream::error::general;
        using websocketpp::transport::iostream::error::make_error_code;
        if (!open) return {};  // the stand-in handshake reply
        // An ended channel writes nothing more, not even the Pong for a Ping that came in the
        // same read as the message that ended it.
        if (over) return make_error_code(general);
        // The program never sends a Close frame: neither the library's acknowledgement nor
        // the one it sends when the peer breaks the protocol.
        const std::string kept = without_close_frames(bytes);
        if (kept.empty() || sink(kept)) return {};
        over = true;
        return make_error_code(general);
    }
};

WebSocketSession::WebSocketSession(Sink sink) : impl_(std::make_unique<Impl>()) {
    Impl& impl = *impl_;
    impl.sink = std::move(sink);
    impl.server.set_max_message_size(LIVE_MESSAGE_LIMIT);
    impl.server.set_open_handler([&impl](websocketpp::connection_hdl) { impl.open = true; });
    impl.server.set_close_handler([&impl](websocketpp::connection_hdl) { impl.over = true; });
    impl.server.set_fail_handler([&impl](websocketpp::connection_hdl) { impl.over = true; });
    impl.server.set_message_handler([&impl](websocketpp::connection_hdl, Server::message_ptr message) {
        const auto opcode = message->get_opcode();
        if (impl.inbox == nullptr || impl.over) return;
        if (opcode == websocketpp::frame::opcode::text || opcode == websocketpp::frame::opcode::binary) {
            // websocketpp checks that a text message ends on a whole character only when its last
            // frame is a text frame: a fragmented one cut short in its continuation gets through.
            if (opcode == websocketpp::frame::opcode::text && !text::is_valid_utf8(message->get_payload())) {
                impl.over = true;
                return;
            }
            impl.inbox->push_back({opcode == websocketpp::frame::opcode::text, message->get_payload()});
        }
    });

    websocketpp::lib::error_code error;
    impl.connection = impl.server.get_connection();
    impl.connection->set_vector_write_handler([&impl](websocketpp::connection_hdl, const Buffers& buffers) {
        std::string bytes;
        for (const auto& buffer : buffers) bytes.append(buffer.buf, buffer.len);
        return impl.write(bytes);
    });
    impl.connection->set_write_handler([&impl](websocketpp::connection_hdl, const char* data, std::size_t size) {
        return impl.write(std::string_view(data, size));
    });
    impl.connection->start();
    impl.connection->read_all(STAND_IN_UPGRADE.data(), STAND_IN_UPGRADE.size());
    if (!impl.open) impl.over = true;
}

WebSocketSession::~WebSocketSession() = default;

bool WebSocketSession::feed(const char* data, std::size_t size, std::vector<WebSocketMessage>& messages) {
    Impl& impl = *impl_;
    if (impl.over) return false;
    const std::size_t allowed = impl.frames.acceptable(data, size);
    impl.inbox = &messages;
    const std::size_t taken = impl.connection->read_all(data, allowed);
    impl.inbox = nullptr;
    if (taken < allowed || impl.frames.exceeded() ||
        impl.connection->get_state() != websocketpp::session::state::open) {
        impl.over = true;
    }
    return !impl.over;
}

bool WebSocketSession::send_text(std::string_view payload) {
    Impl& impl = *impl_;
    if (impl.over) return false;
    const auto error = impl.connection->send(payload.data(), payload.size(), websocketpp::frame::opcode::text);
    return !error && !impl.over;
}

bool WebSocketSession::send_ping() {
    Impl& impl = *impl_;
    if (impl.over) return false;
    websocketpp::lib::error_code error;
    impl.connection->ping("", error);
    return !error && !impl.over;
}

}  // namespace nerova::http
