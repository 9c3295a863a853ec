#include "netinfo/collect.h"

#include "common/in_flight.h"
#include "netinfo/selection.h"
#include "netinfo/survey.h"
#include "platform/system.h"
#include "upnp/external_ip.h"

namespace nerova::netinfo {

StatusDocument collect_status(const std::string& token) {
    const Survey survey = survey_adapters();
    // The router is asked whether or not an adapter was selected.
    const std::optional<std::string> wan_ip = upnp::upnp_external_ip();
    return status_from_survey(token, survey, wan_ip);
}

NetworkSnapshot fresh_network_snapshot() { return {survey_adapters(), upnp::upnp_external_ip()}; }

std::shared_future<NetworkSnapshot> network_snapshot() {
    // Never destroyed: its thread may still be running while the process exits.
    static auto& in_flight = *new InFlight<NetworkSnapshot>();
    return in_flight.share(fresh_network_snapshot, [](const auto& run) {
        if (!platform::spawn_detached(run)) run();
    });
}

}  // namespace nerova::netinfo
