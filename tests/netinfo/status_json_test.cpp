#include <gtest/gtest.h>

#include "netinfo/status.h"

using namespace nerova::netinfo;

TEST(StatusToJson, EmptySurveyIsByteExact) {
    StatusDocument status;
    status.deviceName = "PC-01";
    status.networkMode = "static";
    status.token = "TOKEN";
    EXPECT_EQ(status_to_json(status),
              "{\"localIp\":\"\",\"wanIp\":\"\",\"gatewayIp\":\"\",\"dnsServers\":[],\"macAddress\":\"\","
              "\"deviceName\":\"PC-01\",\"interfaceAlias\":\"\",\"interfaceType\":\"\",\"dhcpEnabled\":false,"
              "\"networkMode\":\"static\",\"wanSource\":\"\",\"routerDetected\":false,\"token\":\"TOKEN\"}");
}

TEST(StatusToJson, FilledRecordKeepsMemberOrderAndEscapes) {
    StatusDocument status;
    status.localIp = "192.168.1.20";
    status.wanIp = "203.0.113.7";
    status.gatewayIp = "192.168.1.1";
    status.dnsServers = {"192.168.1.1", "fe80::1"};
    status.macAddress = "00:1A:2B:3C:4D:5E";
    status.deviceName = "DESK";
    status.interfaceAlias = "以太网 \"2\"";
    status.interfaceType = "ethernet";
    status.dhcpEnabled = true;
    status.networkMode = "dhcp";
    status.wanSource = "upnp";
    status.routerDetected = true;
    status.token = "T";
    const std::string json = status_to_json(status);
    EXPECT_EQ(json,
              "{\"localIp\":\"192.168.1.20\",\"wanIp\":\"203.0.113.7\",\"gatewayIp\":\"192.168.1.1\","
              "\"dnsServers\":[\"192.168.1.1\",\"fe80::1\"],\"macAddress\":\"00:1A:2B:3C:4D:5E\","
              "\"deviceName\":\"DESK\",\"interfaceAlias\":\"以太网 \\\"2\\\"\",\"interfaceType\":\"ethernet\","
              "\"dhcpEnabled\":true,\"networkMode\":\"dhcp\",\"wanSource\":\"upnp\",\"routerDetected\":true,"
              "\"token\":\"T\"}");
    EXPECT_EQ(status_to_json(status), json);
}

TEST(JsonEscape, ShortFormsOnlyForTheFiveAndLowerHexForOtherControls) {
    EXPECT_EQ(json_escape("a\"b\\c"), "a\\\"b\\\\c");
    EXPECT_EQ(json_escape("\t\n\r"), "\\t\\n\\r");
    EXPECT_EQ(json_escape(std::string("\x00\x01\x08\x0C\x1B\x1F", 6)), "\\u0000\\u0001\\u0008\\u000c\\u001b\\u001f");
    EXPECT_EQ(json_escape("/\x7F"), "/\x7F");
    EXPECT_EQ(json_escape("网卡 😀"), "网卡 😀");
}

TEST(StatusToJson, EveryTextMemberIsEscaped) {
    std::string StatusDocument::*const members[] = {
        &StatusDocument::localIp,       &StatusDocument::wanIp,         &StatusDocument::gatewayIp,
        &StatusDocument::macAddress,    &StatusDocument::deviceName,    &StatusDocument::interfaceAlias,
        &StatusDocument::interfaceType, &StatusDocument::networkMode,   &StatusDocument::wanSource,
        &StatusDocument::token};
    for (const auto member : members) {
        StatusDocument status;
        status.*member = "a\"\x01";
        const std::string json = status_to_json(status);
        EXPECT_NE(json.find(":\"a\\\"\\u0001\""), std::string::npos) << json;
        EXPECT_EQ(json.find('\x01'), std::string::npos) << json;
    }
    StatusDocument status;
    status.dnsServers = {"ok", "a\"\x01"};
    EXPECT_NE(status_to_json(status).find("[\"ok\",\"a\\\"\\u0001\"]"), std::string::npos);
}
