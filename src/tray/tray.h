// The tray: on Windows the notification icon and its cards; headless elsewhere.
#pragma once

#include <memory>

#include "main/bridge_state.h"

namespace nerova {

// Takes over the main thread until the user quits, then ends the process with status 0.
[[noreturn]] void run_tray(std::shared_ptr<BridgeState> state);

// Asks a copy of the program that is already running to open its status card, so that starting
// the program again shows it instead of nothing; false where no such copy or no tray exists.
bool show_running_copy();

}  // namespace nerova
