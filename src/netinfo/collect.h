// Fills a fresh status document from the adapter survey and the router.
#pragma once

#include <optional>
#include <string>

#include "netinfo/adapter.h"
#include "netinfo/status.h"

namespace nerova::netinfo {

// Surveys the adapters and asks the router afresh on every call; never fails, leaving empty
// whatever it cannot find.
StatusDocument collect_status(const std::string& token);

// What a live channel's refresh gathers: the adapter survey, then the router's answer.
struct NetworkSnapshot {
    Survey survey;
    std::optional<std::string> wan_ip;
};

// A survey taken now and the router's answer (shared with a lookup already under way).
NetworkSnapshot fresh_network_snapshot();

// The same for a network change: the router's answer comes from a lookup begun after the survey,
// never from one that began on the network before the change.
NetworkSnapshot changed_network_snapshot();

}  // namespace nerova::netinfo
