#include "netinfo/collect.h"

#include "netinfo/selection.h"
#include "netinfo/survey.h"
#include "upnp/external_ip.h"

namespace nerova::netinfo {

StatusDocument collect_status(const std::string& token) {
    const Survey survey = survey_adapters();
    // The router is asked whether or not an adapter was selected.
    const std::optional<std::string> wan_ip = upnp::upnp_external_ip();
    return status_from_survey(token, survey, wan_ip);
}

NetworkSnapshot fresh_network_snapshot() { return {survey_adapters(), upnp::upnp_external_ip()}; }

}  // namespace nerova::netinfo
