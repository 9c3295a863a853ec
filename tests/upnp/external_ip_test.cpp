// The whole router lookup against the tests' own responder, in a network namespace of the test's
// own: the router and a hostile host sit on a test LAN, and the search's multicast route leads to
// loopback, where the responder listens.
#include <gtest/gtest.h>

#include <sched.h>

#include <chrono>
#include <cstdlib>
#include <future>
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

// A router on the test LAN: the description and the SOAP endpoint at the router's address.
TestHttpServer lan_router(const std::string& control_url, const std::string& wan_ip = "203.0.113.7") {
    return TestHttpServer(router(igd_description(control_url), soap_answer(wan_ip)), 0, ROUTER_HOST);
}

class UpnpLookup : public ::testing::Test {
protected:
    void SetUp() override {
        if (!enter_fresh_namespace()) GTEST_SKIP() << "needs to run in a network namespace (tests/netns-run)";
        ASSERT_TRUE(make_test_lan());
    }

    // Runs the lookup against a responder that answers every search with `answers`.
    std::optional<std::string> lookup(const std::vector<SsdpAnswer>& answers, std::chrono::milliseconds delay = {}) {
        responder_.reset();  // two responders would both answer
        responder_ = std::make_unique<SsdpResponder>(answers, delay);
        EXPECT_TRUE(responder_->listening());
        return upnp_external_ip();
    }

    std::unique_ptr<SsdpResponder> responder_;
};

TEST_F(UpnpLookup, SearchesTwiceWithTheExactDatagramThenFetchesAndCalls) {
    TestHttpServer server = lan_router("/ctl/IPConn");
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
    TestHttpServer server = lan_router("/ctl/IPConn");
    ASSERT_TRUE(server.listening());
    for (const std::string header : {"LOCATION: ", "Location: ", "location:"}) {
        EXPECT_EQ(lookup({ssdp_answer(header + server.url("/rootDesc.xml"))}), "203.0.113.7") << header;
    }
}

TEST_F(UpnpLookup, AnEmptyLocationLineIsPassedOver) {
    TestHttpServer server = lan_router("/ctl/IPConn");
    ASSERT_TRUE(server.listening());
    // Within one answer, and across answers.
    EXPECT_EQ(lookup({ssdp_answer("LOCATION:\r\n" + location_of(server, "/rootDesc.xml"))}), "203.0.113.7");
    EXPECT_EQ(lookup({ssdp_answer("LOCATION:   "), ssdp_answer(location_of(server, "/rootDesc.xml"))}),
              "203.0.113.7");
}

TEST_F(UpnpLookup, TheFirstAnswerThatNamesALocationWins) {
    TestHttpServer first = lan_router("/ctl/IPConn", "198.51.100.1");
    TestHttpServer second = lan_router("/ctl/IPConn");
    ASSERT_TRUE(first.listening() && second.listening());
    EXPECT_EQ(lookup({std::string("NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\n\r\n"), ssdp_answer(location_of(first, "/d.xml")),
                      ssdp_answer(location_of(second, "/d.xml"))}),
              "198.51.100.1");
    EXPECT_TRUE(second.requests().empty());
}

TEST_F(UpnpLookup, EachServiceIsAskedInItsOwnTypeAsAStrictRouterRequires) {
    for (const std::string type : {"urn:schemas-upnp-org:service:WANPPPConnection:1",
                                   "urn:schemas-upnp-org:service:WANPPPConnection:2",
                                   "urn:schemas-upnp-org:service:WANIPConnection:2",
                                   "urn:dslforum-org:service:WANPPPConnection:1"}) {
        TestHttpServer server(strict_router({{type, "/ctl/Conn", "203.0.113.7"}}), 0, ROUTER_HOST);
        ASSERT_TRUE(server.listening());
        EXPECT_EQ(lookup({ssdp_answer(location_of(server, "/rootDesc.xml"))}), "203.0.113.7") << type;
        ASSERT_EQ(server.requests().size(), 2u);
        EXPECT_NE(server.requests()[1].find("SOAPAction: \"" + type + "#GetExternalIPAddress\"\r\n"), std::string::npos);
    }
}

TEST_F(UpnpLookup, TheNextWanServiceIsAskedOnceWhenTheFirstGivesNoAddress) {
    const std::string ip = "urn:schemas-upnp-org:service:WANIPConnection:1";
    const std::string ppp = "urn:schemas-upnp-org:service:WANPPPConnection:1";
    const std::optional<std::string> none;
    struct Case {
        std::vector<StandInService> services;
        std::optional<std::string> expected;
        std::size_t posts;
    };
    for (const Case& c : std::vector<Case>{
             {{{ip, "/ip", none}, {ppp, "/ppp", "198.51.100.9"}}, "198.51.100.9", 2},       // an error first
             {{{ppp, "/ppp", ""}, {ip, "/ip", "198.51.100.9"}}, "198.51.100.9", 2},         // no address first
             {{{ip, "/ip", "203.0.113.7"}, {ppp, "/ppp", "198.51.100.9"}}, "203.0.113.7", 1},
             {{{ip, "/a", none}, {ip, "/b", none}, {ip, "/c", "198.51.100.9"}}, none, 2},  // two calls at most
         }) {
        TestHttpServer server(strict_router(c.services), 0, ROUTER_HOST);
        ASSERT_TRUE(server.listening());
        EXPECT_EQ(lookup({ssdp_answer(location_of(server, "/rootDesc.xml"))}), c.expected);
        EXPECT_EQ(server.requests().size(), 1 + c.posts) << c.services[0].control_path;
    }

    // The second service is held to the same host as the first.
    TestHttpServer elsewhere(strict_router({{ppp, "/ppp", "198.51.100.1"}}), 0, HOSTILE_HOST);
    ASSERT_TRUE(elsewhere.listening());
    TestHttpServer server(strict_router({{ip, "/ip", none}, {ppp, elsewhere.url("/ppp"), "198.51.100.1"}}), 0, ROUTER_HOST);
    EXPECT_EQ(lookup({ssdp_answer(location_of(server, "/rootDesc.xml"))}), none);
    EXPECT_TRUE(elsewhere.requests().empty());
}

TEST_F(UpnpLookup, ARelativeControlUrlIsTakenFromTheRoot) {
    TestHttpServer server = lan_router("upnp/control/WANIPConn1");
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(lookup({ssdp_answer(location_of(server, "/desc/root.xml"))}), "203.0.113.7");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_PRED2(text::starts_with, server.requests()[1], "POST /upnp/control/WANIPConn1 HTTP/1.1\r\n");
}

TEST_F(UpnpLookup, ALocationWithoutAPortKeepsPort80ForTheControlUrl) {
    TestHttpServer server(router(igd_description("/ctl/IPConn"), soap_answer("203.0.113.7")), 80, ROUTER_HOST);
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(lookup({ssdp_answer("Location: http://10.77.0.1/desc/root.xml")}), "203.0.113.7");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_PRED2(text::starts_with, server.requests()[1], "POST /ctl/IPConn HTTP/1.1\r\nHost: 10.77.0.1\r\n");
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
        TestHttpServer server = lan_router("/ctl/IPConn", value);
        ASSERT_TRUE(server.listening());
        EXPECT_EQ(lookup({ssdp_answer(location_of(server, "/rootDesc.xml"))}), expected) << value;
    }
}

TEST_F(UpnpLookup, NoTrustedAnswerGivesNothingAfterTheWindow) {
    // No answer at all; then answers that are skipped (one naming a host that would need the
    // resolver), sent at once and sent just before the window closes: the search still ends
    // with its window.
    const std::vector<SsdpAnswer> skipped = {{ssdp_answer("LOCATION: http://router.invalid:5000/d.xml")},
                                             {ssdp_answer("LOCATION: http://10.77.0.1:1/d.xml"), HOSTILE_HOST}};
    for (const auto& [answers, delay] : {std::pair{std::vector<SsdpAnswer>{}, 0}, std::pair{skipped, 0},
                                         std::pair{skipped, 1000}}) {
        const auto start = Clock::now();
        EXPECT_EQ(lookup(answers, std::chrono::milliseconds(delay)), std::nullopt);
        const auto elapsed = Clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(1150));
        EXPECT_LT(elapsed, std::chrono::milliseconds(2400)) << delay;  // twice the window
    }
}

TEST_F(UpnpLookup, UntrustedAnswersAreSkippedAndTheRouterBehindThemIsFound) {
    TestHttpServer victim(answer_with(http_response("200 OK", igd_description("/ctl/IPConn"))));
    TestHttpServer server = lan_router("/ctl/IPConn");
    ASSERT_TRUE(victim.listening() && server.listening());
    EXPECT_EQ(lookup({
                  {location_of(victim, "/status"), HOSTILE_HOST},        // pointing at this machine
                  {location_of(victim, "/status"), LOOPBACK_HOST},       // sent from this machine
                  {location_of(server, "/rootDesc.xml"), HOSTILE_HOST},  // naming another host
                  {"LOCATION: http://router.invalid/d.xml", HOSTILE_HOST},
                  {"LOCATION: http://010.77.0.66/d.xml", HOSTILE_HOST},  // not the plain literal
                  {location_of(server, "/rootDesc.xml")},
              }),
              "203.0.113.7");
    EXPECT_TRUE(victim.requests().empty());
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(UpnpLookup, AControlUrlStaysOnTheRoutersHost) {
    TestHttpServer victim(answer_with(http_response("200 OK", soap_answer("198.51.100.1"))));
    TestHttpServer elsewhere(answer_with(http_response("200 OK", soap_answer("198.51.100.1"))), 0, HOSTILE_HOST);
    ASSERT_TRUE(victim.listening() && elsewhere.listening());
    for (const std::string& control : {victim.url("/admin/reset"), elsewhere.url("/ctl"),
                                       std::string("http://router.invalid/ctl")}) {
        TestHttpServer server = lan_router(control);
        EXPECT_EQ(lookup({location_of(server, "/rootDesc.xml")}), std::nullopt) << control;
    }
    EXPECT_TRUE(victim.requests().empty());
    EXPECT_TRUE(elsewhere.requests().empty());

    // Another port of the same host is the router's own business.
    TestHttpServer control_port = lan_router("/unused");
    TestHttpServer server = lan_router(control_port.url("/ctl/IPConn"));
    EXPECT_EQ(lookup({location_of(server, "/rootDesc.xml")}), "203.0.113.7");
    EXPECT_EQ(control_port.requests().size(), 1u);
}

TEST_F(UpnpLookup, CallersAtTheSameTimeShareOneLookup) {
    TestHttpServer server = lan_router("/ctl/IPConn");
    // The router takes its time, so every caller arrives while the lookup runs.
    responder_ = std::make_unique<SsdpResponder>(std::vector<SsdpAnswer>{ssdp_answer(location_of(server, "/d.xml"))},
                                                 std::chrono::milliseconds(300));
    std::vector<std::optional<std::string>> results(20);
    std::vector<std::thread> callers;
    // Made first and let go together: on a busy machine making 20 threads outlasts a lookup.
    std::promise<void> go;
    const std::shared_future<void> gate = go.get_future().share();
    for (auto& result : results) {
        callers.emplace_back([&result, gate] {
            gate.wait();
            result = upnp_external_ip();
        });
    }
    go.set_value();
    for (auto& caller : callers) caller.join();
    for (const auto& result : results) EXPECT_EQ(result, "203.0.113.7");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the second datagram is read late
    EXPECT_EQ(responder_->searches().size(), 2u);
    EXPECT_EQ(server.requests().size(), 2u);
    // Nothing is kept: the next caller asks again.
    EXPECT_EQ(upnp_external_ip(), "203.0.113.7");
    EXPECT_EQ(server.requests().size(), 4u);
}

}  // namespace
}  // namespace nerova::upnp
