#include <gtest/gtest.h>

#include "upnp/description.h"
#include "upnp/http_url.h"
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

TEST(SsdpLocation, IsFollowedOnlyToTheSendersOwnAddress) {
    const platform::SocketAddress router = platform::ipv4_address(192, 168, 1, 1, 1900);
    EXPECT_TRUE(trusted_location("http://192.168.1.1:5000/rootDesc.xml", router));
    EXPECT_TRUE(trusted_location("http://192.168.1.1/", router));
    for (const char* refused : {"http://192.168.1.2:5000/d.xml", "http://127.0.0.1:17668/status", "http://router/d.xml",
                                "http://192.168.001.1/d.xml", "http://192.168.1.1.nip.io/", "https://192.168.1.1/",
                                "HTTP://192.168.1.1/", "http://192.168.1.1:99999/", "ftp://192.168.1.1/"}) {
        EXPECT_FALSE(trusted_location(refused, router)) << refused;
    }
    // Senders that are this machine, or no machine.
    EXPECT_FALSE(trusted_location("http://127.0.0.1:17668/status", platform::ipv4_address(127, 0, 0, 1, 1900)));
    EXPECT_FALSE(trusted_location("http://127.1.2.3/", platform::ipv4_address(127, 1, 2, 3, 1900)));
    EXPECT_FALSE(trusted_location("http://0.0.0.0:17668/status", platform::ipv4_address(0, 0, 0, 0, 1900)));
    platform::SocketAddress v6;
    v6.family = platform::Family::ipv6;
    EXPECT_FALSE(trusted_location("http://0.0.0.0/", v6));
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

TEST(Description, OnlyTheControlUrlIsDecodedAndItsSizeIsBounded) {
    // Invalid bytes elsewhere cost nothing; in the URL they are replaced, and Unicode spaces trimmed.
    EXPECT_EQ(control_url_in_description(std::string(100, '\xFF') + "WANIPConnection<controlURL>\xC2\xA0/c\xFF"
                                                                     "\xE3\x80\x80</controlURL>"),
              "/c\xEF\xBF\xBD");
    const std::string url(CONTROL_URL_LIMIT, 'a');
    EXPECT_EQ(control_url_in_description("WANIPConnection<controlURL>" + url + "</controlURL>"), url);
    EXPECT_FALSE(control_url_in_description("WANIPConnection<controlURL>" + url + " </controlURL>"));
}

TEST(Description, NamesEachWanServicesOwnTypeAndTheNextServiceAfterTheFirst) {
    const std::string description =
        "<service><serviceType>urn:schemas-upnp-org:service:Layer3Forwarding:1</serviceType>"
        "<controlURL>/l3f</controlURL></service>"
        "<service><serviceType> urn:dslforum-org:service:WANPPPConnection:1\r\n</serviceType>"
        "<controlURL>/ppp</controlURL><SCPDURL>/WANIPConnection.xml</SCPDURL></service>"
        "<service><serviceType>urn:schemas-upnp-org:service:WANEthernetLinkConfig:1</serviceType>"
        "<controlURL>/link</controlURL></service>"
        "<service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:2</serviceType>"
        "<controlURL>/ip</controlURL></service>"
        "<service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>"
        "<controlURL>/third</controlURL></service>";
    const std::vector<WanService> services = wan_services_in_description(description);
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(services[0].service_type, "urn:dslforum-org:service:WANPPPConnection:1");
    EXPECT_EQ(services[0].control_url, "/ppp");
    EXPECT_EQ(services[1].service_type, "urn:schemas-upnp-org:service:WANIPConnection:2");
    EXPECT_EQ(services[1].control_url, "/ip");

    // A type that could not stand in a quoted header or attribute, or none, is the default one.
    for (const std::string& type : {std::string("urn:x:WANPPPConnection:1\""), std::string("urn:a b"), std::string(),
                                   std::string(SERVICE_TYPE_LIMIT + 1, 'x'), std::string("urn:\xC3\xA9")}) {
        const auto found = wan_services_in_description("<service><serviceType>" + type +
                                                       "</serviceType><SCPDURL>/WANIPConnection.xml</SCPDURL><controlURL>/c</controlURL></service>");
        ASSERT_EQ(found.size(), 1u) << type;
        EXPECT_EQ(found[0].service_type, DEFAULT_SERVICE_TYPE) << type;
    }
    const std::string longest = "urn:WANIPConnection:" + std::string(SERVICE_TYPE_LIMIT - 20, '1');
    EXPECT_EQ(wan_services_in_description("<service><serviceType>" + longest + "</serviceType>"
                                          "<controlURL>/c</controlURL>")[0].service_type, longest);
    // The type belongs to the control URL's own element, not to one before it.
    EXPECT_EQ(wan_services_in_description("<service><serviceType>urn:a:WANPPPConnection:1</serviceType></service>"
                                          "<controlURL>/c</controlURL>")[0].service_type, DEFAULT_SERVICE_TYPE);
    EXPECT_TRUE(wan_services_in_description("WANIPConnection<controlURL></controlURL>"
                                            "<service>WANPPPConnection<controlURL>/p</controlURL></service>").empty());
}

TEST(SoapRequest, NamesTheGivenTypeAndIsTheFixedBodyForWanIpConnection1) {
    EXPECT_EQ(soap_get_external_ip_body(DEFAULT_SERVICE_TYPE), SOAP_GET_EXTERNAL_IP_BODY);
    const std::string body = soap_get_external_ip_body("urn:x:WANPPPConnection:2");
    EXPECT_EQ(body.size(), 274u - DEFAULT_SERVICE_TYPE.size() + 24);
    EXPECT_NE(body.find("<u:GetExternalIPAddress xmlns:u=\"urn:x:WANPPPConnection:2\"/></s:Body>"), std::string::npos);
    EXPECT_EQ(soap_get_external_ip_headers("urn:x:WANPPPConnection:2")[1].value,
              "\"urn:x:WANPPPConnection:2#GetExternalIPAddress\"");
}

TEST(Description, ControlUrlsStayOnTheLocationsHost) {
    EXPECT_TRUE(same_ipv4_host("http://192.168.1.1:5000/rootDesc.xml", "http://192.168.1.1:80/ctl"));
    EXPECT_FALSE(same_ipv4_host("http://192.168.1.1:5000/rootDesc.xml", "http://192.168.1.10:5000/ctl"));
    EXPECT_FALSE(same_ipv4_host("http://192.168.1.1:5000/rootDesc.xml", "http://127.0.0.1:5000/ctl"));
    EXPECT_FALSE(same_ipv4_host("http://router/rootDesc.xml", "http://router/ctl"));
    EXPECT_FALSE(same_ipv4_host("http://192.168.1.1/", "https://192.168.1.1/ctl"));
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
