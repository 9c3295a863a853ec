// The tray: on Windows the notification icon and its cards; headless elsewhere.
#pragma once

#include <memory>

#include "main/bridge_state.h"

namespace nerova {

// Takes over the main thread until the user quits, then ends the process with status 0.
[[noreturn]] void run_tray(std::shared_ptr<BridgeState> state);

}  // namespace nerova
