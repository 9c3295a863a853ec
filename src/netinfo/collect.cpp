#include "netinfo/collect.h"

#include "netinfo/selection.h"
#include "netinfo/survey.h"
#include "upnp/external_ip.h"

namespace nerova::netinfo {

// The router is asked whether or not an adapter was selected.
NetworkSnapshot fresh_network_snapshot() { return {survey_adapters(), upnp::upnp_external_ip()}; }

NetworkSnapshot changed_network_snapshot() { return {survey_adapters(), upnp::upnp_external_ip_asked_anew()}; }

StatusDocument collect_status(const std::string& token) {
    const NetworkSnapshot snapshot = fresh_network_snapshot();
    return status_from_survey(token, snapshot.survey, snapshot.wan_ip);
}

}  // namespace nerova::netinfo
