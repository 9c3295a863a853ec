// A stand-in router for trying the whole lookup by hand or timing it: builds the test LAN, answers
// SSDP searches from the router's address there and serves a description and the SOAP endpoint. Run it only inside a network
// namespace, e.g.
//   tests/netns-run sh -c 'upnp_test_responder --seconds 5 & sleep 0.3; netinfo_probe'
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "router_for_tests.h"
#include "ssdp_responder.h"

using namespace nerova::upnp::testing;

int main(int argc, char** argv) {
    std::string wan_ip = "203.0.113.7";
    int seconds = 10;
    bool ppp = false;  // a DSL router: a strict stack whose only WAN service is WANPPPConnection:1
    int slow_ms = 0;   // a slow router that answers its N-th call 203.0.113.N, telling N on stdout as it comes
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ppp") == 0) ppp = true;
        if (i + 1 == argc) break;
        if (std::strcmp(argv[i], "--wan") == 0) wan_ip = argv[i + 1];
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--slow-numbered") == 0) slow_ms = std::atoi(argv[i + 1]);
    }
    const char* marker = std::getenv("NEROVA_IN_NETNS");
    if (marker == nullptr || std::string(marker) != "1") {
        std::fprintf(stderr, "upnp_test_responder: run it inside tests/netns-run\n");
        return 77;
    }
    if (!make_test_lan()) {
        std::fprintf(stderr, "upnp_test_responder: cannot build the test LAN\n");
        return 1;
    }
    TestHttpServer::Handler handler = router(igd_description("/ctl/IPConn"), soap_answer(wan_ip));
    if (ppp) {
        const StandInService service{"urn:schemas-upnp-org:service:WANPPPConnection:1", "/ctl/PPPConn", wan_ip};
        handler = strict_router({service});
    }
    int calls = 0;  // the server answers one connection at a time
    if (slow_ms > 0) {
        handler = [&calls, slow_ms, plain = handler](nerova::platform::Socket& connection, const std::string& request) {
            if (request.compare(0, 5, "POST ") != 0) return plain(connection, request);
            std::printf("%d\n", ++calls);
            std::fflush(stdout);
            std::this_thread::sleep_for(std::chrono::milliseconds(slow_ms));
            const std::string answer = http_response("200 OK", soap_answer("203.0.113." + std::to_string(calls)));
            connection.send_all(answer.data(), answer.size());
        };
    }
    TestHttpServer server(handler, 0, ROUTER_HOST);
    SsdpResponder responder({ssdp_answer("LOCATION: " + server.url("/rootDesc.xml"))});
    if (!server.listening() || !responder.listening()) {
        std::fprintf(stderr, "upnp_test_responder: cannot listen\n");
        return 1;
    }
    std::fprintf(stderr, "upnp_test_responder: answering for %d s at %s\n", seconds, server.url("/rootDesc.xml").c_str());
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}
