#include "netinfo/resolv_conf.h"

#include <algorithm>

#include "platform/system.h"

namespace nerova::netinfo {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool is_loopback(const AddressEntry& address) {
    if (!address) return false;
    if (address->family == platform::Family::ipv4) return address->bytes[0] == 127;
    const auto& bytes = address->bytes;
    return std::all_of(bytes.begin(), bytes.begin() + 15, [](std::uint8_t b) { return b == 0; }) && bytes[15] == 1;
}

}  // namespace

std::vector<AddressEntry> nameservers_in_resolv_conf(std::string_view text) {
    constexpr std::string_view KEYWORD = "nameserver";
    std::vector<AddressEntry> servers;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

        // As the C library reads it: the keyword at the start of the line, then blanks, then the value.
        if (line.substr(0, KEYWORD.size()) != KEYWORD || line.size() == KEYWORD.size() ||
            !is_blank(line[KEYWORD.size()])) {
            continue;
        }
        line.remove_prefix(KEYWORD.size());
        while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
        std::size_t value_end = 0;
        while (value_end < line.size() && !is_blank(line[value_end]) && line[value_end] != '#' &&
               line[value_end] != ';') {
            ++value_end;
        }
        std::string value(line.substr(0, value_end));
        if (const std::size_t zone = value.find('%'); zone != std::string::npos) value.resize(zone);
        if (auto address = platform::parse_ip_literal(value, 0)) servers.emplace_back(*address);
    }
    return servers;
}

std::vector<AddressEntry> resolver_dns_servers(const std::string& resolv_conf_path, const std::string& upstream_path) {
    const std::optional<std::string> text = platform::read_file(resolv_conf_path);
    std::vector<AddressEntry> servers = nameservers_in_resolv_conf(text ? *text : std::string());
    if (servers.empty() || !std::all_of(servers.begin(), servers.end(), is_loopback)) return servers;
    const std::optional<std::string> upstream_text = platform::read_file(upstream_path);
    std::vector<AddressEntry> upstream = nameservers_in_resolv_conf(upstream_text ? *upstream_text : std::string());
    return upstream.empty() ? servers : upstream;
}

}  // namespace nerova::netinfo
