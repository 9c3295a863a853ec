#include "main/startup.h"

#include <memory>

#include "common/service.h"
#include "http/server.h"
#include "netinfo/change_listener.h"
#include "netinfo/network_changes.h"
#include "netinfo/status_source.h"
#include "platform/net.h"
#include "platform/system.h"
#include "state/bridge_state.h"
#include "state/token.h"
#include "tray/tray.h"

namespace nerova {

int run_program() {
    platform::ignore_broken_pipes();  // standard error may be a pipe that nobody reads
    const DataPaths paths = data_paths(platform::environment_variable("APPDATA"), platform::default_data_base());
    auto token = std::make_shared<const std::string>(load_or_create_token(paths.data_folder, paths.token_file));
    auto state = std::make_shared<BridgeState>();

    platform::init_sockets();
    platform::raise_open_file_limit();
    int os_error = 0;
    std::optional<platform::Socket> listener = platform::Socket::listen_tcp(
        *platform::parse_ip_literal(std::string(LISTEN_HOST), LISTEN_PORT), LISTEN_BACKLOG, os_error);
    if (!listener) {
        const RunningCopy copy = show_running_copy();
        const std::string line = bind_failure_line(platform::os_error_message(os_error));
        platform::write_standard_error(line + "\n");
        if (copy != RunningCopy::shown) show_bind_failure(line, copy == RunningCopy::elevated);
        return 1;
    }

    platform::block_shutdown_signals();
    // Network changes the system reports refresh the live channels at once; without the notices
    // their 3 s checks alone go on.
    auto changes = std::make_shared<netinfo::NetworkChanges>(netinfo::changed_network_snapshot,
                                                             [state] { return web_page_connected(*state); });
    const std::unique_ptr<netinfo::ChangeListener> change_listener =
        netinfo::start_change_listener([changes] { changes->notice(); });
    if (!change_listener) changes.reset();
    auto status = std::make_shared<const netinfo::StatusSource>(token, std::move(changes));
    http::ServerContext context{std::move(*listener), http::SharedState{token, state, std::move(status)}};
    if (!platform::spawn_detached([context = std::move(context)]() mutable { http::run_server(std::move(context)); })) {
        platform::write_standard_error("[NerovaBridge] failed to spawn thread\n");
        return 1;
    }
    std::optional<LogPlace> log;
    if (paths.log_file) log = LogPlace{paths.data_folder, *paths.log_file};
    run_tray(std::move(state), std::move(log));
}

}  // namespace nerova
