#include "http/routes.h"

#include <chrono>

#include "common/text.h"
#include "assets/assets.h"
#include "http/live_channel.h"
#include "http/request.h"
#include "http/response.h"

namespace nerova::http {
namespace {

constexpr auto CONNECTION_READ_TIMEOUT = std::chrono::milliseconds(10'000);

std::uint64_t unix_seconds_now() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();
    return seconds > 0 ? static_cast<std::uint64_t>(seconds) : 0;
}

void send_json(platform::Socket& socket, std::string body) {
    send_response(socket, Response{200, "OK", JSON_CONTENT_TYPE, NO_STORE, std::move(body)});
}

void admit_live_channel(platform::Socket& socket, BufferedReader& reader, const Request& request,
                        const SharedState& shared) {
    const std::optional<std::string_view> presented = query_param(request.query, "token");
    if (!presented || *presented != *shared.token) {
        send_text(socket, 403, "Forbidden", "forbidden\n");
        return;
    }
    const std::optional<std::string_view> upgrade = find_header(request.headers, "Upgrade");
    const std::optional<std::string_view> key = find_header(request.headers, "Sec-WebSocket-Key");
    if (!upgrade || !text::ascii_iequals(*upgrade, "websocket") || !key) {
        send_text(socket, 400, "Bad Request", "bad request\n");
        return;
    }
    run_live_channel(socket, reader, request.headers, *key, shared);
}

}  // namespace

std::optional<std::string_view> query_param(std::string_view query, std::string_view key) {
    for (;;) {
        const std::size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        const std::size_t equals = piece.find('=');
        if (piece.substr(0, equals) == key) {
            return equals == std::string_view::npos ? std::string_view() : piece.substr(equals + 1);
        }
        if (amp == std::string_view::npos) return std::nullopt;
        query.remove_prefix(amp + 1);
    }
}

std::string heartbeat_body(std::uint64_t unix_seconds) {
    return "{\"ok\":true,\"ts\":" + std::to_string(unix_seconds) + "}";
}

void handle_connection(platform::Socket socket, const SharedState& shared) {
    socket.set_receive_timeout(CONNECTION_READ_TIMEOUT);
    socket.set_no_delay();
    BufferedReader reader(socket);
    const std::optional<Request> request = read_request(reader);
    if (!request) return;

    const std::string& path = request->path;
    if (text::ascii_iequals(request->method, "OPTIONS")) {
        send_preflight(socket);
    } else if (path == "/live") {
        admit_live_channel(socket, reader, *request, shared);
    } else if (path == "/status") {
        send_json(socket, shared.status->fresh_document());
    } else if (path == "/heartbeat") {
        send_json(socket, heartbeat_body(unix_seconds_now()));
    } else if (path == "/version") {
        send_json(socket, "{\"version\":\"" NEROVA_VERSION "\"}");
    } else if (path == "/disconnect") {
        send_json(socket, "{\"ok\":true}");
    } else if (path == "/ui") {
        send_response(socket,
                      Response{200, "OK", HTML_CONTENT_TYPE, NO_STORE, std::string(assets::status_page_html())});
    } else if (path == "/icon.png") {
        send_response(socket, Response{200, "OK", PNG_CONTENT_TYPE, LONG_CACHE, std::string(assets::icon_png())});
    } else {
        send_text(socket, 404, "Not Found", "404 page not found\n");
    }
}

}  // namespace nerova::http
