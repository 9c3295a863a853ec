#include "upnp/external_ip.h"

#include <mutex>

#include "platform/system.h"
#include "upnp/description.h"
#include "upnp/http_client.h"
#include "upnp/http_url.h"
#include "upnp/soap.h"
#include "upnp/ssdp.h"

namespace nerova::upnp {
namespace {

struct LookupInFlight {
    std::mutex mutex;
    std::shared_future<ExternalIp> result;  // valid while a lookup runs
};

LookupInFlight& in_flight() {
    static LookupInFlight lookup;
    return lookup;
}

void run_lookup(std::promise<ExternalIp>& promise) {
    ExternalIp address;
    try {
        address = lookup_external_ip();
    } catch (...) {
        // Memory running out during one lookup costs only its result.
    }
    {
        const std::lock_guard<std::mutex> lock(in_flight().mutex);
        in_flight().result = {};
    }
    promise.set_value(std::move(address));
}

}  // namespace

ExternalIp lookup_external_ip() {
    const std::optional<std::string> location = ssdp_search_location();
    if (!location) return std::nullopt;
    const std::optional<std::string> description = http_request(*location, "GET", {}, {});
    if (!description) return std::nullopt;
    const std::optional<std::string> control_url = control_url_in_description(*description);
    if (!control_url) return std::nullopt;
    // The control URL may name a port of its own, but never another host.
    const std::optional<std::string> endpoint = absolute_control_url(*location, *control_url);
    if (!endpoint || !same_ipv4_host(*location, *endpoint)) return std::nullopt;
    const std::optional<std::string> answer =
        http_request(*endpoint, "POST", soap_get_external_ip_headers(), SOAP_GET_EXTERNAL_IP_BODY);
    if (!answer) return std::nullopt;
    return external_ip_in_answer(*answer);
}

std::shared_future<ExternalIp> external_ip_lookup() {
    LookupInFlight& lookup = in_flight();
    auto promise = std::make_shared<std::promise<ExternalIp>>();
    std::shared_future<ExternalIp> result;
    {
        const std::lock_guard<std::mutex> lock(lookup.mutex);
        if (lookup.result.valid()) return lookup.result;
        result = promise->get_future().share();
        lookup.result = result;
    }
    if (!platform::spawn_detached([promise] { run_lookup(*promise); })) run_lookup(*promise);
    return result;
}

ExternalIp upnp_external_ip() { return external_ip_lookup().get(); }

}  // namespace nerova::upnp
