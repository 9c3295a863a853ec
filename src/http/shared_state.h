// What start-up hands to the service and every connection carries.
#pragma once

#include <memory>
#include <string>

#include "netinfo/status_source.h"
#include "state/bridge_state.h"

namespace nerova::http {

struct SharedState {
    std::shared_ptr<const std::string> token;  // never changed while the process runs
    std::shared_ptr<BridgeState> bridge;
    std::shared_ptr<const netinfo::StatusSource> status;
};

}  // namespace nerova::http
