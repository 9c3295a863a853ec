// One computation of a kind in flight at a time: whoever asks while it runs shares its result,
// and nothing is kept once it ends (the next asker starts a new one).
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <mutex>

namespace nerova {

template <typename T>
class InFlight {
public:
    using Task = std::function<void()>;

    // The result of the computation in flight; when there is none, `work` becomes it, and
    // `launch` is given the task that runs it, to run once on a thread of its choosing, or to
    // throw without running it (memory running out while it makes the thread); the task then
    // runs on the caller's thread, so that no computation stays in flight that nothing will end.
    // A computation that throws, whatever it throws (memory running out, a thread it could not
    // start), gives every asker a default-made result rather than the exception: each asker only
    // answers one request or channel, and an empty result is what it gives for a failure anyway.
    // The exception itself is dropped; nothing here can report it.
    template <typename Work, typename Launch>
    std::shared_future<T> share(Work work, Launch launch) {
        auto promise = std::make_shared<std::promise<T>>();
        const std::shared_future<T> result = promise->get_future().share();
        // Made before it counts as in flight, so that running out of memory here leaves nothing.
        const Task task([this, promise, work] {
            T value{};
            try {
                value = work();
            } catch (...) {
            }
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                current_ = {};
            }
            promise->set_value(std::move(value));
        });
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (current_.valid()) return current_;
            current_ = result;
        }
        try {
            launch(task);
        } catch (...) {
            task();
        }
        return result;
    }

    // The result of a computation that begins after this call: one in flight may have begun on
    // what has changed since, so it is waited for, and the next one shared or started (still one
    // at a time).
    template <typename Work, typename Launch>
    std::shared_future<T> share_next(Work work, Launch launch) {
        std::shared_future<T> running;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            running = current_;
        }
        // It leaves the slot before its result is ready: whatever is in flight after this began later.
        if (running.valid()) running.wait();
        return share(std::move(work), std::move(launch));
    }

private:
    std::mutex mutex_;
    std::shared_future<T> current_;  // valid while a computation runs
};

}  // namespace nerova
