#include <gtest/gtest.h>

#include "upnp/description.h"
#include "upnp/soap.h"
#include "upnp/ssdp.h"

namespace nerova::upnp {
namespace {

TEST(SsdpLocation, AcceptsTheHeaderInAnyAsciiCaseWithOrWithoutABlank) {
    EXPECT_EQ(location_in_answer("HTTP/1.1 200 OK\r\nLOCATION: http://192.168.1.1:5000/rootDesc.xml\r\n\r\n"),
              "http://192.168.1.1:5000/rootDesc.xml");
    EXPECT_EQ(location_in_answer("HTTP/1.1 200 OK\r\nLocation: http://a/\r\n"), "http://a/");
    EXPECT_EQ(location_in_answer("HTTP/1.1 200 OK\r\nlocation:http://a/\r\n"), "http://a/");
    EXPECT_EQ(location_in_answer("HTTP/1.1 200 OK\nLoCaTiOn:\t http://a/ \t\r\r\n"), "http://a/");
    EXPECT_EQ(location_in_answer("   location: http://a/x  "), "http://a/x");
}

TEST(SsdpLocation, PassesOverEmptyAndLookalikeLines) {
    EXPECT_EQ(location_in_answer("HTTP/1.1 200 OK\r\nLOCATION:\r\nLOCATION:   \r\nlocation: http://b/\r\n"), "http://b/");
    EXPECT_FALSE(location_in_answer("HTTP/1.1 200 OK\r\nLOCATION:\r\nST: x\r\n\r\n"));
    EXPECT_FALSE(location_in_answer("HTTP/1.1 200 OK\r\nX-Location: http://a/\r\nlocation http://a/\r\n"));
    EXPECT_FALSE(location_in_answer("LOCATI\xC3\x93N: http://a/\r\n"));
    EXPECT_FALSE(location_in_answer(""));
}

TEST(SsdpLocation, InvalidBytesAreReplacedNotTrusted) {
    EXPECT_EQ(location_in_answer("\xFF\xFE\r\nLOCATION: http://a/\xFF\r\n"), "http://a/\xEF\xBF\xBD");
}

TEST(Description, TakesTheControlUrlAfterTheEarlierServiceMention) {
    const std::string ip_first =
        "<root><device><serviceList>"
        "<service><serviceType>urn:schemas-upnp-org:service:Layer3Forwarding:1</serviceType>"
        "<controlURL>/ctl/L3F</controlURL></service>"
        "<service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>"
        "<controlURL>\r\n  /ctl/IPConn \t</controlURL></service>"
        "<service><serviceType>urn:schemas-upnp-org:service:WANPPPConnection:1</serviceType>"
        "<controlURL>/ctl/PPPConn</controlURL></service>"
        "</serviceList></device></root>";
    EXPECT_EQ(control_url_in_description(ip_first), "/ctl/IPConn");

    const std::string ppp_first =
        "<service><serviceType>urn:schemas-upnp-org:service:WANPPPConnection:1</serviceType>"
        "<controlURL>/ppp</controlURL></service>"
        "<service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>"
        "<controlURL>/ip</controlURL></service>";
    EXPECT_EQ(control_url_in_description(ppp_first), "/ppp");
}

TEST(Description, MissingPiecesGiveNothing) {
    EXPECT_FALSE(control_url_in_description("<controlURL>/x</controlURL>WANIPConnection"));
    EXPECT_FALSE(control_url_in_description("wanipconnection<controlURL>/x</controlURL>"));
    EXPECT_FALSE(control_url_in_description("WANIPConnection<controlURL>/x"));
    EXPECT_FALSE(control_url_in_description("WANIPConnection</controlURL><controlURL>"));
    EXPECT_FALSE(control_url_in_description("WANIPConnection<controlURL> \r\n </controlURL>"));
    EXPECT_FALSE(control_url_in_description(""));
}

TEST(Description, ControlUrlsAreMadeAbsoluteFromTheRoot) {
    EXPECT_EQ(absolute_control_url("http://192.168.1.1:5000/rootDesc.xml", "/ctl/IPConn"),
              "http://192.168.1.1:5000/ctl/IPConn");
    EXPECT_EQ(absolute_control_url("http://192.168.1.1/desc/root.xml", "upnp/control/WANIPConn1"),
              "http://192.168.1.1/upnp/control/WANIPConn1");
    EXPECT_EQ(absolute_control_url("http://192.168.1.1:80/desc/root.xml", "/c"), "http://192.168.1.1/c");
    EXPECT_EQ(absolute_control_url("http://192.168.1.1:5000/x", "http://10.0.0.1:1/c"), "http://10.0.0.1:1/c");
    EXPECT_EQ(absolute_control_url("not a url", "https://10.0.0.1/c"), "https://10.0.0.1/c");
    EXPECT_EQ(absolute_control_url("http://192.168.1.1:5000/x", "HTTP://10.0.0.1/c"),
              "http://192.168.1.1:5000/HTTP://10.0.0.1/c");
    EXPECT_FALSE(absolute_control_url("https://192.168.1.1/rootDesc.xml", "/ctl"));
}

TEST(SoapAnswer, ReadsTheDigitsAndDotsOfTheAddressElement) {
    const auto answer = [](const std::string& value) {
        return "<?xml version=\"1.0\"?><s:Envelope><s:Body><u:GetExternalIPAddressResponse>"
               "<NewExternalIPAddress>" + value + "</NewExternalIPAddress>"
               "</u:GetExternalIPAddressResponse></s:Body></s:Envelope>";
    };
    EXPECT_EQ(external_ip_in_answer(answer("203.0.113.7")), "203.0.113.7");
    EXPECT_EQ(external_ip_in_answer(answer(" \r\n\t203.0.113.7 \r\n")), "203.0.113.7");
    EXPECT_EQ(external_ip_in_answer(answer("0.0.0.0")), "0.0.0.0");
    EXPECT_EQ(external_ip_in_answer(answer("255.255.255.255")), "255.255.255.255");
    EXPECT_EQ(external_ip_in_answer(answer("ip=203.0.113.7;")), "203.0.113.7");
    EXPECT_EQ(external_ip_in_answer("<NewExternalIPAddress xmlns=\"a\">198.51.100.1</NewExternalIPAddress>"),
              "198.51.100.1");
    for (const char* refused : {"203.0.113.007", "256.1.1.1", "", "1.2.3", "1.2.3.4.5", "1..2.3", "01.2.3.4",
                                "1.2.3.4.", "1234.1.1.1", ".1.1.1", "255.255.255.256"}) {
        EXPECT_FALSE(external_ip_in_answer(answer(refused))) << refused;
    }
    EXPECT_FALSE(external_ip_in_answer("<newexternalipaddress>1.2.3.4</newexternalipaddress>"));
    EXPECT_FALSE(external_ip_in_answer("NewExternalIPAddress 1.2.3.4"));
    EXPECT_FALSE(external_ip_in_answer("<NewExternalIPAddress>1.2.3.4"));
}

}  // namespace
}  // namespace nerova::upnp
