#include "http/server.h"

#include "http/routes.h"
#include "platform/system.h"

namespace nerova::http {

bool spawn_connection_thread(Connection& connection) {
    return platform::spawn_detached([connection = std::move(connection)]() mutable {
        // A failure inside one connection, such as memory running out, ends that connection
        // only; unwinding closes its socket and releases its live-channel count.
        try {
            handle_connection(std::move(connection.socket), std::move(connection.token), std::move(connection.state));
        } catch (...) {
        }
    });
}

void serve_one(const ServerContext& context, SpawnConnection spawn) {
    int os_error = 0;
    std::optional<platform::Socket> accepted = context.listener.accept(os_error);
    if (!accepted) {
        platform::accept_backoff();
        return;
    }
    Connection connection{std::move(*accepted), context.token, context.state};
    if (!spawn(connection)) {
        connection.socket.close();
        platform::accept_backoff();
    }
}

void run_server(ServerContext context) {
    for (;;) serve_one(context);
}

}  // namespace nerova::http
