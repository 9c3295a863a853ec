// The accept loop: one detached thread per connection.
#pragma once

#include <memory>
#include <string>

#include "main/bridge_state.h"
#include "platform/net.h"

namespace nerova::http {

struct ServerContext {
    platform::Socket listener;
    std::shared_ptr<const std::string> token;
    std::shared_ptr<BridgeState> state;
};

struct Connection {
    platform::Socket socket;
    std::shared_ptr<const std::string> token;
    std::shared_ptr<BridgeState> state;
};

// Starts a thread that serves the connection, taking it over; false when no thread could be made.
using SpawnConnection = bool (*)(Connection& connection);
bool spawn_connection_thread(Connection& connection);

// Accepts one connection and hands it to a new thread. After a failed accept, or when no thread
// can be made (the connection is then closed unanswered), it pauses 50 ms so a persistent
// failure cannot spin.
void serve_one(const ServerContext& context, SpawnConnection spawn = spawn_connection_thread);

[[noreturn]] void run_server(ServerContext context);

}  // namespace nerova::http
