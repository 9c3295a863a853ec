// The per-platform adapter survey: the computer name and the adapter list, in the operating
// system's order, as plain records for the selection rules.
#pragma once

#include "netinfo/adapter.h"

namespace nerova::netinfo {

// Never fails; what cannot be read is left empty (a failed adapter query gives no adapters).
Survey survey_adapters();

}  // namespace nerova::netinfo
