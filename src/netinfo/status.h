// The status document: who this machine is on the network, and its JSON form.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nerova::netinfo {

// An empty text stands for a missing value; no member is ever left out of the JSON.
struct StatusDocument {
    std::string localIp;
    std::string wanIp;
    std::string gatewayIp;
    std::vector<std::string> dnsServers;
    std::string macAddress;
    std::string deviceName;
    std::string interfaceAlias;
    std::string interfaceType;
    bool dhcpEnabled = false;
    std::string networkMode;
    std::string wanSource;
    bool routerDetected = false;
    std::string token;
};

// Escapes valid UTF-8 for use inside a JSON string: the short forms \t \n \r \" \\, every other
// control character as \u00xx in lower-case hex, everything else unchanged.
std::string json_escape(std::string_view text);

// One line, fixed member order, no white space: the same record always gives the same bytes,
// which the live channel relies on to tell whether anything changed.
std::string status_to_json(const StatusDocument& status);

}  // namespace nerova::netinfo
