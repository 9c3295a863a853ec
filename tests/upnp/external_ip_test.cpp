// The whole router lookup against the tests' own responder, in a network namespace of the test's
// own whose multicast route leads to loopback.
#include <gtest/gtest.h>

#include <sched.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "common/text.h"
#include "router_for_tests.h"
#include "ssdp_responder.h"
#include "upnp/external_ip.h"

namespace nerova::upnp {
namespace {

using namespace testing;
using Clock = std::chrono::steady_clock;

const std::string SEARCH =
    "M-SEARCH * HTTP/1.1\r\n"
    "HOST: 239.255.255.250:1900\r\n"
    "MAN: \"ssdp:discover\"\r\n"
    "MX: 1\r\n"
    "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
    "\r\n";

// Inside the runner's namespace, each case moves on to a fresh one of its own with only loopback,
// so no search leaves it and no responder of another case answers.
bool enter_fresh_namespace() {
    const char* marker = std::getenv("NEROVA_IN_NETNS");
    if (marker == nullptr || std::string(marker) != "1") return false;
    return ::unshare(CLONE_NEWNET) == 0 && std::system("ip link set lo up") == 0;
}

std::string location_of(const TestHttpServer& server, const std::string& path) {
    return "LOCATION: " + server.url(path);
}

class UpnpLookup : public ::testing::Test {
protected:
    void SetUp() override {
        if (!enter_fresh_namespace()) GTEST_SKIP() << "needs to run in a network namespace (tests/netns-run)";
        ASSERT_TRUE(route_multicast_to_loopback());
    }

    // Runs the lookup against a responder that answers every search with `answers`.
    std::optional<std::string> lookup(const std::vector<std::string>& answers) {
        responder_.reset();  // two responders would both answer
        responder_ = std::make_unique<SsdpResponder>(answers);
        EXPECT_TRUE(responder_->listening());
        return upnp_external_ip();
    }

    std::unique_ptr<SsdpResponder> responder_;
};

TEST_F(UpnpLookup, SearchesTwiceWithTheExactDatagramThenFetchesAndCalls) {
    TestHttpServer server(router(igd_description("/ctl/IPConn"), soap_answer("203.0.113.7")));
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(lookup({ssdp_answer(location_of(server, "/rootDesc.xml"))}), "203.0.113.7");

    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(responder_->searches(), (std::vector<std::string>{SEARCH, SEARCH}));
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_PRED2(text::starts_with, requests[0], "GET /rootDesc.xml HTTP/1.1\r\n");
    EXPECT_PRED2(text::starts_with, requests[1], "POST /ctl/IPConn HTTP/1.1\r\n");
}

TEST_F(UpnpLookup, TheLocationHeaderIsReadInAnyCase) {
    TestHttpServer server(router(igd_description("/ctl/IPConn"), soap_answer("203.0.113.7")));
    ASSERT_TRUE(server.listening());
    for (const std::string header : {"LOCATION: ", "Location: ", "location:"}) {
        EXPECT_EQ(lookup({ssdp_answer(header + server.url("/rootDesc.xml"))}), "203.0.113.7") << header;
    }
}

TEST_F(UpnpLookup, AnEmptyLocationLineIsPassedOver) {
    TestHttpServer server(router(igd_description("/ctl/IPConn"), soap_answer("203.0.113.7")));
    ASSERT_TRUE(server.listening());
    // Within one answer, and across answers.
    EXPECT_EQ(lookup({ssdp_answer("LOCATION:\r\n" + location_of(server, "/rootDesc.xml"))}), "203.0.113.7");
    EXPECT_EQ(lookup({ssdp_answer("LOCATION:   "), ssdp_answer(location_of(server, "/rootDesc.xml"))}),
              "203.0.113.7");
}

TEST_F(UpnpLookup, TheFirstAnswerThatNamesALocationWins) {
    TestHttpServer first(router(igd_description("/ctl/IPConn"), soap_answer("198.51.100.1")));
    TestHttpServer second(router(igd_description("/ctl/IPConn"), soap_answer("203.0.113.7")));
    ASSERT_TRUE(first.listening() && second.listening());
    EXPECT_EQ(lookup({"NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\n\r\n", ssdp_answer(location_of(first, "/d.xml")),
                      ssdp_answer(location_of(second, "/d.xml"))}),
              "198.51.100.1");
    EXPECT_TRUE(second.requests().empty());
}

TEST_F(UpnpLookup, APppServiceListedFirstIsCalledAsWanIpConnection) {
    const std::string description =
        "<root><serviceList><service><serviceType>urn:schemas-upnp-org:service:WANPPPConnection:1</serviceType>"
        "<controlURL>/ctl/PPPConn</controlURL></service>"
        "<service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>"
        "<controlURL>/ctl/IPConn</controlURL></service></serviceList></root>";
    TestHttpServer server(router(description, soap_answer("203.0.113.7")));
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(lookup({ssdp_answer(location_of(server, "/rootDesc.xml"))}), "203.0.113.7");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_PRED2(text::starts_with, server.requests()[1], "POST /ctl/PPPConn HTTP/1.1");
    EXPECT_NE(server.requests()[1].find("WANIPConnection:1#GetExternalIPAddress"), std::string::npos);
}

TEST_F(UpnpLookup, ARelativeControlUrlIsTakenFromTheRoot) {
    TestHttpServer server(router(igd_description("upnp/control/WANIPConn1"), soap_answer("203.0.113.7")));
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(lookup({ssdp_answer(location_of(server, "/desc/root.xml"))}), "203.0.113.7");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_PRED2(text::starts_with, server.requests()[1], "POST /upnp/control/WANIPConn1 HTTP/1.1\r\n");
}

TEST_F(UpnpLookup, ALocationWithoutAPortKeepsPort80ForTheControlUrl) {
    TestHttpServer server(router(igd_description("/ctl/IPConn"), soap_answer("203.0.113.7")), 80);
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(lookup({ssdp_answer("Location: http://127.0.0.1/desc/root.xml")}), "203.0.113.7");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_PRED2(text::starts_with, server.requests()[1], "POST /ctl/IPConn HTTP/1.1\r\nHost: 127.0.0.1\r\n");
}

TEST_F(UpnpLookup, TheAnswerValueIsCheckedAsADottedQuad) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {" \r\n  203.0.113.7\r\n  ", "203.0.113.7"},
        {"0.0.0.0", "0.0.0.0"},
        {"203.0.113.007", std::nullopt},
        {"256.1.1.1", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [value, expected] : cases) {
        TestHttpServer server(router(igd_description("/ctl/IPConn"), soap_answer(value)));
        ASSERT_TRUE(server.listening());
        EXPECT_EQ(lookup({ssdp_answer(location_of(server, "/rootDesc.xml"))}), expected) << value;
    }
}

TEST_F(UpnpLookup, NoAnswerAtAllGivesNothingAfterTheWindow) {
    const auto start = Clock::now();
    EXPECT_EQ(upnp_external_ip(), std::nullopt);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(1150));
    EXPECT_LT(elapsed, std::chrono::milliseconds(1700));
}

TEST_F(UpnpLookup, BrokenRoutersGiveNothingQuickly) {
    TestHttpServer https_control(router(igd_description("https://127.0.0.1/ctl"), soap_answer("203.0.113.7")));
    TestHttpServer no_service(router("<root><controlURL>/ctl</controlURL></root>", soap_answer("203.0.113.7")));
    TestHttpServer no_header_end(answer_with("HTTP/1.1 200 OK\r\n" + igd_description("/ctl")));
    ASSERT_TRUE(https_control.listening() && no_service.listening() && no_header_end.listening());
    std::uint16_t closed_port = 0;
    {
        TestHttpServer gone(answer_with(""));
        closed_port = gone.port();
    }
    const auto start = Clock::now();
    EXPECT_EQ(lookup({ssdp_answer(location_of(https_control, "/d.xml"))}), std::nullopt);
    EXPECT_EQ(lookup({ssdp_answer(location_of(no_service, "/d.xml"))}), std::nullopt);
    EXPECT_EQ(lookup({ssdp_answer(location_of(no_header_end, "/d.xml"))}), std::nullopt);
    EXPECT_EQ(lookup({ssdp_answer("LOCATION: http://127.0.0.1:" + std::to_string(closed_port) + "/d.xml")}),
              std::nullopt);
    EXPECT_EQ(lookup({ssdp_answer("LOCATION: ftp://127.0.0.1/d.xml")}), std::nullopt);
    // A datagram longer than the 2048-byte buffer ends the search, even with a good one behind it.
    TestHttpServer good(router(igd_description("/ctl/IPConn"), soap_answer("203.0.113.7")));
    EXPECT_EQ(lookup({ssdp_answer(location_of(good, "/d.xml") + "\r\nX-Pad: " + std::string(2100, 'x')),
                      ssdp_answer(location_of(good, "/d.xml"))}),
              std::nullopt);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
}

}  // namespace
}  // namespace nerova::upnp
