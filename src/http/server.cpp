#include "http/server.h"

#include <algorithm>

#include "http/routes.h"
#include "platform/system.h"

namespace nerova::http {
namespace {

void serve(Connection connection) {
    // A failure inside one connection, such as memory running out, ends that connection only;
    // unwinding closes its socket and releases its live-channel count.
    try {
        handle_connection(std::move(connection.socket), connection.shared);
    } catch (...) {
    }
}

}  // namespace

std::optional<Connection> ConnectionHandoff::offer(Connection&& connection) {
    std::shared_ptr<Waiter> waiter;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_.empty()) return std::move(connection);
        waiter = std::move(waiting_.back());
        waiting_.pop_back();
    }
    {
        const std::lock_guard<std::mutex> lock(waiter->mutex);
        waiter->connection = std::move(connection);
    }
    waiter->offered.notify_one();
    return std::nullopt;
}

std::optional<Connection> ConnectionHandoff::take(std::chrono::milliseconds linger) {
    auto waiter = std::make_shared<Waiter>();
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        waiting_.push_back(waiter);
    }
    std::unique_lock<std::mutex> own(waiter->mutex);
    const auto offered = [&waiter] { return waiter->connection.has_value(); };
    if (!waiter->offered.wait_for(own, linger, offered)) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            const auto found = std::find(waiting_.begin(), waiting_.end(), waiter);
            if (found != waiting_.end()) {
                waiting_.erase(found);
                return std::nullopt;
            }
        }
        // An offer took this thread just as the wait ran out; its connection is on the way.
        waiter->offered.wait(own, offered);
    }
    return std::move(waiter->connection);
}

bool spawn_connection_thread(Connection connection, const std::shared_ptr<ConnectionHandoff>& handoff) {
    return platform::spawn_detached([connection = std::move(connection), handoff]() mutable {
        serve(std::move(connection));
        while (std::optional<Connection> next = handoff->take(THREAD_LINGER)) serve(std::move(*next));
    });
}

void serve_one(const ServerContext& context, SpawnConnection spawn) {
    int os_error = 0;
    std::optional<platform::Socket> accepted = context.listener.accept(os_error);
    if (!accepted) {
        platform::accept_backoff();
        return;
    }
    std::optional<Connection> unplaced = context.handoff->offer(Connection{std::move(*accepted), context.shared});
    if (!unplaced) return;
    if (!spawn(std::move(*unplaced), context.handoff)) platform::accept_backoff();
}

void run_server(ServerContext context) {
    for (;;) serve_one(context);
}

}  // namespace nerova::http
