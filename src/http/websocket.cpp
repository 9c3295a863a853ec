#include "http/websocket.h"

#include <websocketpp/concurrency/none.hpp>
#include <websocketpp/config/core.hpp>
#include <websocketpp/logger/stub.hpp>
#include <websocketpp/server.hpp>

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
};

using Server = websocketpp::server<CoreConfig>;
using ConnectionPtr = Server::connection_ptr;
using Buffers = std::vector<websocketpp::transport::buffer>;

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

constexpr std::uint8_t CLOSE_OPCODE = 0x8;

// Server frames are never masked, so their lengths can be read straight off the headers.
std::string without_close_frames(std::string_view bytes) {
    std::string kept;
    std::size_t pos = 0;
    while (pos + 2 <= bytes.size()) {
        const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[pos + i]); };
        std::size_t header = 2;
        std::uint64_t length = byte(1) & 0x7F;
        if (length == 126 || length == 127) {
            const std::size_t extra = length == 126 ? 2 : 8;
            if (pos + 2 + extra > bytes.size()) break;
            length = 0;
            for (std::size_t i = 0; i < extra; ++i) length = (length << 8) | byte(2 + i);
            header += extra;
        }
        if (byte(1) & 0x80) header += 4;
        const std::size_t frame = static_cast<std::size_t>(std::min<std::uint64_t>(header + length, bytes.size() - pos));
        if ((byte(0) & 0x0F) != CLOSE_OPCODE) kept.append(bytes.substr(pos, frame));
        pos += frame;
    }
    kept.append(bytes.substr(std::min(pos, bytes.size())));
    return kept;
}

}  // namespace

struct WebSocketSession::Impl {
    Sink sink;
    Server server;
    ConnectionPtr connection;
    bool open = false;
    bool over = false;
    std::vector<WebSocketMessage>* inbox = nullptr;

    websocketpp::lib::error_code write(std::string_view bytes) {
        if (!open) return {};  // the stand-in handshake reply
        // The program never sends a Close frame: neither the library's acknowledgement nor
        // the one it sends when the peer breaks the protocol.
        const std::string kept = without_close_frames(bytes);
        if (kept.empty() || sink(kept)) return {};
        over = true;
        return websocketpp::transport::iostream::error::make_error_code(websocketpp::transport::iostream::error::general);
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
        if (impl.inbox == nullptr) return;
        if (opcode == websocketpp::frame::opcode::text || opcode == websocketpp::frame::opcode::binary) {
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
    impl.inbox = &messages;
    const std::size_t taken = impl.connection->read_all(data, size);
    impl.inbox = nullptr;
    if (taken < size || impl.connection->get_state() != websocketpp::session::state::open) impl.over = true;
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
