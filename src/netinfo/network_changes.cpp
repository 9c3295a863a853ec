#include "netinfo/network_changes.h"

#include "platform/system.h"

namespace nerova::netinfo {

void pacer_notice(RefreshPacer& pacer) { pacer.pending = true; }

std::optional<RefreshPacer::Clock::time_point> pacer_due(const RefreshPacer& pacer) {
    if (!pacer.pending) return std::nullopt;
    if (!pacer.last_started) return RefreshPacer::Clock::time_point::min();
    return *pacer.last_started + CHANGE_REFRESH_SPACING;
}

bool pacer_start(RefreshPacer& pacer, RefreshPacer::Clock::time_point now) {
    const auto due = pacer_due(pacer);
    if (!due || now < *due) return false;
    pacer.pending = false;
    pacer.last_started = now;
    return true;
}

NetworkChanges::NetworkChanges(Refresh refresh, Wanted wanted)
    : refresh_(std::move(refresh)), wanted_(std::move(wanted)), thread_([this] { run(); }) {}

NetworkChanges::~NetworkChanges() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    noticed_.notify_all();
    thread_.join();
    std::unique_lock<std::mutex> lock(mutex_);
    noticed_.wait(lock, [this] { return running_ == 0; });
}

void NetworkChanges::notice() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        pacer_notice(pacer_);
    }
    noticed_.notify_all();
}

NetworkSnapshot NetworkChanges::latest() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
}

void NetworkChanges::run_refresh(std::uint64_t number) {
    std::optional<NetworkSnapshot> snapshot;
    try {
        snapshot = refresh_();
    } catch (...) {
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        // A failed refresh tells the channels nothing, and one that ends after a later one (its
        // survey older) is not news.
        if (snapshot && number > published_) {
            published_ = number;
            latest_ = std::move(*snapshot);
            generation_.fetch_add(1);
        }
        --running_;
        // Under the lock: once running_ is 0 the destructor may end the condition variable.
        noticed_.notify_all();
    }
}

void NetworkChanges::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (stopping_) return;
        const auto due = pacer_due(pacer_);
        if (!due) {
            noticed_.wait(lock);
            continue;
        }
        if (!pacer_start(pacer_, RefreshPacer::Clock::now())) {
            noticed_.wait_until(lock, *due);
            continue;
        }
        // Nobody to tell: the next channel starts with a refresh of its own anyway.
        if (!wanted_()) continue;
        // Each refresh on a thread of its own, so a change during a slow one (the router takes
        // its time) gets a fresh survey at once. Where no thread can be had (memory running out
        // too), this one refreshes: nothing here may end the process.
        const std::uint64_t number = ++started_;
        ++running_;
        lock.unlock();
        if (!platform::spawn_detached([this, number] { run_refresh(number); })) run_refresh(number);
        lock.lock();
    }
}

}  // namespace nerova::netinfo
