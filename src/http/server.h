// The accept loop: each accepted connection is served on a thread of its own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http/shared_state.h"
#include "platform/net.h"

namespace nerova::http {

// How long a connection thread whose connection has ended waits for the next one before it ends.
inline constexpr std::chrono::milliseconds THREAD_LINGER{2000};

struct Connection {
    platform::Socket socket;
    SharedState shared;
};

// Where the accept loop hands a connection to a thread that has finished its last one. Creating
// a thread per connection cost more than serving it; reusing them keeps one connection per thread
// while it is served, and no limit on how many are served at once.
class ConnectionHandoff {
public:
    // Gives the connection to the thread that began waiting last (its memory is the warmest);
    // gives it back when no thread waits.
    std::optional<Connection> offer(Connection&& connection);
    // Waits up to `linger` for a connection to serve.
    std::optional<Connection> take(std::chrono::milliseconds linger);

private:
    // One waiting thread. Each has its own lock, so handing over a connection wakes exactly that
    // thread and nobody else contends for it.
    struct Waiter {
        std::mutex mutex;
        std::condition_variable offered;
        std::optional<Connection> connection;
    };

    std::mutex mutex_;
    std::vector<std::shared_ptr<Waiter>> waiting_;  // not yet given a connection, oldest first
};

struct ServerContext {
    platform::Socket listener;
    SharedState shared;
    std::shared_ptr<ConnectionHandoff> handoff = std::make_shared<ConnectionHandoff>();
};

// Starts a thread that serves the connection and then whatever the handoff brings it; false when
// no thread could be made (the connection is then closed unanswered).
using SpawnConnection = bool (*)(Connection connection, const std::shared_ptr<ConnectionHandoff>& handoff);
bool spawn_connection_thread(Connection connection, const std::shared_ptr<ConnectionHandoff>& handoff);

// Accepts one connection and hands it to a waiting thread or a new one. After a failed accept,
// or when no thread can be made (the connection is then closed unanswered), it pauses 50 ms so a
// persistent failure cannot spin.
void serve_one(const ServerContext& context, SpawnConnection spawn = spawn_connection_thread);

[[noreturn]] void run_server(ServerContext context);

}  // namespace nerova::http
