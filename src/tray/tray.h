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

// What asking a copy of the program that already runs came to.
enum class RunningCopy {
    shown,     // it opens its status card
    elevated,  // it runs as administrator, and Windows keeps this start's request from it
    absent,    // no copy in this session showed its window in time (or there is no tray)
};

// Asks a copy of the program that is already running to open its status card, so that starting
// the program again shows it instead of nothing. A copy that is itself starting has bound the port
// before it makes its window, so its window gets a few seconds to appear. Asks at most once.
RunningCopy show_running_copy();

}  // namespace nerova
