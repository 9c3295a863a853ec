#include "common/service.h"
#include "platform/system.h"
#include "tray/tray.h"

namespace nerova {

void run_tray(std::shared_ptr<BridgeState> state, std::optional<LogPlace>) {
    platform::write_standard_error("[NerovaBridge] serving " + service_url("") + " (Ctrl+C to stop)\n");
    platform::wait_for_shutdown_signal();
    state.reset();
    platform::exit_process(0);
}

RunningCopy show_running_copy() { return RunningCopy::absent; }

}  // namespace nerova
