// SPDX-License-Identifier: MIT
#include "service/checkpoint_flusher.hpp"

#include <utility>

namespace ovk {

CheckpointFlusher::~CheckpointFlusher() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        pending_.reset();
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void CheckpointFlusher::schedule(Flush flush, Clock::time_point due) {
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
        pending_ = std::move(flush);
        due_ = due;
    }
    changed_.notify_all();
}

CheckpointFlusher::Failure CheckpointFlusher::takeFailure() {
    std::lock_guard lock(mutex_);
    return std::exchange(failure_, Failure{});
}

CheckpointFlusher::Failure CheckpointFlusher::finish() {
    std::unique_lock lock(mutex_);
    pending_.reset();
    changed_.wait(lock, [this] { return !running_; });
    return std::exchange(failure_, Failure{});
}

CheckpointFlusher::Clock::time_point CheckpointFlusher::lastStarted() {
    std::lock_guard lock(mutex_);
    return lastStarted_;
}

void CheckpointFlusher::markFlushed(Clock::time_point when) {
    std::lock_guard lock(mutex_);
    lastStarted_ = when;
}

void CheckpointFlusher::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!pending_) {
            changed_.wait(lock);
            continue;
        }
        if (Clock::now() < due_) {
            changed_.wait_until(lock, due_);
            continue;
        }
        Flush flush = std::move(*pending_);
        pending_.reset();
        running_ = true;
        lastStarted_ = Clock::now();
        lock.unlock();
        const Failure failed = flush();
        lock.lock();
        running_ = false;
        // The first failure is the one to tell; later ones follow from it.
        if (failure_.errnum == 0) failure_ = failed;
        changed_.notify_all();
    }
}

}  // namespace ovk
