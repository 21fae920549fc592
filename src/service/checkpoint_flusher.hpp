// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace ovk {

// Runs the download document's checkpoints on a thread of their own, each when it is due, so
// that a checkpoint follows the last save within the flush interval whether or not another save
// comes: a service that stalls, or a user who takes long over the next step, no longer keeps the
// saves before it in memory only. A flush on a busy disk takes long, and it never holds up the
// saves that follow. One checkpoint runs at a time; a newer one replaces one not yet begun.
class CheckpointFlusher {
  public:
    using Clock = std::chrono::steady_clock;
    // Why a flush failed: its errno, and whether the journal (rather than the document) failed.
    struct Failure {
        int errnum = 0;
        bool journal = false;
    };
    using Flush = std::function<Failure()>;

    CheckpointFlusher() = default;
    ~CheckpointFlusher();
    CheckpointFlusher(const CheckpointFlusher&) = delete;
    CheckpointFlusher& operator=(const CheckpointFlusher&) = delete;

    // Runs `flush` at `due` or, while another runs, once it has ended. Throws std::system_error
    // when no thread can be started; the caller then flushes itself.
    void schedule(Flush flush, Clock::time_point due);
    // The failure of a flush that has ended since the last look (errnum 0: none).
    Failure takeFailure();
    // Drops the flush not yet begun and waits for the one under way; its failure, if any.
    Failure finish();
    // When the last flush began, or the document was last known to be on disk.
    Clock::time_point lastStarted();
    void markFlushed(Clock::time_point when);

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Flush> pending_;
    Clock::time_point due_{};
    bool running_ = false;
    bool stopping_ = false;
    Failure failure_;
    Clock::time_point lastStarted_{};
    std::thread thread_;
};

}  // namespace ovk
