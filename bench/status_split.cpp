// Where the time of one status document goes: the adapter survey, then each step of the router
// lookup. Run it only inside a network namespace (bench/run does), since it searches for a router.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "netinfo/survey.h"
#include "platform/net.h"
#include "upnp/description.h"
#include "upnp/external_ip.h"
#include "upnp/http_client.h"
#include "upnp/ssdp.h"

using namespace nerova;
using Clock = std::chrono::steady_clock;

namespace {

template <typename Step>
auto timed(const char* label, Step step) {
    const auto started = Clock::now();
    auto result = step();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    std::printf("| %s | %.2f ms |\n", label, ms);
    return result;
}

}  // namespace

int main() {
    const char* marker = std::getenv("NEROVA_IN_NETNS");
    if (marker == nullptr || std::string(marker) != "1") {
        std::fprintf(stderr, "status_split: run it inside tests/netns-run\n");
        return 77;
    }
    platform::init_sockets();
    timed("adapter survey", [] { return netinfo::survey_adapters().adapters.size(); });
    const auto location = timed("UPnP search (SSDP)", [] { return upnp::ssdp_search_location(); });
    if (!location) return 0;
    const auto description = timed("description fetch", [&] { return upnp::http_request(*location, "GET", {}, {}); });
    if (!description) return 0;
    // The lookup's own steps, so the split keeps its trust rule and its second service.
    for (const upnp::WanService& service : upnp::wan_services_in_description(*description)) {
        const auto endpoint = upnp::service_endpoint(*location, service);
        if (!endpoint) continue;
        const auto address = timed("SOAP GetExternalIPAddress", [&] {
            return upnp::ask_external_ip(*endpoint, service.service_type);
        });
        if (address) break;
    }
    return 0;
}
