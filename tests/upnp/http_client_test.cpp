// The HTTP client against a loopback server of the tests' own.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "loopback.h"
#include "upnp/external_ip.h"
#include "upnp/http_client.h"
#include "upnp/soap.h"

namespace nerova::upnp {
namespace {

using test::TestHttpServer;
using test::answer_and_hold;
using test::answer_with;
using test::http_response;
using Clock = std::chrono::steady_clock;

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

TEST(HttpClient, SendsTheExactGetAndReturnsTheBody) {
    TestHttpServer server(answer_with(http_response("200 OK", "<root/>")));
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(http_request(server.url("/rootDesc.xml?x=1"), "GET", {}, ""), "<root/>");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], "GET /rootDesc.xml?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

TEST(HttpClient, SendsTheExactSoapPostNamingTheServicesOwnType) {
    TestHttpServer server(answer_with(http_response("200 OK", "ok")));
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(ask_external_ip(server.url("/ctl/IPConn"), std::string(DEFAULT_SERVICE_TYPE)), std::nullopt);
    const std::string ppp = "urn:schemas-upnp-org:service:WANPPPConnection:1";
    EXPECT_EQ(ask_external_ip(server.url("/ctl/PPP"), ppp), std::nullopt);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[0],
              "POST /ctl/IPConn HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
              "Content-Type: text/xml; charset=\"utf-8\"\r\n"
              "SOAPAction: \"urn:schemas-upnp-org:service:WANIPConnection:1#GetExternalIPAddress\"\r\n"
              "Content-Length: 274\r\n\r\n" +
                  std::string(SOAP_GET_EXTERNAL_IP_BODY));
    std::string body(SOAP_GET_EXTERNAL_IP_BODY);
    body.replace(body.find("WANIPConnection"), 15, "WANPPPConnection");
    EXPECT_EQ(server.requests()[1],
              "POST /ctl/PPP HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
              "Content-Type: text/xml; charset=\"utf-8\"\r\n"
              "SOAPAction: \"" + ppp + "#GetExternalIPAddress\"\r\n"
              "Content-Length: 275\r\n\r\n" + body);
}

TEST(HttpClient, AnErrorStatusStillGivesItsBody) {
    TestHttpServer server(answer_with(http_response("500 Internal Server Error", "<s:Fault>no</s:Fault>")));
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(http_request(server.url("/"), "POST", {}, "x"), "<s:Fault>no</s:Fault>");
}

TEST(HttpClient, HeadersWithoutTheBlankLineGiveNothing) {
    TestHttpServer server(answer_with("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n"));
    ASSERT_TRUE(server.listening());
    EXPECT_FALSE(http_request(server.url("/"), "GET", {}, ""));
}

TEST(HttpClient, AServerThatNeverClosesIsCutByTheReadLimit) {
    TestHttpServer server(answer_and_hold(http_response("200 OK", "<root/>"), 3500));
    ASSERT_TRUE(server.listening());
    const auto start = Clock::now();
    EXPECT_EQ(http_request(server.url("/"), "GET", {}, ""), "<root/>");
    EXPECT_GE(since(start), std::chrono::milliseconds(700));
    EXPECT_LT(since(start), std::chrono::milliseconds(2400));  // three read windows, well before the close
}

TEST(HttpClient, ATricklingServerIsCutByTheReadDeadline) {
    TestHttpServer server([](platform::Socket& connection, const std::string&) {
        const std::string head = "HTTP/1.1 200 OK\r\n\r\n";
        connection.send_all(head.data(), head.size());
        for (int i = 0; i < 40; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!connection.send_all("x", 1)) return;
        }
    });
    ASSERT_TRUE(server.listening());
    const auto start = Clock::now();
    const auto body = http_request(server.url("/"), "GET", {}, "");
    ASSERT_TRUE(body);
    // A byte every 100 ms for 4 s: the 800 ms window holds about 8 of them, fewer on a busy machine.
    EXPECT_GE(since(start), std::chrono::milliseconds(700));
    EXPECT_GE(body->size(), 1u);
    EXPECT_LE(body->size(), 20u);
    EXPECT_LT(since(start), std::chrono::milliseconds(2400));
}

TEST(HttpClient, AFloodingServerIsCutAtTheSizeLimit) {
    TestHttpServer server([](platform::Socket& connection, const std::string&) {
        const std::string head = "HTTP/1.1 200 OK\r\n\r\n";
        connection.send_all(head.data(), head.size());
        const std::string block(64 * 1024, 'x');
        connection.set_send_timeout(std::chrono::milliseconds(2000));
        for (int i = 0; i < 200; ++i) {
            if (!connection.send_all(block.data(), block.size())) return;
        }
    });
    ASSERT_TRUE(server.listening());
    const auto start = Clock::now();
    const auto body = http_request(server.url("/"), "GET", {}, "");
    ASSERT_TRUE(body);
    EXPECT_LT(body->size(), HTTP_MAX_RESPONSE_BYTES + HTTP_RECEIVE_CHUNK);
    // A machine too busy to move 4 MiB within the read window cuts it there, short of the limit.
    if (since(start) < HTTP_READ_WINDOW) {
        EXPECT_GE(body->size(), HTTP_MAX_RESPONSE_BYTES - 19);
    }
}

TEST(HttpClient, ControlCharactersAndHostNamesNeverReachTheWire) {
    TestHttpServer server(answer_with(http_response("200 OK", "ok")));
    ASSERT_TRUE(server.listening());
    EXPECT_FALSE(http_request(server.url("/a\r\nX-Injected: 1\r\n\r\n/b"), "GET", {}, ""));
    EXPECT_FALSE(http_request(server.url("/a b"), "GET", {}, ""));
    EXPECT_FALSE(http_request(server.url("/a\tb"), "GET", {}, ""));
    // Nor is a host name resolved, however it would resolve.
    EXPECT_FALSE(http_request("http://localhost:" + std::to_string(server.port()) + "/", "GET", {}, ""));
    EXPECT_TRUE(server.requests().empty());
}

TEST(HttpClient, NoListenerGivesNothingAtOnce) {
    std::uint16_t closed_port = 0;
    {
        TestHttpServer server(answer_with(""));
        closed_port = server.port();
    }
    const auto start = Clock::now();
    EXPECT_FALSE(http_request("http://127.0.0.1:" + std::to_string(closed_port) + "/", "GET", {}, ""));
    EXPECT_FALSE(http_request("https://127.0.0.1/", "GET", {}, ""));
    EXPECT_LT(since(start), std::chrono::milliseconds(900));
}

}  // namespace
}  // namespace nerova::upnp
