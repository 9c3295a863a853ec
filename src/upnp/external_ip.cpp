#include "upnp/external_ip.h"

#include "common/in_flight.h"
#include "upnp/description.h"
#include "upnp/http_client.h"
#include "upnp/http_url.h"
#include "upnp/soap.h"
#include "upnp/ssdp.h"

namespace nerova::upnp {

std::optional<std::string> service_endpoint(const std::string& location, const WanService& service) {
    // The control URL may name a port of its own, but never another host.
    std::optional<std::string> endpoint = absolute_control_url(location, service.control_url);
    if (!endpoint || !same_ipv4_host(location, *endpoint)) return std::nullopt;
    return endpoint;
}

std::optional<std::string> ask_external_ip(const std::string& endpoint, const std::string& service_type) {
    const std::optional<std::string> answer = http_request(
        endpoint, "POST", soap_get_external_ip_headers(service_type), soap_get_external_ip_body(service_type));
    if (!answer) return std::nullopt;
    return external_ip_in_answer(*answer);
}

std::optional<std::string> lookup_external_ip() {
    const std::optional<std::string> location = ssdp_search_location();
    if (!location) return std::nullopt;
    const std::optional<std::string> description = http_request(*location, "GET", {}, {});
    if (!description) return std::nullopt;
    // A description may list a second WAN connection (IP and PPP, say) of which only one is up.
    for (const WanService& service : wan_services_in_description(*description)) {
        const std::optional<std::string> endpoint = service_endpoint(*location, service);
        if (!endpoint) continue;
        if (std::optional<std::string> address = ask_external_ip(*endpoint, service.service_type)) return address;
    }
    return std::nullopt;
}

namespace {

using Lookups = InFlight<std::optional<std::string>>;

Lookups& lookups() {
    // Never destroyed: a detached thread may still be in a lookup while the process exits.
    static auto& in_flight = *new Lookups();
    return in_flight;
}

void run_here(const Lookups::Task& run) { run(); }

}  // namespace

std::optional<std::string> upnp_external_ip() { return lookups().share(lookup_external_ip, run_here).get(); }

std::optional<std::string> upnp_external_ip_asked_anew() {
    return lookups().share_next(lookup_external_ip, run_here).get();
}

}  // namespace nerova::upnp
