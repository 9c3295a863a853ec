#include "upnp/ssdp.h"

#include <algorithm>

#include "common/text.h"
#include "upnp/http_url.h"
#include "platform/net.h"

namespace nerova::upnp {

std::optional<std::string> location_in_answer(std::string_view datagram) {
    constexpr std::string_view HEADER = "location:";
    const std::string text = text::utf8_lossy(datagram);
    std::string_view rest = text;
    while (true) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = text::trim(line);
        if (line.size() >= HEADER.size() + 1 && text::ascii_iequals(line.substr(0, HEADER.size()), HEADER)) {
            const std::string_view value = text::trim(line.substr(HEADER.size()));
            if (!value.empty()) return std::string(value);
        }
        if (end == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(end + 1);
    }
}

bool trusted_location(std::string_view location, const platform::SocketAddress& sender) {
    // 127/8 is this machine; 0/8 is never a sender, and 0.0.0.0 would reach this machine too.
    if (sender.family != platform::Family::ipv4 || sender.bytes[0] == 127 || sender.bytes[0] == 0) return false;
    const std::optional<HttpUrl> url = parse_http_url(location);
    if (!url) return false;
    const std::optional<std::array<std::uint8_t, 4>> host = ipv4_literal(url->host);
    return host && std::equal(host->begin(), host->end(), sender.bytes.begin());
}

std::optional<std::string> ssdp_search_location() {
    std::optional<platform::Socket> socket = platform::Socket::open_udp(platform::ipv4_address(0, 0, 0, 0, 0));
    if (!socket) return std::nullopt;
    // The system picks the outgoing interface; the adapter chosen for the document plays no part.
    const platform::SocketAddress group = platform::ipv4_address(239, 255, 255, 250, 1900);
    for (int copy = 0; copy < SSDP_SEARCH_COPIES; ++copy) {
        if (!socket->send_to(SSDP_SEARCH_DATAGRAM.data(), SSDP_SEARCH_DATAGRAM.size(), group)) return std::nullopt;
    }
    if (!socket->set_receive_timeout(SSDP_RECEIVE_LIMIT)) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + SSDP_SEARCH_WINDOW;

    char buffer[SSDP_RECEIVE_BUFFER];
    for (;;) {
        // Skipped answers must not stretch the search: each wait ends with the window.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || socket->wait_readable(left) != platform::IoStatus::ok) return std::nullopt;
        // A longer datagram fails the receive, and with it the search.
        platform::SocketAddress sender;
        const platform::IoResult received = socket->receive_from(buffer, sizeof buffer, &sender);
        if (received.status != platform::IoStatus::ok) return std::nullopt;
        std::optional<std::string> location = location_in_answer(std::string_view(buffer, received.bytes));
        if (location && trusted_location(*location, sender)) return location;
    }
}

}  // namespace nerova::upnp
