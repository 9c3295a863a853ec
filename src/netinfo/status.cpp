#include "netinfo/status.h"

namespace nerova::netinfo {
namespace {

void append_escaped(std::string& out, std::string_view text) {
    constexpr char HEX[] = "0123456789abcdef";
    for (const char c : text) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += "\\u00";
                    out += HEX[(c >> 4) & 0xF];
                    out += HEX[c & 0xF];
                } else {
                    out += c;
                }
        }
    }
}

void append_string(std::string& out, std::string_view piece, std::string_view value) {
    out += piece;
    append_escaped(out, value);
}

}  // namespace

std::string json_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    append_escaped(out, text);
    return out;
}

std::string status_to_json(const StatusDocument& status) {
    std::string out;
    out.reserve(512);
    append_string(out, "{\"localIp\":\"", status.localIp);
    append_string(out, "\",\"wanIp\":\"", status.wanIp);
    append_string(out, "\",\"gatewayIp\":\"", status.gatewayIp);
    out += "\",\"dnsServers\":[";
    for (std::size_t i = 0; i < status.dnsServers.size(); ++i) {
        if (i > 0) out += ',';
        out += '"';
        append_escaped(out, status.dnsServers[i]);
        out += '"';
    }
    append_string(out, "],\"macAddress\":\"", status.macAddress);
    append_string(out, "\",\"deviceName\":\"", status.deviceName);
    append_string(out, "\",\"interfaceAlias\":\"", status.interfaceAlias);
    append_string(out, "\",\"interfaceType\":\"", status.interfaceType);
    out += "\",\"dhcpEnabled\":";
    out += status.dhcpEnabled ? "true" : "false";
    append_string(out, ",\"networkMode\":\"", status.networkMode);
    append_string(out, "\",\"wanSource\":\"", status.wanSource);
    out += "\",\"routerDetected\":";
    out += status.routerDetected ? "true" : "false";
    append_string(out, ",\"token\":\"", status.token);
    out += "\"}";
    return out;
}

}  // namespace nerova::netinfo
