// The tray: on Windows the notification icon and its cards; headless elsewhere.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "state/bridge_state.h"

namespace nerova {

// Where the diagnostic log goes, as start-up decided it: popup.log in the data folder.
struct LogPlace {
    std::string folder;  // made again when it has gone
    std::string file;
};

// Takes over the main thread until the user quits, then ends the process with status 0. Without a
// log place nothing is logged.
[[noreturn]] void run_tray(std::shared_ptr<BridgeState> state, std::optional<LogPlace> log);

// Asks a copy of the program that is already running to open its status card, so that starting
// the program again shows it instead of nothing; false where no such copy or no tray exists.
bool show_running_copy();

}  // namespace nerova
