// Fills a fresh status document from the adapter survey and the router.
#pragma once

#include <string>

#include "netinfo/status.h"

namespace nerova::netinfo {

// Surveys the adapters and asks the router afresh on every call; never fails, leaving empty
// whatever it cannot find.
StatusDocument collect_status(const std::string& token);

}  // namespace nerova::netinfo
